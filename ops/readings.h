// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Several readings of one stretch of target memory, each cut into block reads at
// another place, and the content they settle on. A loose cable or a marginal clock can
// fault the same clock of every reply: readings cut alike would agree on that fault,
// readings cut apart bring each byte at another place of a reply and cannot.
#include <cstdint>
#include <optional>
#include <vector>

namespace orbvex {

using Reading = std::vector<std::uint8_t>;

// How far below its start reading number `reading` (0 for the first) begins, for a DCU
// whose replies carry blockLength bytes: 0, then a half, a quarter, three quarters, an
// eighth... of a block, in whole words, so that no two readings cut alike.
std::uint32_t CutLead(std::size_t reading, std::uint32_t blockLength);

// How noisy the link has shown itself, for a read that measured it: the chance that
// one reading turned a given byte, over how many bytes the read settles, and the chance
// it accepts that some byte of them settled on a value the link made. With none, the
// vote alone decides.
struct LinkNoise {
    double turned = 0;
    double bytes = 0;
    double mostDoubt = 1;
    // Whether votes readings of the k agreeing on a value rule out that the link turned
    // them all alike: a noisy link needs a wider majority than a quiet one.
    bool Vouches(std::size_t k, std::size_t votes) const;
};

// The content the readings agree on, byte by byte, or nothing while a byte is in doubt.
// A byte needs the same value in more than half of the readings and in at least three:
// a fault that hit two readings at the same byte is still outvoted. Against a known
// content (expected: the file a verify compares with) the doubt is lopsided: two
// readings and a majority confirm the expected byte, while another value needs four
// readings and none that shows the expected one, so that link noise is never taken
// for a difference. A measured noise asks besides that the winning votes vouch for it.
std::optional<Reading> SettledContent(const std::vector<Reading>& readings, const std::uint8_t* expected = nullptr,
                                      const LinkNoise& noise = {});

// Byte by byte, the value most of the readings show (the first reading's on a tie):
// a guess that something else, a checksum, must confirm.
Reading MostCommonContent(const std::vector<Reading>& readings);

// Reads [start, start + length) again, each time cut at the next place, until the
// readings (at least one already) settle, at most maxRereads times. Nothing when they
// did not settle or the receiver stopped answering.
std::optional<Reading> ReadUntilSettled(std::uint32_t start, std::vector<Reading>& readings, std::uint32_t blockLength,
                                        int maxRereads, const std::uint8_t* expected = nullptr,
                                        const LinkNoise& noise = {});

}  // namespace orbvex

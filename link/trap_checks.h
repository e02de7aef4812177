// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/mailbox.h"

// What our own trap program offers beyond program and erase: it signs the mailbox at
// start, names the chip and checksums the flash. A program without the signature is
// driven as it always was.

namespace orbvex {

struct TrapAbilities {
    unsigned version = 0;
    std::uint32_t abilities = 0;  // mailbox::kCan... bits
    bool Can(std::uint32_t ability) const { return (abilities & ability) != 0; }
};

// The signature of the program whose mailbox is at TrapWptr; nothing when the words
// are missing, unreadable or fail their check.
std::optional<TrapAbilities> ReadTrapSignature();

// The outcome of a command that the host waits for while it does other work.
struct TrapAnswer {
    bool ok = false;
    std::string failure;  // what went wrong, when not ok
};

// Asks for the CRC-32 of [address, address + count) of the chip at flashBase. It runs
// on the target while the host goes on; FinishTrapChecksum waits for it.
bool StartTrapChecksum(std::uint32_t flashBase, std::uint32_t address, std::uint32_t count);
// Waits for the checksum started last (bounded by the bytes it covers) and reads it.
TrapAnswer FinishTrapChecksum(std::uint32_t count, std::uint32_t& crc);
// Reads the checksum's result word again, for when the link may have turned it.
bool ReadTrapChecksumWord(std::uint32_t& crc);
// Reads the answer of a checksum that is done and tells whether it is expected. A word
// that differs is read once more before it counts: it came over the link. False when
// it cannot be read.
bool TrapChecksumIs(std::uint32_t expected, bool& same);
// Waits for the checksum started last, then as TrapChecksumIs.
TrapAnswer FinishTrapChecksumAgainst(std::uint32_t count, std::uint32_t expected, bool& same);

// Erases every erase block that [address, address + count) overlaps (count 0: the one
// that holds address), waiting at most maxMs of the host's clock for all of them.
TrapAnswer TrapEraseSectors(std::uint32_t flashBase, std::uint32_t address, std::uint32_t count,
                            std::uint32_t maxMs);

// The identify answer, raw: mailbox::kIdentifySize bytes of the data buffer.
TrapAnswer TrapIdentify(std::uint32_t flashBase, std::vector<std::uint8_t>& answer);

}  // namespace orbvex

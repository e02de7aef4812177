// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Reads that the trap program vouches for: it checksums the flash on the target while
// the host reads the same bytes, so one pass and a word per block replace further
// passes, and a verify reads only the blocks whose checksums differ from the file's.
#include <cstdint>
#include <optional>
#include <vector>

#include "ops/window_services.h"

namespace orbvex {

inline constexpr std::uint32_t kChecksumBlock = 0x10000;  // bytes a checksum covers

// True when the program at TrapWptr signed its mailbox and can checksum the flash.
bool TrapCanChecksum();

enum class CheckedRead {
    Ok,
    Failed,          // after its log line
    CannotChecksum,  // the trap program cannot checksum this chip (it names none): nothing logged
};

// Reads [start, start + length) into image, each block checked against the target's
// checksum of it; a block that disagrees is read again, cut at other places, until the
// readings give content that matches. skipBlank: pages the trap program finds all 0xFF,
// when it can say, are not transferred; their block's checksum still covers them.
CheckedRead ReadCheckedByTrap(WindowServices& window, std::uint32_t flashBase, std::uint32_t start,
                              std::uint32_t length, std::vector<std::uint8_t>& image, bool skipBlank);
// The same checks for an image of [start, start + size) read before by other means: a
// block its checksum contradicts is read again as above.
CheckedRead CheckReadByTrap(WindowServices& window, std::uint32_t flashBase, std::uint32_t start,
                            std::vector<std::uint8_t>& image);

// The offsets of the blocks from start on whose checksum on the target differs from
// the file's, each named in the log; nothing, after its log line, when the target could
// not tell.
std::optional<std::vector<std::uint32_t>> BlocksDiffering(WindowServices& window, std::uint32_t flashBase,
                                                          std::uint32_t start, const std::vector<std::uint8_t>& file);

}  // namespace orbvex

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

// Reads [start, start + length) into image, each block checked against the target's
// checksum of it; a block that disagrees is read again, cut at other places, until the
// readings give content that matches. False, after its log line, when one never does or
// the receiver stops answering.
bool ReadCheckedByTrap(WindowServices& window, std::uint32_t flashBase, std::uint32_t start, std::uint32_t length,
                       std::vector<std::uint8_t>& image);

// The offsets of the blocks from start on whose checksum on the target differs from
// the file's, each named in the log; nothing, after its log line, when the target could
// not tell.
std::optional<std::vector<std::uint32_t>> BlocksDiffering(WindowServices& window, std::uint32_t flashBase,
                                                          std::uint32_t start, const std::vector<std::uint8_t>& file);

}  // namespace orbvex

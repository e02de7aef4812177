// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// An erase is believed only when the flash reads blank after it: a trap program that
// answers "done" without erasing, or a chip whose erase did not take, must not pass.
#include <cstdint>

#include "ops/chip_info.h"
#include "ops/window_services.h"

namespace orbvex {

// Whether [start, start + length) of the chip at flashBase holds only 0xFF, as the trap
// program's blank-page command finds it, exactly. False, after a line that names the
// first sector (of chip, when known; else the 4 KB page) that does not, or why the check
// failed. A trap program without the command cannot tell: that is said on stderr, and
// the erase stands unchecked (true).
bool ErasedAsAsked(WindowServices& window, std::uint32_t flashBase, std::uint32_t start, std::uint32_t length,
                   const ChipInfo* chip);

// Erases the span's blocks, all in one erase-sectors command, with a line on stderr
// first; the wait is bounded by the sum of the blocks' longest erase times. Then checks
// them as ErasedAsAsked does. False, after its line, when either fails.
bool EraseSpan(WindowServices& window, std::uint32_t flashBase, const ChipInfo& chip, const SectorSpan& span);

}  // namespace orbvex

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The flash chip as our trap program names it: what `info` shows, and the size an
// erase or a write compares with the one chosen.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ops/chip_table.h"
#include "ops/window_services.h"
#include "util/flash_map.h"

namespace orbvex {

struct ChipInfo {
    bool intel = false;  // the command set the trap drives: Intel/Sharp, else AMD/JEDEC
    std::uint32_t size = 0;
    std::uint32_t manufacturer = 0;
    std::uint32_t device = 0;
    bool cfi = false;                 // the chip answered the CFI query; the rest is from it
    std::uint32_t commandSet = 0;     // CFI primary command set
    std::vector<ChipRegion> regions;  // erase blocks, from the chip's start (the real map: a
                                      // top-boot table listed bottom-first is turned round)
    std::uint32_t programUs[2] = {};  // word program: typical, maximum
    std::uint32_t blockEraseMs[2] = {};
};

// The identify answer decoded; nothing when it cannot be the program's answer. A chip
// without CFI gets the map of the known part with its codes and size.
std::optional<ChipInfo> DecodeChipAnswer(const std::vector<std::uint8_t>& answer);
// The lines `info` prints for it.
std::vector<std::string> DescribeChip(const ChipInfo& chip);

// Asks the trap program, when it signs for identify, which chip is there; nothing when
// it cannot say (after a log line when it could have).
std::optional<ChipInfo> IdentifyChip(WindowServices& window, std::uint32_t flashBase);

// The erase blocks that [offset, offset + length) of the chip covers. aligned is false
// when the range does not start and end on block boundaries (or runs past the chip);
// below and above are then the boundaries around it.
struct SectorSpan {
    std::vector<ChipRegion> blocks;  // each block: its offset in the chip (blocks = offset), its size
    bool aligned = false;
    std::uint32_t below = 0, above = 0;
};
SectorSpan SectorsCovering(const ChipInfo& chip, std::uint32_t offset, std::uint32_t length);

// Erases the span's blocks one by one through the trap program, each wait bounded by
// the chip's longest block erase with a margin; a word on stderr per block. False,
// after its log line, at the first that fails.
bool EraseSectors(WindowServices& window, std::uint32_t flashBase, const ChipInfo& chip, const SectorSpan& span);

// An erase or a write of the whole flash on a chip of another size would leave part of
// it as it was (or brick the box): false, with the line naming both sizes, when the
// program names a chip whose size is not flash's. Without the program's word, true.
bool ChipSizeAgrees(WindowServices& window, FlashRange flash, const char* what);

}  // namespace orbvex

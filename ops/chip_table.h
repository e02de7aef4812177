// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The flash parts the tool knows by their identifier codes: name, size and block map,
// kept once for every use (the name info prints, the map of a chip whose CFI gives
// none, the check of the trap's own list of IDs).
#include <cstdint>
#include <string>
#include <vector>

namespace orbvex {

// A run of equal erase blocks.
struct ChipRegion {
    std::uint32_t blocks;
    std::uint32_t blockSize;
};

struct KnownChip {
    std::uint32_t manufacturer;
    std::uint32_t device;
    const char* name;
    std::uint32_t size;               // bytes
    std::vector<ChipRegion> regions;  // from the chip's start
};

// Every part, in the order of the makers' codes; a (maker, device) pair appears once.
const std::vector<KnownChip>& KnownChips();
// nullptr when no part has these codes.
const KnownChip* FindKnownChip(std::uint32_t manufacturer, std::uint32_t device);
// "AMD", "Intel", ... or "maker NN".
std::string MakerName(std::uint32_t code);

}  // namespace orbvex

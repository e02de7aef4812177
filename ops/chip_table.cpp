// SPDX-License-Identifier: GPL-2.0-or-later
#include "ops/chip_table.h"

#include <algorithm>

#include "link/link_log.h"

namespace orbvex {
namespace {

constexpr std::uint32_t kK = 1024;
constexpr std::uint32_t k1M = 0x100000;
constexpr std::uint32_t k2M = 0x200000;

// AMD-class boot blocks: 16K, 8K, 8K, 32K at the bottom, mirrored at the top; the rest 64K.
std::vector<ChipRegion> AmdMap(std::uint32_t size, bool top) {
    std::vector<ChipRegion> map{{1, 16 * kK}, {2, 8 * kK}, {1, 32 * kK}, {(size - 64 * kK) / (64 * kK), 64 * kK}};
    if (top) std::reverse(map.begin(), map.end());
    return map;
}

// Intel boot-block parts: eight 8K parameter blocks at the boot end, the rest 64K.
std::vector<ChipRegion> IntelMap(std::uint32_t size, bool top) {
    std::vector<ChipRegion> map{{8, 8 * kK}, {(size - 64 * kK) / (64 * kK), 64 * kK}};
    if (top) std::reverse(map.begin(), map.end());
    return map;
}

std::vector<KnownChip> Build() {
    return {
        {0x01, 0x225B, "29LV800B", k1M, AmdMap(k1M, false)},
        {0x01, 0x22DA, "29LV800T", k1M, AmdMap(k1M, true)},
        {0x01, 0x2249, "29LV160B", k2M, AmdMap(k2M, false)},
        {0x01, 0x22C4, "29LV160T", k2M, AmdMap(k2M, true)},
        // The virtual receiver's 64 KB part for quick sessions; no such chip is sold.
        {0x01, 0x2260, "Mini64B", 64 * kK, {{1, 2 * kK}, {2, kK}, {1, 4 * kK}, {7, 8 * kK}}},
        {0x04, 0x2249, "MBM29LV160BE", k2M, AmdMap(k2M, false)},
        {0x04, 0x22C4, "MBM29LV160TE", k2M, AmdMap(k2M, true)},
        {0x20, 0x22D7, "M29W800DT", k1M, AmdMap(k1M, true)},
        {0x20, 0x225B, "M29W800DB", k1M, AmdMap(k1M, false)},
        {0x20, 0x22C4, "M29W160ET", k2M, AmdMap(k2M, true)},
        {0x89, 0x8893, "28F800B3B", k1M, IntelMap(k1M, false)},
        {0x89, 0x8892, "28F800B3T", k1M, IntelMap(k1M, true)},
        {0x89, 0x8891, "28F160B3B", k2M, IntelMap(k2M, false)},
        {0x89, 0x8890, "28F160B3T", k2M, IntelMap(k2M, true)},
        {0x89, 0x88C3, "28F160C3B", k2M, IntelMap(k2M, false)},
        {0x89, 0x88C2, "28F160C3T", k2M, IntelMap(k2M, true)},
        {0xB0, 0x00D0, "LH28F160S3", k2M, {{32, 64 * kK}}},
        {0xBF, 0x2782, "SST39VF160", k2M, {{512, 4 * kK}}},
    };
}

}  // namespace

const std::vector<KnownChip>& KnownChips() {
    static const std::vector<KnownChip> chips = Build();
    return chips;
}

const KnownChip* FindKnownChip(std::uint32_t manufacturer, std::uint32_t device) {
    for (const KnownChip& chip : KnownChips())
        if (chip.manufacturer == manufacturer && chip.device == device) return &chip;
    return nullptr;
}

std::string MakerName(std::uint32_t code) {
    switch (code) {
    case 0x01: return "AMD";
    case 0x04: return "Fujitsu";
    case 0x20: return "ST";
    case 0x89: return "Intel";
    case 0xB0: return "Sharp";
    case 0xBF: return "SST";
    case 0xC2: return "Macronix";
    default: return "maker " + Hex8(code).substr(6);
    }
}

}  // namespace orbvex

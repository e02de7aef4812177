// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <vector>

namespace orbvex {

// Where two images first differ, and by how much.
struct Comparison {
    std::uint64_t differing = 0;  // count of differing bytes
    std::uint32_t firstOffset = 0;
    std::uint8_t flashByte = 0;
    std::uint8_t fileByte = 0;
};
// Compares the first min(size) bytes of both.
Comparison CompareImages(const std::vector<std::uint8_t>& flash, const std::vector<std::uint8_t>& file);

}  // namespace orbvex

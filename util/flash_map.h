// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace orbvex {

// Where the receiver's flash lies: directly below RAM at 0x80000000, 1 MB or 2 MB.
struct FlashRange {
    std::uint32_t base;
    std::uint32_t size;

    std::uint64_t End() const { return std::uint64_t{base} + size; }
    bool operator==(const FlashRange& other) const { return base == other.base && size == other.size; }
};

inline constexpr FlashRange kFlash1M{0x7FF00000, 0x100000};
inline constexpr FlashRange kFlash2M{0x7FE00000, 0x200000};

// "1M" or "2M" (either case); nothing for any other text.
std::optional<FlashRange> ParseFlashChoice(const std::string& text);

}  // namespace orbvex

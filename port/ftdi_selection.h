// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "util/result.h"

namespace orbvex {

// Which FTDI cable, and how fast, as the user writes it:
// [VID:PID][,serial=S][,interface=A|B|C|D][,freq=HZ], or "auto" for the one FTDI chip
// plugged in. VID and PID are hexadecimal (0403:6014); HZ is decimal with an optional
// k or M (freq=6M).
struct FtdiSelection {
    std::uint16_t vendor = 0, product = 0;  // 0: FTDI's own ids
    std::optional<std::string> serial;
    int interface = 1;                       // 1 to 4: A to D
    std::optional<std::uint32_t> frequency;  // TCK in Hz; the cable's default when not given

    char InterfaceLetter() const { return static_cast<char>('A' + interface - 1); }
};

// TCK limits the option accepts at all; each chip's own ceiling is checked when it is opened.
inline constexpr std::uint32_t kFtdiSlowestTck = 1000;
inline constexpr std::uint32_t kFtdiFastestTck = 30000000;

// The selection, or what is wrong with it.
Result<FtdiSelection> ParseFtdiSelection(const std::string& text);

}  // namespace orbvex

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>

namespace orbvex::cable {

// How the passive JTAG cable sits on the parallel port: four lines driven from the
// data register (LptBase), TDO read back on the status register (LptBase + 1).
// Bits 4 to 7 of the data register are always written as 0.
inline constexpr std::uint8_t kTms = 0x01;        // pin 2
inline constexpr std::uint8_t kTck = 0x02;        // pin 3
inline constexpr std::uint8_t kTdi = 0x04;        // pin 4
inline constexpr std::uint8_t kResetLine = 0x08;  // pin 5
inline constexpr std::uint8_t kTdoStatus = 0x10;  // pin 13, status register

}  // namespace orbvex::cable

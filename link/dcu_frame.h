// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>

// How bytes are framed on the DCU's data register. Windows hold the last three TDO
// samples, oldest in bit 2.
namespace orbvex::dcu {

inline constexpr unsigned kStartPattern = 0b011;  // the DCU begins a byte
inline constexpr unsigned kAckPattern = 0b010;    // the DCU took a byte (or is busy)
inline constexpr std::int32_t kAckWaitLimit = 64;
inline constexpr int kByteBits = 8;
// The data clock on which the host answers a received byte with TDI 1; the ones before
// it drive TDI 0, as the clocks of a start wait do.
inline constexpr int kReceiveAckBit = 4;

inline unsigned Shift(unsigned window, bool sample) {
    return ((window << 1) | (sample ? 1u : 0u)) & 7u;
}

}  // namespace orbvex::dcu

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstddef>
#include <cstdint>

namespace orbvex {

// The CRC-32 of zlib (reflected polynomial 0xEDB88320, initial and final complement),
// as the trap program computes it over the flash. crc carries on from an earlier part.
std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0);

}  // namespace orbvex

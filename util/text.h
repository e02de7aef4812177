// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <string>

namespace orbvex {

// The text in lower case (ASCII letters only: options and commands are ASCII).
std::string Lower(std::string text);

// A whole number in decimal or 0x-hexadecimal, nothing before or after it, no sign.
// False when the text is not such a number or the value exceeds limit.
bool ParseUnsigned(const std::string& text, std::uint64_t limit, std::uint64_t& value);

// As ParseUnsigned, with an optional K (1024) or M (1048576) suffix, up to 0xFFFFFFFF.
bool ParseSize(const std::string& text, std::uint32_t& value);

}  // namespace orbvex

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <string>

namespace orbvex::cables {

// "lpt1", "lpt2" or a base address ("0xD010", or decimal). False when it is none.
// (A ppdev device path is told apart before: it holds a slash.)
bool ParsePortChoice(const std::string& text, std::uint16_t& base);

}  // namespace orbvex::cables

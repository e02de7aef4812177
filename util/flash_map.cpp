// SPDX-License-Identifier: GPL-2.0-or-later
#include "util/flash_map.h"

#include "util/text.h"

namespace orbvex {

std::optional<FlashRange> ParseFlashChoice(const std::string& text) {
    const std::string word = Lower(text);
    if (word == "1m") return kFlash1M;
    if (word == "2m") return kFlash2M;
    return std::nullopt;
}

}  // namespace orbvex

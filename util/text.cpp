// SPDX-License-Identifier: GPL-2.0-or-later
#include "util/text.h"

#include <algorithm>

namespace orbvex {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return text;
}

bool ParseUnsigned(const std::string& text, std::uint64_t limit, std::uint64_t& value) {
    std::string digits = text;
    std::uint64_t base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits = digits.substr(2);
    }
    if (digits.empty()) return false;
    std::uint64_t result = 0;
    for (char c : digits) {
        std::uint64_t d;
        if (c >= '0' && c <= '9') d = static_cast<std::uint64_t>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f') d = static_cast<std::uint64_t>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F') d = static_cast<std::uint64_t>(c - 'A' + 10);
        else return false;
        // Checked before it is computed, so that no value wraps past the limit (nor does
        // the check itself when a single digit is already above it).
        if (d > limit || result > (limit - d) / base) return false;
        result = result * base + d;
    }
    value = result;
    return true;
}

bool ParseSize(const std::string& text, std::uint32_t& value) {
    std::string number = text;
    std::uint64_t scale = 1;
    if (!number.empty() && (number.back() == 'K' || number.back() == 'k')) scale = 1024;
    if (!number.empty() && (number.back() == 'M' || number.back() == 'm')) scale = 1024 * 1024;
    if (scale != 1) number.pop_back();
    std::uint64_t raw = 0;
    if (!ParseUnsigned(number, 0xFFFFFFFFull / scale, raw)) return false;
    value = static_cast<std::uint32_t>(raw * scale);
    return true;
}

}  // namespace orbvex

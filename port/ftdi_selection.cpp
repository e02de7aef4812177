// SPDX-License-Identifier: GPL-2.0-or-later
#include "port/ftdi_selection.h"

#include "util/text.h"

namespace orbvex {
namespace {

constexpr const char* kForm = "[VID:PID][,serial=S][,interface=A|B|C|D][,freq=HZ] or auto";

Failure Bad(const std::string& what) { return Failure(what + " (expected " + kForm + ")"); }

// Hexadecimal, with or without 0x, as lsusb shows the ids.
bool ParseHex16(std::string text, std::uint16_t& value) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text = text.substr(2);
    if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return false;
    value = static_cast<std::uint16_t>(std::stoul(text, nullptr, 16));
    return value != 0;
}

// Decimal Hz with an optional k (1000) or M (1000000).
bool ParseHertz(std::string text, std::uint32_t& hz) {
    std::uint64_t scale = 1;
    if (!text.empty() && (text.back() == 'k' || text.back() == 'K')) scale = 1000;
    if (!text.empty() && text.back() == 'M') scale = 1000000;
    if (scale != 1) text.pop_back();
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    std::uint64_t value = 0;
    if (!ParseUnsigned(text, kFtdiFastestTck, value)) return false;
    value *= scale;
    if (value < kFtdiSlowestTck || value > kFtdiFastestTck) return false;
    hz = static_cast<std::uint32_t>(value);
    return true;
}

}  // namespace

Result<FtdiSelection> ParseFtdiSelection(const std::string& text) {
    FtdiSelection selection;
    if (Lower(text) == "auto" || text.empty()) return selection;
    std::size_t start = 0;
    bool first = true;
    std::string seen;  // keys given so far, each between commas: ",serial,freq,"
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string item = text.substr(start, comma - start);
        start = comma + 1;
        const std::size_t equals = item.find('=');
        if (equals == std::string::npos) {
            const std::size_t colon = item.find(':');
            if (!first || colon == std::string::npos) return Bad("\"" + item + "\" is neither VID:PID nor KEY=VALUE");
            if (!ParseHex16(item.substr(0, colon), selection.vendor) || !ParseHex16(item.substr(colon + 1), selection.product))
                return Bad("\"" + item + "\" is not a USB id such as 0403:6014");
            first = false;
            continue;
        }
        first = false;
        const std::string key = Lower(item.substr(0, equals));
        const std::string value = item.substr(equals + 1);
        // The last of two would win unnoticed: a script that adds a key must not override one silently.
        if (seen.find("," + key + ",") != std::string::npos) return Bad(key + " is given twice");
        seen += "," + key + ",";
        if (key == "serial") {
            if (value.empty()) return Bad("serial= needs the cable's serial number");
            selection.serial = value;
        } else if (key == "interface") {
            const std::string letter = Lower(value);
            if (letter.size() != 1 || letter[0] < 'a' || letter[0] > 'd')
                return Bad("interface=" + value + " is not A, B, C or D");
            selection.interface = letter[0] - 'a' + 1;
        } else if (key == "freq") {
            std::uint32_t hz = 0;
            if (!ParseHertz(value, hz))
                return Bad("freq=" + value + " is not a TCK frequency from 1k to 30M Hz");
            selection.frequency = hz;
        } else {
            return Bad("unknown key \"" + item.substr(0, equals) + "\" (the keys are serial, interface and freq)");
        }
    }
    return selection;
}

}  // namespace orbvex

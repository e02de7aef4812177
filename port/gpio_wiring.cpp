// SPDX-License-Identifier: GPL-2.0-or-later
#include "port/gpio_wiring.h"

#include <array>

#include "util/text.h"

namespace orbvex {
namespace {

constexpr const char* kForm = "CHIP:tck=N,tms=N,tdi=N,tdo=N[,rst=N]";
// Line offsets are 32-bit in the kernel's interface; no chip has anywhere near as many.
constexpr std::uint64_t kLargestOffset = 0xFFFF;

struct Key {
    const char* name;
    bool required;
};
constexpr std::array<Key, 5> kKeys{{{"tck", true}, {"tms", true}, {"tdi", true}, {"tdo", true}, {"rst", false}}};

Failure Bad(const std::string& what) { return Failure(what + " (expected " + kForm + ")"); }

}  // namespace

Result<GpioWiring> ParseGpioWiring(const std::string& text) {
    // The keys hold no colon, so a chip label that does is kept whole.
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) return Bad("no chip before the lines");
    GpioWiring spec;
    spec.chip = text.substr(0, colon);
    if (spec.chip.empty()) return Bad("no chip before the lines");

    std::array<std::optional<unsigned>, kKeys.size()> lines;
    const std::string list = text.substr(colon + 1);
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string item = list.substr(start, comma - start);
        start = comma + 1;
        const std::size_t equals = item.find('=');
        if (equals == std::string::npos) return Bad("\"" + item + "\" is not KEY=N");
        const std::string key = Lower(item.substr(0, equals));
        std::size_t k = 0;
        while (k < kKeys.size() && key != kKeys[k].name) ++k;
        if (k == kKeys.size())
            return Bad("unknown line \"" + item.substr(0, equals) + "\" (the lines are tck, tms, tdi, tdo and rst)");
        if (lines[k]) return Bad(key + " is given twice");
        std::uint64_t value = 0;
        if (!ParseUnsigned(item.substr(equals + 1), kLargestOffset, value))
            return Bad(key + "=" + item.substr(equals + 1) + " is not a line number");
        for (std::size_t other = 0; other < kKeys.size(); ++other)
            if (lines[other] == value)
                return Bad("line " + std::to_string(value) + " is used for both " + kKeys[other].name + " and " + key);
        lines[k] = static_cast<unsigned>(value);
    }
    for (std::size_t k = 0; k < kKeys.size(); ++k)
        if (kKeys[k].required && !lines[k]) return Bad(std::string(kKeys[k].name) + " is missing");

    spec.tck = *lines[0];
    spec.tms = *lines[1];
    spec.tdi = *lines[2];
    spec.tdo = *lines[3];
    spec.rst = lines[4];
    return spec;
}

}  // namespace orbvex

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The cable table on a command line: one option per cable, at most one of them named.
#include <deque>
#include <memory>
#include <string>

#include "cables/cable.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace orbvex::cables {

class CableOptions {
public:
    // Declares every cable's option on app, which must outlive this object's use.
    explicit CableOptions(CLI::App& app);

    // After parsing. The option named, or null when none was.
    const CableType* Named() const;
    // The value given to the option named (empty for a flag or when none was named).
    std::string NamedValue() const;
    // The cable named (null when none was), or the refusal: two cables named, or a value
    // its cable cannot read.
    Result<std::unique_ptr<CableChoice>> Choose() const;

private:
    struct Entry {
        const CableType* type;
        CLI::Option* option = nullptr;
        std::string value;
        bool flag = false;
    };
    std::deque<Entry> entries_;  // CLI11 holds the addresses of the values
};

}  // namespace orbvex::cables

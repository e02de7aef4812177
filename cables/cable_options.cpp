// SPDX-License-Identifier: GPL-2.0-or-later
#include "cables/cable_options.h"

#include <CLI/CLI.hpp>

#include <vector>

namespace orbvex::cables {

CableOptions::CableOptions(CLI::App& app) {
    for (const CableType* type : CableTypes()) {
        Entry& e = entries_.emplace_back();
        e.type = type;
        if (type->syntax)
            e.option = app.add_option(type->option, e.value, type->help)->type_name(type->syntax);
        else
            e.option = app.add_flag(type->option, e.flag, type->help);
    }
}

const CableType* CableOptions::Named() const {
    for (const Entry& e : entries_)
        if (e.option->count()) return e.type;
    return nullptr;
}

std::string CableOptions::NamedValue() const {
    for (const Entry& e : entries_)
        if (e.option->count()) return e.value;
    return {};
}

Result<std::unique_ptr<CableChoice>> CableOptions::Choose() const {
    std::vector<const Entry*> named;
    for (const Entry& e : entries_)
        if (e.option->count()) named.push_back(&e);
    if (named.empty()) return std::unique_ptr<CableChoice>();
    if (named.size() > 1)
        return Failure(std::string(named[0]->type->option) + " and " + named[1]->type->option +
                       " exclude each other: a run drives one cable");
    Result<std::unique_ptr<CableChoice>> choice = named[0]->type->parse(named[0]->value);
    if (!choice) return Failure(std::string(named[0]->type->option) + ": " + choice.Error());
    return choice;
}

}  // namespace orbvex::cables

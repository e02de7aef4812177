// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/form_layout.h"

#include <algorithm>

namespace orbvex::app {
namespace {

bool SameParent(const ControlSpec& control, const char* parent) {
    if (!control.parent || !parent) return control.parent == parent;
    return std::string_view(control.parent) == parent;
}

void AppendTabChain(const char* parent, std::vector<const ControlSpec*>& chain) {
    std::vector<const ControlSpec*> level;
    for (const ControlSpec& control : kControls) {
        if (control.tab != kNoTab && SameParent(control, parent)) level.push_back(&control);
    }
    std::stable_sort(level.begin(), level.end(), [](const ControlSpec* a, const ControlSpec* b) { return a->tab < b->tab; });
    for (const ControlSpec* control : level) {
        chain.push_back(control);
        AppendTabChain(control->name, chain);
    }
}

}  // namespace

const ControlSpec* FindControl(std::string_view name) {
    for (const ControlSpec& control : kControls) {
        if (name == control.name) return &control;
    }
    return nullptr;
}

FontSpec EffectiveFont(const ControlSpec& control) {
    for (const ControlSpec* at = &control; at; at = at->parent ? FindControl(at->parent) : nullptr) {
        if (at->font.face) return at->font;
    }
    return kWindow.font;
}

std::vector<const ControlSpec*> TabChain() {
    std::vector<const ControlSpec*> chain;
    AppendTabChain(nullptr, chain);
    return chain;
}

}  // namespace orbvex::app

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The window's controls as Win32 windows, made from the window's description: each
// of the system's own control classes, placed, captioned, given its font, stacked,
// and the keyboard moving between them in the description's tab order.
#include <windows.h>

#include <string_view>
#include <utility>
#include <vector>

#include "app/form_layout.h"

namespace orbvex::win32 {

class FormControls {
public:
    FormControls() = default;
    ~FormControls();
    FormControls(const FormControls&) = delete;
    FormControls& operator=(const FormControls&) = delete;

    // Makes every control of the description inside form and gives form the window font.
    void Create(HWND form);
    HWND Find(std::string_view name) const;
    // The window's own font ("MS Sans Serif", 11 pixels).
    HFONT WindowFont() const { return windowFont_; }

    // The first control the Tab key stops at.
    HWND FirstTabStop() const;
    // Tab and Shift+Tab move through the tab order, the arrow keys within a radio pair
    // (checking the one they reach). True when the key was one of those.
    bool HandleKey(HWND focus, WPARAM key) const;

private:
    HFONT FontFor(const app::FontSpec& spec);
    bool IsTabStop(const app::ControlSpec& spec, HWND control) const;

    std::vector<std::pair<const app::ControlSpec*, HWND>> controls_;
    std::vector<std::pair<app::FontSpec, HFONT>> fonts_;
    HFONT windowFont_ = nullptr;
};

// Paints the bevel: the rule across the window. The window calls it on WM_DRAWITEM.
void DrawBevel(const DRAWITEMSTRUCT& item);

}  // namespace orbvex::win32

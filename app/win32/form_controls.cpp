// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/win32/form_controls.h"

#include <commctrl.h>

#include <cstring>

namespace orbvex::win32 {
namespace {

using app::ControlKind;
using app::ControlSpec;

constexpr int kFirstControlId = 100;

struct WindowClass {
    const char* name;
    DWORD style;
    DWORD exStyle;
};

// The system's control class and styles for a control of the description.
WindowClass ClassFor(const ControlSpec& spec) {
    const DWORD tabStop = (spec.flags & app::kTabStop) ? WS_TABSTOP : 0;
    switch (spec.kind) {
    case ControlKind::Image:  // holds no picture: its drawing is left to the window, which draws nothing
    case ControlKind::Bevel: return {"Static", SS_OWNERDRAW, 0};
    case ControlKind::Label:
        return {"Static", DWORD((spec.flags & app::kWordWrap) ? SS_LEFT : SS_LEFTNOWORDWRAP) | SS_NOPREFIX, 0};
    case ControlKind::GroupBox: return {"Button", DWORD(BS_GROUPBOX) | ((spec.flags & app::kFlat) ? BS_FLAT : 0), 0};
    case ControlKind::RadioButton: return {"Button", DWORD(BS_AUTORADIOBUTTON) | tabStop, 0};
    case ControlKind::PushButton: return {"Button", DWORD(BS_PUSHBUTTON) | tabStop, 0};
    case ControlKind::Memo: {
        // Lines wrap at the pane's width because it never scrolls sideways.
        DWORD style = ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | tabStop;
        if (spec.flags & app::kVerticalScrollBar) style |= WS_VSCROLL;
        if (!(spec.flags & app::kWordWrap)) style |= ES_AUTOHSCROLL | WS_HSCROLL;
        const bool flat = (spec.flags & app::kFlat) != 0;
        return {"Edit", style | (flat ? WS_BORDER : 0), flat ? 0u : DWORD(WS_EX_CLIENTEDGE)};
    }
    case ControlKind::ProgressBar: return {PROGRESS_CLASSA, 0, 0};
    case ControlKind::OpenDialog:
    case ControlKind::SaveDialog: break;
    }
    return {nullptr, 0, 0};
}

// A group box hands what its controls tell their parent (clicks, colours, drawing) on to
// the window, as if they sat on the window itself.
LRESULT CALLBACK ForwardToForm(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR form) {
    switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_DRAWITEM:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT: return SendMessageA(reinterpret_cast<HWND>(form), message, wParam, lParam);
    default: return DefSubclassProc(hwnd, message, wParam, lParam);
    }
}

bool SameFont(const app::FontSpec& a, const app::FontSpec& b) {
    return std::strcmp(a.face, b.face) == 0 && a.pixels == b.pixels && a.bold == b.bold && a.ansiCharset == b.ansiCharset;
}

bool IsRadio(const ControlSpec& spec) { return spec.kind == ControlKind::RadioButton; }

// A word-wrapped label keeps its width and grows downwards until its text fits, so the
// banner shows whole over the empty picture area.
void FitHeightToText(HWND label, const ControlSpec& spec, HFONT font) {
    HDC dc = GetDC(label);
    HGDIOBJ previous = SelectObject(dc, font);
    RECT needed{0, 0, spec.width, 0};
    DrawTextA(dc, spec.caption, -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, previous);
    ReleaseDC(label, dc);
    if (needed.bottom > spec.height) {
        SetWindowPos(label, nullptr, 0, 0, spec.width, needed.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

}  // namespace

FormControls::~FormControls() {
    for (auto& [spec, font] : fonts_) DeleteObject(font);
}

HFONT FormControls::FontFor(const app::FontSpec& spec) {
    for (auto& [known, font] : fonts_) {
        if (SameFont(known, spec)) return font;
    }
    // A negative height asks for the character height, as the layout gives it. The
    // pitch and family hints choose the stand-in where the face itself is missing.
    const BYTE pitch = app::IsFixedPitch(spec) ? FIXED_PITCH | FF_MODERN : DEFAULT_PITCH | FF_DONTCARE;
    HFONT font = CreateFontA(-spec.pixels, 0, 0, 0, spec.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                             spec.ansiCharset ? ANSI_CHARSET : DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, pitch, spec.face);
    fonts_.emplace_back(spec, font);
    return font;
}

void FormControls::Create(HWND form) {
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(form, GWLP_HINSTANCE));
    windowFont_ = FontFor(app::kWindow.font);
    int id = kFirstControlId;
    for (const ControlSpec& spec : app::kControls) {
        const WindowClass cls = ClassFor(spec);
        if (!cls.name) continue;
        HWND parent = spec.parent ? Find(spec.parent) : form;
        HWND control = CreateWindowExA(cls.exStyle, cls.name, spec.caption, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | cls.style,
                                       spec.left, spec.top, spec.width, spec.height, parent,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(id++)), instance, nullptr);
        // Each control goes over the ones made before it: the description lists them
        // bottom to top.
        SetWindowPos(control, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        HFONT font = FontFor(app::EffectiveFont(spec));
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        if (spec.kind == ControlKind::Label && (spec.flags & app::kWordWrap)) FitHeightToText(control, spec, font);
        if (spec.kind == ControlKind::GroupBox) SetWindowSubclass(control, ForwardToForm, 0, reinterpret_cast<DWORD_PTR>(form));
        if (IsRadio(spec)) SendMessageA(control, BM_SETCHECK, (spec.flags & app::kChecked) ? BST_CHECKED : BST_UNCHECKED, 0);
        if (spec.kind == ControlKind::Memo) SendMessageA(control, EM_SETLIMITTEXT, 0, 0);  // the log may grow long
        if (spec.kind == ControlKind::ProgressBar) SendMessageA(control, PBM_SETRANGE32, 0, app::kProgressMaximumAtStart);
        controls_.emplace_back(&spec, control);
    }
}

HWND FormControls::Find(std::string_view name) const {
    for (const auto& [spec, control] : controls_) {
        if (name == spec->name) return control;
    }
    return nullptr;
}

bool FormControls::IsTabStop(const ControlSpec& spec, HWND control) const {
    if (!control || !IsWindowVisible(control) || !IsWindowEnabled(control)) return false;
    // Of a radio pair the Tab key stops at the checked one, whichever that is now.
    if (IsRadio(spec)) return SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
    return (spec.flags & app::kTabStop) != 0;
}

HWND FormControls::FirstTabStop() const {
    for (const ControlSpec* spec : app::TabChain()) {
        if (IsTabStop(*spec, Find(spec->name))) return Find(spec->name);
    }
    return nullptr;
}

bool FormControls::HandleKey(HWND focus, WPARAM key) const {
    const std::vector<const ControlSpec*> chain = app::TabChain();
    const int count = static_cast<int>(chain.size());
    int at = -1;
    for (int i = 0; i < count; ++i) {
        if (Find(chain[i]->name) == focus) at = i;
    }
    if (key == VK_TAB) {
        const int step = GetKeyState(VK_SHIFT) < 0 ? count - 1 : 1;
        for (int n = 1, i = at; n <= count; ++n) {
            i = (i + step + count) % count;
            if (IsTabStop(*chain[i], Find(chain[i]->name))) {
                SetFocus(Find(chain[i]->name));
                break;
            }
        }
        return true;
    }
    const bool back = key == VK_LEFT || key == VK_UP;
    if ((!back && key != VK_RIGHT && key != VK_DOWN) || at < 0 || !IsRadio(*chain[at])) return false;
    // The next radio button of the same group, round to the first.
    for (int n = 1; n < count; ++n) {
        const ControlSpec& other = *chain[(at + (back ? count - n : n)) % count];
        if (IsRadio(other) && std::strcmp(other.parent, chain[at]->parent) == 0) {
            HWND radio = Find(other.name);
            SetFocus(radio);
            SendMessageA(radio, BM_CLICK, 0, 0);
            break;
        }
    }
    return true;
}

void DrawBevel(const DRAWITEMSTRUCT& item) {
    // The bevel: a lowered edge on its last two rows, the shadow over the highlight.
    RECT area = item.rcItem;
    FillRect(item.hDC, &area, GetSysColorBrush(COLOR_BTNFACE));
    RECT line = area;
    line.top = area.bottom - 2;
    line.bottom = area.bottom - 1;
    FillRect(item.hDC, &line, GetSysColorBrush(COLOR_BTNSHADOW));
    line.top = area.bottom - 1;
    line.bottom = area.bottom;
    FillRect(item.hDC, &line, GetSysColorBrush(COLOR_BTNHIGHLIGHT));
}

}  // namespace orbvex::win32

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The window as data: its own properties and every control, with what each toolkit's
// window is built from (Qt on Linux, Win32 on Windows), so that the two cannot drift
// apart. Nothing here knows a toolkit; each builder keeps only what is its own (its
// widget classes, how it draws a flat frame, how it moves the focus).
#include <string_view>
#include <vector>

namespace orbvex::app {

// A font by face, character height in pixels (at 96 dpi) and weight. A control whose
// font has no face inherits its parent's.
struct FontSpec {
    const char* face;
    int pixels;
    bool bold;
    bool ansiCharset;  // else the system's default character set
};

struct WindowSpec {
    const char* caption;           // the title bar
    const char* applicationTitle;  // the task-bar button; one version behind the caption, as it always was
    int clientWidth;
    int clientHeight;
    FontSpec font;
    const char* errorBoxCaption;
};

inline constexpr WindowSpec kWindow{"TARNO_UP 2.2", "orbvex_up 2.1", 563, 583, {"MS Sans Serif", 11, false, false}, "Error"};

inline constexpr const char* kBanner = "Tarno Nimbex II satellite receiver JTAG utility     [www.orbvex.example]";

enum class ControlKind { Image,
                         Bevel,
                         Label,
                         GroupBox,
                         RadioButton,
                         PushButton,
                         Memo,
                         ProgressBar,
                         OpenDialog,
                         SaveDialog };

// What a control is or does beyond its place, caption and font.
enum ControlFlag : unsigned {
    kChecked = 1u << 0,         // a radio button checked at start
    kTabStop = 1u << 1,         // the Tab key stops here (of a radio pair, only the checked one)
    kWordWrap = 1u << 2,        // long lines wrap at the control's width
    kFlat = 1u << 3,            // one plain line for a border, no 3-D edge
    kBottomEdgeOnly = 1u << 4,  // a bevel drawn as its bottom edge only: a rule across the window
    kButtonFace = 1u << 5,      // filled with the system's button-face colour
    kVerticalScrollBar = 1u << 6,
    kNotVisible = 1u << 7,  // a dialog: no window until it runs
};

// The one fixed-pitch face of the window. Where it is missing, each toolkit asks for
// another fixed-pitch face, so that the log's columns and the address digits keep
// their width and the captions their length.
inline constexpr const char* kFixedPitchFace = "Courier New";
inline bool IsFixedPitch(const FontSpec& font) {
    return font.face && std::string_view(font.face) == kFixedPitchFace;
}

inline constexpr int kNoTab = -1;
inline constexpr int kProgressMaximumAtStart = 100;

struct ControlSpec {
    const char* name;
    ControlKind kind;
    const char* parent;  // nullptr: the window itself
    int left, top, width, height;
    const char* caption;
    FontSpec font;
    int tab;  // place in its parent's tab order, or kNoTab
    unsigned flags;
};

namespace layout_detail {
inline constexpr FontSpec kInherited{nullptr, 0, false, false};
inline constexpr FontSpec kCourier12{kFixedPitchFace, 12, false, true};
}  // namespace layout_detail

// Window children are listed bottom to top: the order in which they are stacked, so
// that the banner lies over the (empty) picture and START over its group's frame.
// A group's controls follow it. Coordinates are in the parent's client area.
inline constexpr ControlSpec kControls[] = {
    // clang-format off
    {"Image1", ControlKind::Image, nullptr, 7, -1, 550, 165, "", layout_detail::kInherited, kNoTab, 0},
    {"Bevel1", ControlKind::Bevel, nullptr, 7, 208, 553, 9, "", layout_detail::kInherited, kNoTab, kBottomEdgeOnly},
    {"Label2", ControlKind::Label, nullptr, 98, 28, 438, 28, kBanner, {"Arial", 24, true, false}, kNoTab, kWordWrap},
    {"GroupBox4", ControlKind::GroupBox, nullptr, 414, 218, 139, 40, "  3  -  Connection  ", layout_detail::kInherited, 4, kFlat},
    {"GroupBox1", ControlKind::GroupBox, nullptr, 7, 218, 267, 40, " 1 - Adr Flash ", layout_detail::kCourier12, 0, kFlat},
    {"F1", ControlKind::RadioButton, "GroupBox1", 15, 16, 113, 17, "1MB(7FF00000)", layout_detail::kCourier12, 0, kChecked | kTabStop},
    {"F2", ControlKind::RadioButton, "GroupBox1", 142, 16, 113, 17, "2MB(7FE00000)", layout_detail::kCourier12, 1, 0},
    {"GroupBox2", ControlKind::GroupBox, nullptr, 286, 218, 124, 40, " 2 - LPT Port ", layout_detail::kCourier12, 1, kFlat},
    {"L1", ControlKind::RadioButton, "GroupBox2", 12, 16, 50, 17, "LPT1", layout_detail::kInherited, 0, kChecked | kTabStop},
    {"L2", ControlKind::RadioButton, "GroupBox2", 67, 16, 49, 17, "LPT2", layout_detail::kInherited, 1, 0},
    {"GroupBox3", ControlKind::GroupBox, nullptr, 7, 269, 462, 46, " 4 - Flash operations (connection required first)", layout_detail::kCourier12, 2, kFlat},
    {"Label1", ControlKind::Label, "GroupBox3", 271, 20, 104, 23, "00000000", {kFixedPitchFace, 21, true, true}, kNoTab, kButtonFace},
    {"Button6", ControlKind::PushButton, "GroupBox3", 8, 23, 75, 17, "Erase", layout_detail::kInherited, 0, kTabStop},
    {"Button7", ControlKind::PushButton, "GroupBox3", 88, 23, 75, 17, "Write", layout_detail::kInherited, 1, kTabStop},
    {"Button2", ControlKind::PushButton, "GroupBox3", 176, 23, 75, 17, "Abort", layout_detail::kInherited, 3, kTabStop},
    {"Button8", ControlKind::PushButton, "GroupBox3", 392, 23, 60, 17, "Read", layout_detail::kInherited, 2, kTabStop},
    {"Button5", ControlKind::PushButton, nullptr, 427, 235, 113, 17, "START", layout_detail::kInherited, 3, kTabStop},
    {"Button1", ControlKind::PushButton, nullptr, 481, 292, 65, 17, "Exit", layout_detail::kInherited, 5, kTabStop},
    {"Memo1", ControlKind::Memo, nullptr, 7, 328, 550, 225, "", {kFixedPitchFace, 15, true, true}, 6, kTabStop | kWordWrap | kFlat | kVerticalScrollBar},
    {"ProgressBar1", ControlKind::ProgressBar, nullptr, 9, 561, 547, 16, "", layout_detail::kInherited, 7, 0},
    {"OpenDialog1", ControlKind::OpenDialog, nullptr, 0, 0, 0, 0, "", layout_detail::kInherited, kNoTab, kNotVisible},
    {"SaveDialog1", ControlKind::SaveDialog, nullptr, 0, 0, 0, 0, "", layout_detail::kInherited, kNoTab, kNotVisible},
    // clang-format on
};

}  // namespace orbvex::app

namespace orbvex::app {

// The control of that name, or nullptr.
const ControlSpec* FindControl(std::string_view name);

// The font the control is drawn in: its own, else its parent's, else the window's.
FontSpec EffectiveFont(const ControlSpec& control);

// Every control with a place in a tab order, in the order the Tab key walks them:
// the window's controls by their tab places, each group's own controls right after
// the group, by theirs.
std::vector<const ControlSpec*> TabChain();

}  // namespace orbvex::app

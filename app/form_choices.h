// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What the window's choices stand for, whatever toolkit draws it: the port and flash
// each radio button picks, and how the two file dialogs are set up.
#include <cstdint>

#include "util/flash_map.h"

namespace orbvex::app {

struct FileDialogSetup {
    const char* filter;      // pairs of description and patterns, all joined by '|'
    const char* defaultExt;  // added to a typed name that has none; the folder is the program's
};
inline constexpr FileDialogSetup kRomDialog{"ROM files (*.rom)|*.rom|All files (*.*)|*.*", "rom"};
inline constexpr FileDialogSetup kBinDialog{"BIN files (*.bin)|*.bin|All files (*.*)|*.*", "bin"};

// L1 checked: LPT1; then, as a separate test, L2 checked: LPT2; neither: current.
std::uint16_t PortFromButtons(bool l1, bool l2, std::uint16_t current);
// F1: 1 MB at 0x7FF00000; then, as a separate test, F2: 2 MB at 0x7FE00000.
FlashRange FlashFromButtons(bool f1, bool f2);

}  // namespace orbvex::app

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

class TForm1;

#include <cstdint>
#include <string>

#include "app/window_cable.h"

namespace orbvex::app {

// Names the application and gives the Windows font names their nearest local faces.
// Call once, after the QApplication exists and before the window is created.
void InitApplication();

// Places the window in the middle of its screen.
void CenterOnScreen(TForm1& window);

// A cable named on the command line decides the port: the LPT1/LPT2 choice shows it
// (neither button for another base, which the operations then keep) and is greyed.
void FixPortChoice(TForm1& window, std::uint16_t base);

// The whole program: opens the cable its command line names (a refusal or a cable that
// cannot be reached goes to stderr and ends it), creates the window over it, shows it
// and runs the message loop until it closes, then gives the cable back. Returns the
// program's exit status.
int RunWindowProgram(const WindowProgram& program, int argc, char** argv);

}  // namespace orbvex::app

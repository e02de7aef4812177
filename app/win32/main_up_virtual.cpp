// SPDX-License-Identifier: GPL-2.0-or-later
// The same window with the virtual receiver on the other end of the cable, or with the
// cable its command line names; either way START loads the same
// trap.bin as on a real receiver, which the virtual receiver's CPU runs.
#include <windows.h>

#include <cstdlib>

#include "app/win32/window_program.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return orbvex::win32::RunWindowProgram(orbvex::app::kVirtualProgram, __argc, __argv);
}

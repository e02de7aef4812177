// SPDX-License-Identifier: GPL-2.0-or-later
// The window on the real parallel port (through the port-permission driver on the NT
// family, directly on 95/98/ME), or on the cable its command line names.
#include <windows.h>

#include <cstdlib>

#include "app/win32/window_program.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return orbvex::win32::RunWindowProgram(orbvex::app::kPortProgram, __argc, __argv);
}

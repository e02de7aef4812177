// SPDX-License-Identifier: GPL-2.0-or-later
// The window on the real parallel port, or on the cable its command line names.
#include "app/window_program.h"

int main(int argc, char** argv) { return orbvex::app::RunWindowProgram(orbvex::app::kPortProgram, argc, argv); }

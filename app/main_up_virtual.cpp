// SPDX-License-Identifier: GPL-2.0-or-later
// The same window with the virtual receiver on the other end of the cable, or with the
// cable its command line names (an orbvex_receiver, say); either way START loads the
// same trap.bin as on a real receiver, which the virtual receiver's CPU runs.
#include "app/window_program.h"

int main(int argc, char** argv) { return orbvex::app::RunWindowProgram(orbvex::app::kVirtualProgram, argc, argv); }

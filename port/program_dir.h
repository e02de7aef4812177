// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <string>

namespace orbvex {

// The folder of the running executable, with its trailing separator. The program's
// fixed files (trap.bin, the driver) lie there, and the file dialogs open there.
std::string ProgramDirectory();

// The user's home folder ($HOME; %USERPROFILE% on Windows), with its trailing
// separator; empty when the environment does not say.
std::string HomeDirectory();

// Puts another folder in its place (tests, and front ends told where to look).
// An empty string goes back to the executable's folder.
void SetProgramDirectory(const std::string& dir);

// Where a file the program looks for by name (trap.bin, the virtual receiver's image)
// is found: beside the program, so that a copy there always wins; else in the user's
// data folder ($XDG_DATA_HOME, or ~/.local/share, then orbvex_up/), where the user of an
// installed package puts trap.bin; else in the data folder ../share/orbvex_up/ from the
// program's folder, where a package installs its own files. The first folder holding
// the name (whatever it is) is the one; when none does, the path beside the program,
// so that a failure names the usual place.
std::string FindProgramFile(const std::string& name);

}  // namespace orbvex

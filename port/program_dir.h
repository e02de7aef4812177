#pragma once
#include <string>

namespace orbvex {

// The folder of the running executable, with its trailing separator. The program's
// fixed files (trap.bin, the driver) lie there, and the file dialogs open there.
std::string ProgramDirectory();

// Puts another folder in its place (tests, and front ends told where to look).
// An empty string goes back to the executable's folder.
void SetProgramDirectory(const std::string& dir);

}  // namespace orbvex

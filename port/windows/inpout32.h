// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <string>
#include <vector>

#include "port/lpt.h"

namespace orbvex {

// Where inpout32.dll is looked for, in this order: beside the program, then in the
// system's folder (where an installed copy lives; a 32-bit program on 64-bit Windows
// is shown SysWOW64 there). Full paths only: the current folder is never searched.
std::vector<std::string> InpOut32Places();

// Loads the first inpout32.dll of places and checks that its driver is open. The
// library's calls are looked up once here; each port access is then one call through
// a pointer.
PortLibrary LoadInpOut32(const std::vector<std::string>& places);

}  // namespace orbvex

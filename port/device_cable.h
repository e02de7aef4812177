// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <string>

#include "port/losable_cable.h"

namespace orbvex {

// "permission denied (EACCES)": the system's words for an errno value and its name.
std::string ErrnoText(int error);

}  // namespace orbvex

// SPDX-License-Identifier: GPL-2.0-or-later
// Abort: only raises the flag; Write looks at it at its fixed points.
#include "ops/operations.h"

namespace orbvex {

void RunAbort(WindowServices& window) {
    AbortRequested = true;
    window.ProcessMessages();
}

}  // namespace orbvex

// Stand-ins until the operation sequences land; each refuses and reports failure.
#include "ops/operations.h"

namespace orbvex {
bool RunStart(WindowServices&) { return false; }
bool RunErase(WindowServices&) { return false; }
bool RunWrite(WindowServices&) { return false; }
bool RunRead(WindowServices&) { return false; }
void RunAbort(WindowServices& window) {
    AbortRequested = true;
    window.ProcessMessages();
}
}  // namespace orbvex

#include "ops/operations.h"

bool AbortRequested = false;

namespace orbvex {
std::string TrapFileName = "trap.bin";
}

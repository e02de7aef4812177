#include "port/kqportio.h"

std::uint16_t LptBase = 0x378;
bool PortAvailable = false;

namespace orbvex {
PortBackend* PortHook = nullptr;
}

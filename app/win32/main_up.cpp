// The window on the real parallel port: through the port-permission driver on the NT
// family, directly on 95/98/ME.
#include <windows.h>

#include "app/win32/window_program.h"
#include "port/port_access.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    std::unique_ptr<orbvex::PortAccess> portAccess = orbvex::MakeHardwarePortAccess();
    return orbvex::win32::RunWindowProgram(*portAccess, nullptr, "trap.bin");
}

// The same window with the virtual receiver on the other end of the cable.
#include <windows.h>

#include "app/win32/window_program.h"
#include "port/port_access.h"
#include "sim/virtual_receiver.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // The receiver outlives the window: closing the window releases the cable on it.
    orbvex::sim::VirtualReceiver receiver;
    std::unique_ptr<orbvex::PortAccess> portAccess = orbvex::MakeUnrestrictedPortAccess();
    // The receiver's CPU runs whatever trap the host loads: the same trap.bin as on a real one.
    return orbvex::win32::RunWindowProgram(*portAccess, &receiver, "trap.bin");
}

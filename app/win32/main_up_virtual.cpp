// The same window with the virtual receiver on the other end of the cable.
#include <windows.h>

#include "app/win32/window_program.h"
#include "port/port_access.h"
#include "port/program_dir.h"
#include "sim/virtual_receiver.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // The receiver outlives the window: closing the window releases the cable on it.
    orbvex::sim::VirtualReceiver receiver;
    std::unique_ptr<orbvex::PortAccess> portAccess = orbvex::MakeUnrestrictedPortAccess();
    // The virtual programs, and only they, load the receiver's own trap image.
    return orbvex::win32::RunWindowProgram(*portAccess, &receiver,
                                           orbvex::FindProgramFile(orbvex::sim::kVirtualTrapImageName));
}

// The same window with the virtual receiver on the other end of the cable.
#include <QApplication>

#include "app/window_program.h"
#include "port/port_access.h"
#include "sim/virtual_receiver.h"
#include "util/image_file.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    orbvex::app::InitApplication();
    orbvex::IgnoreFileSizeSignal();

    // The receiver outlives the window: closing the window releases the cable on it.
    orbvex::sim::VirtualReceiver receiver;
    std::unique_ptr<orbvex::PortAccess> portAccess = orbvex::MakeUnrestrictedPortAccess();
    // The receiver's CPU runs whatever trap the host loads: the same trap.bin as on a real one.
    return orbvex::app::RunWindowProgram(*portAccess, &receiver, "trap.bin");
}

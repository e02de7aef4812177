// The same window with the virtual receiver on the other end of the cable.
#include <QApplication>

#include "app/window_program.h"
#include "ops/operations.h"
#include "port/kqportio.h"
#include "port/port_access.h"
#include "port/program_dir.h"
#include "sim/virtual_receiver.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    orbvex::app::InitApplication();

    // The receiver outlives the window: closing the window releases the cable on it.
    orbvex::sim::VirtualReceiver receiver;
    orbvex::SetPortBackend(&receiver);
    // The virtual programs, and only they, load the receiver's own trap image.
    orbvex::TrapFileName = orbvex::ProgramDirectory() + orbvex::sim::kVirtualTrapImageName;
    std::unique_ptr<orbvex::PortAccess> portAccess = orbvex::MakeUnrestrictedPortAccess();

    const int status = orbvex::app::RunWindowProgram(*portAccess);
    orbvex::SetPortBackend(nullptr);
    return status;
}

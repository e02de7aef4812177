// The same window with the virtual receiver on the other end of the cable.
#include <QApplication>

#include "app/window_program.h"
#include "port/port_access.h"
#include "port/program_dir.h"
#include "sim/virtual_receiver.h"
#include "util/image_file.h"
#include "util/standard_streams.h"

int main(int argc, char** argv) {
    orbvex::OpenClosedStandardStreams();
    QApplication application(argc, argv);
    orbvex::app::InitApplication();
    orbvex::IgnoreFileSizeSignal();

    // The receiver outlives the window: closing the window releases the cable on it.
    orbvex::sim::VirtualReceiver receiver;
    std::unique_ptr<orbvex::PortAccess> portAccess = orbvex::MakeUnrestrictedPortAccess();
    // The virtual programs, and only they, load the receiver's own trap image.
    return orbvex::app::RunWindowProgram(*portAccess, &receiver,
                                         orbvex::FindProgramFile(orbvex::sim::kVirtualTrapImageName));
}

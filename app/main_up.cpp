// The window on the real parallel port.
#include <QApplication>

#include "app/window_program.h"
#include "port/port_access.h"
#include "util/image_file.h"
#include "util/standard_streams.h"

int main(int argc, char** argv) {
    orbvex::OpenClosedStandardStreams();
    QApplication application(argc, argv);
    orbvex::app::InitApplication();
    orbvex::IgnoreFileSizeSignal();
    std::unique_ptr<orbvex::PortAccess> portAccess = orbvex::MakeHardwarePortAccess();
    return orbvex::app::RunWindowProgram(*portAccess, nullptr, "trap.bin");
}

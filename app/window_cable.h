// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The cable a window program drives, whatever toolkit draws the window: named on its
// command line with the command-line tool's cable options (none: the program's own,
// the parallel port's registers or the receiver inside the program), opened before the
// window and given back after it.
#include <memory>
#include <string>
#include <vector>

#include "cables/cable.h"

namespace orbvex::app {

// What sets the two window programs apart.
struct WindowProgram {
    const char* name;      // orbvex_up or orbvex_up_virtual
    bool virtualReceiver;  // the virtual one: its own receiver inside, --flash-image, its trap image
};
inline constexpr WindowProgram kPortProgram{"orbvex_up", false};
inline constexpr WindowProgram kVirtualProgram{"orbvex_up_virtual", true};

// Exit statuses, as the command-line tool has them.
constexpr int kWindowBadArguments = 2;
constexpr int kWindowCableFailed = 1;

struct WindowCable {
    // Null: the program ends at once with exitCode, after showing message (the help for
    // status 0, otherwise the refusal or why the cable could not be reached).
    std::unique_ptr<cables::Cable> cable;
    int exitCode = 0;
    std::string message;
    std::string trapFile;               // what START loads
    bool portFixed = false;             // a cable was named: the window's port choice does not apply
    std::vector<std::string> warnings;  // for the window's log, once it is open
    std::uint16_t LptBase() const { return cable ? cable->LptBase() : kLpt1Base; }
};

WindowCable OpenWindowCable(const WindowProgram& program, int argc, const char* const* argv,
                            cables::DeviceApis devices = cables::SystemDeviceApis());

// After the window has closed: what must still reach the cable or its flash file. The
// program's exit status: status, or kWindowCableFailed when that failed (with why in
// message).
int CloseWindowCable(WindowCable& opened, int status);

}  // namespace orbvex::app

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <functional>
#include <ostream>

#include "cli/cli_options.h"
#include "cli/target_session.h"

namespace orbvex::cli {

struct CliStreams {
    std::ostream& out;                     // the log, nothing else
    std::ostream& err;                     // the tool's own messages and the progress bar
    bool errIsTerminal = false;            // draw the progress bar
    std::function<bool()> abortPoll = {};  // true once the user asked to stop (Ctrl-C)
};

// Runs the parsed commands in order on one connection; the exit status.
int RunCommands(const CliOptions& options, CliStreams streams, DeviceApis devices = SystemDeviceApis());

// The whole tool: parses argv, runs, and gives the exit status.
int RunCli(int argc, const char* const* argv, CliStreams streams, DeviceApis devices = SystemDeviceApis());

}  // namespace orbvex::cli

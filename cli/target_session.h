// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <memory>
#include <optional>
#include <string>

#include "cables/cable.h"
#include "cli/cli_options.h"
#include "cli/terminal_window.h"
#include "ops/link_session.h"

namespace orbvex::cli {

using cables::DeviceApis;
using cables::SystemDeviceApis;

// The receiver one run of the tool talks to, through the cable the command line named,
// wired to the link through a link session, as the window does when it is created and
// closed.
class TargetSession {
public:
    TargetSession(const CliOptions& options, TerminalWindow& window, DeviceApis devices = SystemDeviceApis());
    ~TargetSession();
    TargetSession(const TargetSession&) = delete;
    TargetSession& operator=(const TargetSession&) = delete;

    // False (with a line on stderr) when the receiver cannot be reached at all.
    bool Open();
    // False when the virtual flash could not be saved, or the remote receiver was lost
    // before it had taken everything sent to it.
    bool Close();

    bool ConnectionLost() const { return !closing_ && cable_ && cable_->Lost(); }
    bool PortAvailable() const { return link_ && link_->PortAvailable(); }
    // The link the commands drive; only while open.
    orbvex::Link& Link() { return link_->Link(); }
    std::uint16_t LptBase() const { return cable_ ? cable_->LptBase() : kLpt1Base; }
    // Why the port was refused: what failed and what to do about it.
    std::string PortFailureReason() const;
    // The trap program START loads: --trap, the virtual receiver's own image, or
    // trap.bin looked for beside the executable, then in the data folders.
    std::string TrapFile() const;

private:
    const CliOptions& options_;
    TerminalWindow& window_;
    DeviceApis devices_;
    std::unique_ptr<cables::Cable> cable_;
    std::optional<LinkSession> link_;
    bool closing_ = false;
};

}  // namespace orbvex::cli

#pragma once
#include <memory>
#include <optional>
#include <string>

#include "cli/cli_options.h"
#include "cli/terminal_window.h"
#include "ops/link_session.h"
#include "port/port_access.h"
#include "remote/remote_bitbang_client.h"
#include "sim/virtual_receiver.h"

namespace orbvex::cli {

// The receiver one run of the tool talks to: the cable, the virtual receiver (with its
// flash kept in a file between runs when asked) or a remote server, wired to the link
// through a link session, as the window does when it is created and closed.
class TargetSession {
public:
    TargetSession(const CliOptions& options, TerminalWindow& window);
    ~TargetSession();
    TargetSession(const TargetSession&) = delete;
    TargetSession& operator=(const TargetSession&) = delete;

    // False (with a line on stderr) when the receiver cannot be reached at all.
    bool Open();
    // False when the virtual flash could not be saved.
    bool Close();

    bool ConnectionLost() const { return remote_ && remote_->Dropped() && !closing_; }
    // The trap program START loads: --trap, the virtual receiver's own image, or
    // trap.bin beside the executable.
    std::string TrapFile() const;

private:
    bool OpenVirtual();
    bool OpenRemote();

    const CliOptions& options_;
    TerminalWindow& window_;
    std::unique_ptr<PortAccess> access_;
    std::unique_ptr<sim::VirtualReceiver> virtual_;
    std::unique_ptr<RemoteBitbangClient> remote_;
    std::optional<LinkSession> link_;
    bool closing_ = false;
    bool saveFlash_ = false;
};

}  // namespace orbvex::cli

#pragma once
#include <memory>
#include <string>

#include "cli/cli_options.h"
#include "cli/terminal_window.h"
#include "port/port_access.h"
#include "remote/remote_bitbang_client.h"
#include "sim/virtual_receiver.h"

namespace orbvex::cli {

// What the window does when it is created and closed, for one run of the tool: wires
// the port to the chosen receiver (cable, virtual receiver or remote server), sets the
// link's globals, and on close releases the cable and puts everything back.
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
    sim::VirtualReceiver* Virtual() { return virtual_.get(); }
    RemoteBitbangClient* Remote() { return remote_.get(); }

private:
    bool OpenVirtual();
    bool OpenRemote();
    std::string TrapFileFor() const;

    const CliOptions& options_;
    TerminalWindow& window_;
    std::unique_ptr<PortAccess> access_;
    std::unique_ptr<sim::VirtualReceiver> virtual_;
    std::unique_ptr<RemoteBitbangClient> remote_;
    bool open_ = false;
    bool closing_ = false;
    bool saveFlash_ = false;
    std::string savedTrapFile_;
    std::uint16_t savedLptBase_ = 0;
};

}  // namespace orbvex::cli

#pragma once
#include <memory>
#include <optional>
#include <string>

#include "cli/cli_options.h"
#include "cli/terminal_window.h"
#include "ops/link_session.h"
#include "port/device_cable.h"
#include "port/ftdi_api.h"
#include "port/gpiod_api.h"
#include "port/port_access.h"
#include "port/ppdev_api.h"
#include "remote/remote_bitbang_client.h"
#include "sim/virtual_receiver.h"

namespace orbvex::cli {

// The interfaces behind --port /dev/parportN, --gpio and --ftdi; the tests put stand-ins in.
struct DeviceApis {
    PpdevApi* ppdev;
    GpiodApi* gpiod;
    FtdiApi* ftdi = &SystemFtdiApi();
};
inline DeviceApis SystemDeviceApis() { return {&SystemPpdevApi(), &SystemGpiodApi(), &SystemFtdiApi()}; }

// The receiver one run of the tool talks to: the cable (on the port's registers, a ppdev
// device, GPIO lines or an FTDI chip), the virtual receiver (with its flash kept in a file between runs
// when asked) or a remote server, wired to the link through a link session, as the window
// does when it is created and closed.
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

    bool ConnectionLost() const {
        return !closing_ && ((remote_ && remote_->Dropped()) || (device_ && device_->Failed()));
    }
    bool PortAvailable() const { return link_ && link_->PortAvailable(); }
    // Why the port was refused: what failed and what to do about it.
    std::string PortFailureReason() const;
    // The trap program START loads: --trap, the virtual receiver's own image, or
    // trap.bin looked for beside the executable, then in the data folders.
    std::string TrapFile() const;

private:
    bool OpenVirtual();
    bool OpenRemote();
    bool OpenDevice();

    const CliOptions& options_;
    TerminalWindow& window_;
    DeviceApis devices_;
    std::unique_ptr<PortAccess> access_;
    std::unique_ptr<sim::VirtualReceiver> virtual_;
    std::unique_ptr<RemoteBitbangClient> remote_;
    std::unique_ptr<DeviceCable> device_;
    std::optional<LinkSession> link_;
    bool closing_ = false;
    bool saveFlash_ = false;
};

}  // namespace orbvex::cli

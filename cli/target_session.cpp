#include "cli/target_session.h"

#include <filesystem>

#include "util/image_file.h"
#include "link/dcu.h"
#include "link/jtag.h"
#include "link/link_log.h"
#include "ops/operations.h"
#include "port/kqportio.h"
#include "port/program_dir.h"

namespace orbvex::cli {

TargetSession::TargetSession(const CliOptions& options, TerminalWindow& window) : options_(options), window_(window) {}

TargetSession::~TargetSession() { Close(); }

std::string TargetSession::TrapFileFor() const {
    // A name typed on the command line means a file relative to where the user stands.
    if (options_.trapFile) return std::filesystem::absolute(*options_.trapFile).string();
    if (options_.target == TargetKind::Virtual) return ProgramDirectory() + sim::kVirtualTrapImageName;
    return "trap.bin";  // beside the executable
}

bool TargetSession::OpenVirtual() {
    sim::ReceiverConfig config;
    config.flashSize = options_.FlashSize();
    virtual_ = std::make_unique<sim::VirtualReceiver>(config);
    if (options_.virtualFlashFile && std::filesystem::exists(*options_.virtualFlashFile)) {
        const std::string& path = *options_.virtualFlashFile;
        std::error_code ec;
        const auto size = std::filesystem::file_size(path, ec);
        if (!ec && size > options_.FlashSize()) {
            window_.Complain("the virtual flash file " + path + " holds " + std::to_string(size) +
                             " bytes, more than the " + (options_.flash2M ? "2M" : "1M") + " flash");
            return false;
        }
        if (!virtual_->LoadFlashImage(path)) {
            window_.Complain("cannot load the virtual flash from " + path);
            return false;
        }
    }
    saveFlash_ = options_.virtualFlashFile.has_value();  // only a flash that came from the file goes back to it
    access_ = MakeUnrestrictedPortAccess();
    SetPortBackend(virtual_.get());
    return true;
}

bool TargetSession::OpenRemote() {
    std::string error;
    net::Socket socket = net::Connect(options_.remote, error);
    if (!socket.Valid()) {
        window_.Complain("cannot connect to " + options_.remote.Describe() + ": " + error);
        return false;
    }
    remote_ = std::make_unique<RemoteBitbangClient>(std::move(socket), options_.remoteTimeoutSeconds * 1000);
    remote_->SetDropHandler([this](const std::string& reason) {
        window_.Complain("connection to the remote receiver " + options_.remote.Describe() + " lost (" + reason +
                         "); the operation cannot finish");
    });
    access_ = MakeUnrestrictedPortAccess();
    SetPortBackend(remote_.get());
    return true;
}

bool TargetSession::Open() {
    savedTrapFile_ = TrapFileName;
    savedLptBase_ = LptBase;
    // What the window sets when it is created.
    LptBase = options_.lptBase;
    ClockDelay = 1;
    StartWaitLimit = 2024;
    TrapFileName = TrapFileFor();
    SetLinkLog(&window_);

    bool reached = true;
    switch (options_.target) {
        case TargetKind::Virtual: reached = OpenVirtual(); break;
        case TargetKind::Remote: reached = OpenRemote(); break;
        case TargetKind::Hardware:
            access_ = MakeHardwarePortAccess();
            break;
    }
    open_ = true;
    if (!reached) return false;
    PortAvailable = access_->Open(LptBase);
    SetActivePortAccess(access_.get());
    return true;
}

bool TargetSession::Close() {
    if (!open_) return true;
    open_ = false;
    closing_ = true;
    // Released while the port is still ours, as the window does; never on a port refused.
    if (access_ && PortAvailable && access_->Ensure(LptBase)) JtagRelease();
    bool saved = true;
    if (virtual_ && saveFlash_) {
        // Saved whole or not at all: a failed save leaves the previous image in place.
        const FileSaveResult result = SaveWholeFile(*options_.virtualFlashFile, virtual_->Flash());
        if (!result.ok) {
            window_.Complain("cannot save the virtual flash: " + result.error);
            saved = false;
        }
    }
    if (remote_) remote_->Quit();
    if (access_) access_->Close(LptBase);
    SetActivePortAccess(nullptr);
    SetPortBackend(nullptr);
    SetLinkLog(nullptr);
    PortAvailable = false;
    TrapFileName = savedTrapFile_;
    LptBase = savedLptBase_;
    return saved;
}

}  // namespace orbvex::cli

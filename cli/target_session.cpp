#include "cli/target_session.h"

#include <filesystem>

#include "port/ftdi_cable.h"
#include "port/gpio_cable.h"
#include "port/ppdev_cable.h"
#include "util/image_file.h"

namespace orbvex::cli {

TargetSession::TargetSession(const CliOptions& options, TerminalWindow& window, DeviceApis devices)
    : options_(options), window_(window), devices_(devices) {}

TargetSession::~TargetSession() { Close(); }

std::string TargetSession::TrapFile() const {
    // A name typed on the command line means a file relative to where the user stands.
    if (options_.trapFile) return std::filesystem::absolute(*options_.trapFile).string();
    return "trap.bin";  // beside the executable, in the user's data folder or in the package's
}

std::string TargetSession::PortFailureReason() const {
    const std::string reason = link_ ? link_->FailureReason() : std::string();
    return reason.empty() ? "no reason was given" : reason;
}

bool TargetSession::OpenVirtual() {
    sim::ReceiverConfig config;
    config.flashSize = options_.FlashSize();
    virtual_ = std::make_unique<sim::VirtualReceiver>(config);
    std::error_code unknown;  // a path that cannot be looked at (a link loop) is refused below
    if (options_.virtualFlashFile && std::filesystem::exists(*options_.virtualFlashFile, unknown)) {
        const std::string& path = *options_.virtualFlashFile;
        std::vector<std::uint8_t> image;
        const FileReadResult read = ReadWholeFile(path, options_.FlashSize(), image);
        if (read.status == FileReadStatus::TooLarge) {
            window_.Complain("the virtual flash file " + path + " holds " + std::to_string(read.size) +
                             " bytes, more than the " + (options_.flash2M ? "2M" : "1M") + " flash");
            return false;
        }
        if (!read.Ok()) {
            window_.Complain("cannot load the virtual flash from " + path + ": " + read.reason);
            return false;
        }
        // A short image would leave the rest of the flash erased and be saved back larger.
        if (read.size != options_.FlashSize()) {
            window_.Complain("the virtual flash file " + path + " holds " + std::to_string(read.size) +
                             " bytes, not the " + std::to_string(options_.FlashSize()) + " of the " +
                             (options_.flash2M ? "2M" : "1M") + " flash");
            return false;
        }
        virtual_->SetFlash(image);
    }
    saveFlash_ = options_.virtualFlashFile.has_value();  // only a flash that came from the file goes back to it
    if (saveFlash_) {  // refused now rather than after the work it would lose
        const FileSaveResult usable = CheckSaveTarget(*options_.virtualFlashFile);
        if (!usable.ok) {
            window_.Complain("cannot save the virtual flash: " + usable.error);
            return false;
        }
    }
    access_ = MakeUnrestrictedPortAccess();
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
    return true;
}

// Opened (and claimed) before any traffic, so that a wrong device, chip or line ends the
// run before a single pin moves.
bool TargetSession::OpenDevice() {
    std::string error;
    if (options_.target == TargetKind::Ppdev)
        device_ = PpdevCable::Open(*devices_.ppdev, options_.ppdevDevice, error);
    else if (options_.target == TargetKind::Gpio)
        device_ = GpioCable::Open(*devices_.gpiod, options_.gpio, error);
    else if (auto ftdi = FtdiCable::Open(*devices_.ftdi, options_.ftdi, error)) {
        window_.Complain("using FTDI cable " + ftdi->Name() + " (" +
                         (ftdi->CableMode() == FtdiCable::Mode::Mpsse ? "MPSSE" : "synchronous bit-bang") + ", TCK " +
                         std::to_string(ftdi->TckHz()) + " Hz)");
        device_ = std::move(ftdi);
    }
    if (!device_) {
        window_.Complain(error);
        return false;
    }
    device_->SetFailureHandler(
        [this](const std::string& reason) { window_.Complain(reason + "; the operation cannot finish"); });
    access_ = MakeUnrestrictedPortAccess();
    return true;
}

bool TargetSession::Open() {
    bool reached = true;
    PortBackend* backend = nullptr;
    switch (options_.target) {
        case TargetKind::Virtual:
            reached = OpenVirtual();
            backend = virtual_.get();
            break;
        case TargetKind::Remote:
            reached = OpenRemote();
            backend = remote_.get();
            break;
        case TargetKind::Ppdev:
        case TargetKind::Gpio:
        case TargetKind::Ftdi:
            reached = OpenDevice();
            backend = device_.get();
            break;
        case TargetKind::Hardware:
            access_ = MakeHardwarePortAccess();
            break;
    }
    if (!reached) return false;
    link_.emplace(*access_, backend, options_.lptBase);
    if (link_->PortAvailable() && !access_->RouteNote().empty()) window_.Complain(access_->RouteNote());
    return true;
}

bool TargetSession::Close() {
    if (!access_) return true;
    closing_ = true;
    if (link_) link_->Close();
    link_.reset();
    bool ok = true;
    if (virtual_ && saveFlash_) {
        // Saved whole or not at all: a failed save leaves the previous image in place.
        const FileSaveResult result = SaveWholeFile(*options_.virtualFlashFile, virtual_->Flash());
        if (!result.ok) {
            window_.Complain("cannot save the virtual flash: " + result.error);
            ok = false;
        }
    }
    if (remote_) {
        // The last command's closing writes and the cable's release are only queued: an
        // answer to one more read shows they reached the receiver.
        remote_->Read(0);
        if (remote_->Dropped()) ok = false;
        remote_->Quit();
    }
    device_.reset();
    access_.reset();
    return ok;
}

}  // namespace orbvex::cli

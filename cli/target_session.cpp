// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/target_session.h"

#include <filesystem>

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

bool TargetSession::Open() {
    cables::CableSettings settings;
    settings.devices = devices_;
    settings.flashSize = options_.FlashSize();
    settings.flashImage = options_.virtualFlashFile;
    settings.flashChip = options_.virtualFlashChip;
    settings.remoteTimeoutSeconds = options_.remoteTimeoutSeconds;
    settings.note = [this](const std::string& line) { window_.Complain(line); };
    settings.warn = settings.note;
    settings.giveUp = [this] { return window_.StopRequested(); };
    std::string error;
    cable_ = options_.cable->Open(settings, error);
    if (!cable_) {
        window_.Complain(error);
        return false;
    }
    cable_->ReportLossTo([this](const std::string& line) { window_.Complain(line); });
    link_.emplace(cable_->Access(), cable_->Backend(), cable_->LptBase());
    if (link_->PortAvailable() && !cable_->Access().RouteNote().empty()) window_.Complain(cable_->Access().RouteNote());
    return true;
}

bool TargetSession::Close() {
    if (!cable_) return true;
    closing_ = true;
    if (link_) link_->Close();
    link_.reset();
    std::string error;
    const bool ok = cable_->Finish(error);
    if (!error.empty()) window_.Complain(error);
    cable_.reset();
    return ok;
}

}  // namespace orbvex::cli

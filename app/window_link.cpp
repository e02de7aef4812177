// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/window_link.h"

#include "link/link_log.h"

namespace orbvex::app {

WindowLink::~WindowLink() {
    session_.reset();
    if (window_ && LinkLogSink() == window_) SetLinkLog(nullptr);
}

void WindowLink::Open(WindowServices& window, PortAccess& access, PortBackend* backend) {
    window_ = &window;
    session_.emplace(access, backend, kLpt1Base);
    SetLinkLog(&window);
    if (session_->PortAvailable()) {
        const std::string note = access.RouteNote();
        if (!note.empty()) window.LogLine(note);
        return;
    }
    const std::string reason = session_->FailureReason();
    if (!reason.empty()) window.LogLine(reason);
    window.ShowErrorBox("The parallel port could not be opened");
}

void WindowLink::Close() {
    if (session_) session_->Close();
}

}  // namespace orbvex::app

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The link as every window holds it, whatever toolkit draws the window: opened when
// the window is created, given back when it closes.
#include <optional>

#include "ops/link_session.h"
#include "ops/window_services.h"

namespace orbvex::app {

class WindowLink {
public:
    WindowLink() = default;
    ~WindowLink();
    WindowLink(const WindowLink&) = delete;
    WindowLink& operator=(const WindowLink&) = delete;

    // Opens the link on LPT1 with the window as the link's log. When port access is
    // refused, the window is told before it first shows: why, and what to do about
    // it, in its log, then the error box with its one text. The window opens all the
    // same, and every operation button says it again.
    void Open(WindowServices& window, PortAccess& access, PortBackend* backend);
    // Releases the cable while the port may still be driven, then gives access back.
    // A second call does nothing.
    void Close();

    // The link the operations drive: one that refuses every port before Open and after Close.
    orbvex::Link& Link() { return session_ ? session_->Link() : closed_; }
    const orbvex::Link& Link() const { return session_ ? session_->Link() : closed_; }

private:
    std::optional<LinkSession> session_;
    orbvex::Link closed_;
    WindowServices* window_ = nullptr;
};

}  // namespace orbvex::app

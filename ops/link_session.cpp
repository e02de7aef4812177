// SPDX-License-Identifier: GPL-2.0-or-later
#include "ops/link_session.h"

#include "link/dcu.h"
#include "link/jtag.h"
#include "port/kqportio.h"

namespace orbvex {

LinkSession::LinkSession(PortAccess& access, PortBackend* backend, std::uint16_t lptBase) : access_(access) {
    SetPortBackend(backend);
    LptBase = lptBase;
    ClockDelay = 1;
    StartWaitLimit = 2024;
    ::PortAvailable = access_.Open(LptBase);
    if (!backend && ::PortAvailable && access_.PortRoute()) SetPortBackend(access_.PortRoute());
    SetActivePortAccess(&access_);
}

LinkSession::~LinkSession() { Close(); }

bool LinkSession::PortAvailable() const { return ::PortAvailable; }

std::string LinkSession::FailureReason() const { return ::PortAvailable ? std::string() : access_.FailureReason(); }

void LinkSession::Close() {
    if (!open_) return;
    open_ = false;
    // The last port chosen may be one that was refused when an operation asked for it.
    if (::PortAvailable && access_.Ensure(LptBase)) JtagRelease();
    access_.Close(LptBase);
    SetActivePortAccess(nullptr);
    SetPortBackend(nullptr);
    ::PortAvailable = false;
}

}  // namespace orbvex

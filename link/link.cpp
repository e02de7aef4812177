// SPDX-License-Identifier: GPL-2.0-or-later
#include "link/link.h"

#include "link/dcu.h"
#include "link/jtag.h"
#include "link/trap.h"
#include "port/kqportio.h"

namespace orbvex {

void Link::Open(PortAccess& access, PortBackend* backend, std::uint16_t portBase) {
    Close();
    access_ = &access;
    backend_ = backend;
    Apply({backend, portBase, 1, 2024});
    ::TrapSize = ::TrapWptr = ::TrapIptr = 0;
    ::PortAvailable = access.Open(portBase);
    if (::PortAvailable) Wire();
}

void Link::Close() {
    if (!access_) return;
    // The last port chosen may be one that was refused when an operation asked for it.
    if (::PortAvailable && access_->Ensure(::LptBase)) {
        Wire();
        JtagRelease();
    }
    // Unwired before access goes: a ppdev route dies with it.
    PortHook = nullptr;
    access_->Close(::LptBase);
    ::PortAvailable = false;
    access_ = nullptr;
    backend_ = nullptr;
}

bool Link::UsePort(std::uint16_t portBase) {
    ::LptBase = portBase;
    if (!access_ || !::PortAvailable || !access_->Ensure(portBase)) return false;
    Wire();
    return true;
}

void Link::ChoosePort(std::uint16_t portBase) { ::LptBase = portBase; }

bool Link::ReadMailbox() { return DcuReadWord(kTrapWorkspaceWord, ::TrapWptr); }

// A route access names for the port (a port library, a ppdev device) wins over the
// instructions, which is what a null backend means.
void Link::Wire() {
    PortBackend* route = access_->PortRoute();
    PortHook = route ? route : backend_;
}

bool Link::PortAvailable() const { return access_ && ::PortAvailable; }

std::string Link::FailureReason() const {
    return !access_ || ::PortAvailable ? std::string() : access_->FailureReason();
}

PortBackend* Link::Backend() const { return PortHook; }
std::uint16_t Link::PortBase() const { return ::LptBase; }
std::int32_t Link::ClockDelay() const { return ::ClockDelay; }
std::int32_t Link::StartWaitLimit() const { return ::StartWaitLimit; }
std::uint32_t Link::TrapWptr() const { return ::TrapWptr; }
std::uint32_t Link::TrapIptr() const { return ::TrapIptr; }
std::uint32_t Link::TrapSize() const { return ::TrapSize; }

LinkSettings Link::Settings() { return {PortHook, ::LptBase, ::ClockDelay, ::StartWaitLimit}; }

void Link::Apply(const LinkSettings& settings) {
    PortHook = settings.backend;
    ::LptBase = settings.portBase;
    ::ClockDelay = settings.clockDelay;
    ::StartWaitLimit = settings.startWaitLimit;
}

void Link::SetStartWaitLimit(std::int32_t clocks) { ::StartWaitLimit = clocks; }

void Link::RecordTrapSize(std::uint32_t size) { ::TrapSize = size; }

void Link::RecordTrapPointers(std::uint32_t wptr, std::uint32_t iptr) {
    ::TrapWptr = wptr;
    ::TrapIptr = iptr;
}

}  // namespace orbvex

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <string>

#include "port/port_access.h"
#include "port/port_backend.h"

namespace orbvex {

// What the link needs before the first operation and gives back after the last, in one
// place: the backend wired to the port (null: the real port, through the instructions
// or the port library that access names), LptBase,
// ClockDelay 1 and StartWaitLimit 2024, and port access opened for the first port
// (PortAvailable is its result), made the access the operations ask for each port.
// Closing releases the cable while the port may still be driven (never a port that
// was not granted), then gives port access back and unwires everything.
class LinkSession {
public:
    LinkSession(PortAccess& access, PortBackend* backend, std::uint16_t lptBase = kLpt1Base);
    ~LinkSession();
    LinkSession(const LinkSession&) = delete;
    LinkSession& operator=(const LinkSession&) = delete;

    bool PortAvailable() const;
    // Why port access was refused, in plain words; empty when it was granted.
    std::string FailureReason() const;
    // A second call does nothing.
    void Close();

private:
    PortAccess& access_;
    bool open_ = true;
};

}  // namespace orbvex

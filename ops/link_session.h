// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <string>

#include "link/link.h"
#include "port/port_access.h"
#include "port/port_backend.h"

namespace orbvex {

// The owner of the link: opens it when made (the backend wired to the port, null being
// the real port through the instructions or the port library that access names;
// LptBase, ClockDelay 1, StartWaitLimit 2024, no trap program; port access opened for
// the first port, PortAvailable its answer) and closes it when it goes: the cable
// released while the port may still be driven (never a port that was not granted),
// then port access given back and everything unwired. The operations are given its Link.
class LinkSession {
public:
    LinkSession(PortAccess& access, PortBackend* backend, std::uint16_t lptBase = kLpt1Base);
    ~LinkSession();
    LinkSession(const LinkSession&) = delete;
    LinkSession& operator=(const LinkSession&) = delete;

    orbvex::Link& Link() { return link_; }
    const orbvex::Link& Link() const { return link_; }
    bool PortAvailable() const { return link_.PortAvailable(); }
    // Why port access was refused, in plain words; empty when it was granted.
    std::string FailureReason() const { return link_.FailureReason(); }
    // A second call does nothing.
    void Close() { link_.Close(); }

private:
    orbvex::Link link_;
};

}  // namespace orbvex

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace orbvex {

class PortBackend;

// The I/O bases of the two standard parallel ports.
inline constexpr std::uint16_t kLpt1Base = 0x378;
inline constexpr std::uint16_t kLpt2Base = 0x278;

// How the process obtains, and gives back, the right to drive a parallel port's
// registers. The window opens it once when it is created and closes it when it closes;
// every operation asks Ensure() for the port it is about to drive, so that a port
// that was never granted is never touched.
class PortAccess {
public:
    virtual ~PortAccess() = default;
    // Grants the ranges base..base+2 and base+0x400..base+0x402. False when refused.
    virtual bool Open(std::uint16_t lptBase) = 0;
    // True when base may be driven now; grants its ranges first if it has to and can.
    virtual bool Ensure(std::uint16_t lptBase) = 0;
    // Withdraws every range this object granted.
    virtual void Close(std::uint16_t lptBase) = 0;
    // Why the last Open or Ensure was refused, in plain words and with what to do about
    // it; empty when nothing was refused or nothing more is known.
    virtual std::string FailureReason() const { return {}; }
    // What reaches the ports once Open granted them, when the processor's own port
    // instructions cannot (a port library); null when they can.
    virtual PortBackend* PortRoute() { return nullptr; }
    // One line on the way to the ports when it is not the usual one; empty otherwise.
    virtual std::string RouteNote() const { return {}; }
};

// The real hardware: ioperm on Linux, the port-permission driver on the Windows NT
// family, nothing to do on the Windows 95/98/ME family.
std::unique_ptr<PortAccess> MakeHardwarePortAccess();

// Backends that are not real ports (the virtual receiver, a remote server) need no grant.
std::unique_ptr<PortAccess> MakeUnrestrictedPortAccess();

}  // namespace orbvex

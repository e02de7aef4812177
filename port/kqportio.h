// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>

#include "port/direct_io.h"
#include "port/port_backend.h"

// The port's part of the link's state; orbvex::Link (link/link.h) is what sets it.

// I/O base of the chosen parallel port: 0x378 for LPT1, 0x278 for LPT2.
extern std::uint16_t LptBase;
// True while the process may drive the chosen port; decided when the window is created.
extern bool PortAvailable;

namespace orbvex {
// When set, every port access goes to this backend instead of the hardware.
// Null (the default) means the real port instructions.
extern PortBackend* PortHook;
}  // namespace orbvex

// The whole cost of a port access on the direct path is one predicted branch and the
// instruction itself: these run several times per JTAG clock, megabytes at a time.
inline std::uint8_t PortRead(std::uint16_t port) {
    if (__builtin_expect(orbvex::PortHook != nullptr, 0)) return orbvex::PortHook->Read(port);
    return orbvex::DirectInByte(port);
}

inline void PortWrite(std::uint16_t port, std::uint8_t value) {
    if (__builtin_expect(orbvex::PortHook != nullptr, 0)) {
        orbvex::PortHook->Write(port, value);
        return;
    }
    orbvex::DirectOutByte(port, value);
}

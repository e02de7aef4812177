// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>

namespace orbvex {

// One byte-wide x86 port instruction each. The caller must hold the right to the port
// (ioperm on Linux, the permission driver on Windows NT); without it the CPU faults.
inline std::uint8_t DirectInByte(std::uint16_t port) {
#if defined(__i386__) || defined(__x86_64__)
    std::uint8_t value;
    __asm__ __volatile__("inb %w1, %b0"
                         : "=a"(value)
                         : "Nd"(port));
    return value;
#else
    (void)port;
    return 0xFF;  // no port instructions on this processor: an open bus
#endif
}

inline void DirectOutByte(std::uint16_t port, std::uint8_t value) {
#if defined(__i386__) || defined(__x86_64__)
    __asm__ __volatile__("outb %b0, %w1"
                         :
                         : "a"(value), "Nd"(port));
#else
    (void)port;
    (void)value;
#endif
}

}  // namespace orbvex

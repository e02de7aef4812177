// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>

namespace orbvex {

// The parallel-port device calls the ppdev cable makes: open, the few ppdev requests,
// close. On Linux they go to the kernel (port/posix/ppdev_linux.cpp); elsewhere every call
// fails; the tests put a recording stand-in in their place. Results are the system's
// with the error folded in: a file descriptor or 0 on success, minus the errno value on
// failure, so that no caller has to read errno.
enum class PpdevRequest {
    Exclusive,   // PPEXCL: no other driver may share the port (before Claim)
    Claim,       // PPCLAIM
    Release,     // PPRELEASE
    WriteData,   // PPWDATA: the byte goes to the data register
    ReadStatus,  // PPRSTATUS: the status register comes back in the byte
};

class PpdevApi {
public:
    virtual ~PpdevApi() = default;
    // open(path, O_RDWR | O_CLOEXEC): the descriptor, or -errno.
    virtual int Open(const char* path) = 0;
    // ioctl(fd, request, byte): 0, or -errno. Only WriteData and ReadStatus use byte.
    virtual int Ioctl(int fd, PpdevRequest request, std::uint8_t* byte) = 0;
    // close(fd): 0, or -errno.
    virtual int Close(int fd) = 0;
};

// The kernel's calls on Linux; on other systems calls that fail with ENOSYS.
PpdevApi& SystemPpdevApi();

}  // namespace orbvex

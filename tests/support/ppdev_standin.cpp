// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/ppdev_standin.h"

#include <cerrno>
#include <cstdio>

namespace orbvex {
namespace {
constexpr int kFd = 7;
}

int PpdevStandIn::Open(const char* path) {
    Note(std::string("open ") + path);
    if (device != path) return -ENOENT;
    if (openError) return -openError;
    ++openCount_;
    return kFd;
}

int PpdevStandIn::Ioctl(int fd, PpdevRequest request, std::uint8_t* byte) {
    ++ioctls;
    if (fd != kFd || openCount_ == 0) return -EBADF;
    switch (request) {
    case PpdevRequest::Exclusive:
        Note("PPEXCL");
        return exclusiveError ? -exclusiveError : 0;
    case PpdevRequest::Claim:
        Note("PPCLAIM");
        if (claimed_) return -EINVAL;
        if (claimError) return -claimError;
        claimed_ = true;
        return 0;
    case PpdevRequest::Release:
        Note("PPRELEASE");
        if (!claimed_) return -EINVAL;
        claimed_ = false;
        return 0;
    case PpdevRequest::WriteData:
    case PpdevRequest::ReadStatus:
        break;
    }
    const bool write = request == PpdevRequest::WriteData;
    if (record) {
        char text[16];
        std::snprintf(text, sizeof text, "PPWDATA %02X", *byte);
        Note(write ? text : "PPRSTATUS");
    }
    if (!claimed_) return -EINVAL;
    if (dataError && dataAccesses_ >= dataErrorAfter) return -dataError;
    ++dataAccesses_;
    if (write) {
        if (target) target->Write(base, *byte);
    } else {
        *byte = target ? target->Read(static_cast<std::uint16_t>(base + 1)) : status;
    }
    return 0;
}

int PpdevStandIn::Close(int fd) {
    Note("close");
    if (fd != kFd || openCount_ == 0) return -EBADF;
    --openCount_;
    claimed_ = false;  // the kernel releases a port its holder forgot
    return 0;
}

}  // namespace orbvex

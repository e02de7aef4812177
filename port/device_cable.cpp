// SPDX-License-Identifier: GPL-2.0-or-later
#include "port/device_cable.h"

#include <cerrno>
#include <cstring>

namespace orbvex {
namespace {

// The errno names a user may look up or search for; others are given by number.
const char* ErrnoName(int error) {
    switch (error) {
    case EPERM: return "EPERM";
    case ENOENT: return "ENOENT";
    case EINTR: return "EINTR";
    case EIO: return "EIO";
    case ENXIO: return "ENXIO";
    case EBADF: return "EBADF";
    case EAGAIN: return "EAGAIN";
    case ENOMEM: return "ENOMEM";
    case EACCES: return "EACCES";
    case EBUSY: return "EBUSY";
    case ENODEV: return "ENODEV";
    case ENOTDIR: return "ENOTDIR";
    case EINVAL: return "EINVAL";
    case ENOTTY: return "ENOTTY";
    case ENOSYS: return "ENOSYS";
    default: return nullptr;
    }
}

}  // namespace

std::string ErrnoText(int error) {
    const char* name = ErrnoName(error);
    return std::string(std::strerror(error)) + " (" + (name ? name : "errno " + std::to_string(error)) + ")";
}

}  // namespace orbvex

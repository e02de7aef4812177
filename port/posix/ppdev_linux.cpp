// SPDX-License-Identifier: GPL-2.0-or-later
// The ppdev calls on Linux: the parallel port's registers through /dev/parportN.
#include <cerrno>

#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "port/ppdev_api.h"

namespace orbvex {
namespace {

// A signal that arrives while the kernel waits for the port is no reason to give up.
template <typename Call>
int Retried(Call call) {
    int result;
    do result = call();
    while (result < 0 && errno == EINTR);
    return result < 0 ? -errno : result;
}

class LinuxPpdevApi final : public PpdevApi {
public:
    int Open(const char* path) override {
        return Retried([&] { return ::open(path, O_RDWR | O_CLOEXEC); });
    }

    int Ioctl(int fd, PpdevRequest request, std::uint8_t* byte) override {
        switch (request) {
        case PpdevRequest::Exclusive: return Retried([&] { return ::ioctl(fd, PPEXCL); });
        case PpdevRequest::Claim: return Retried([&] { return ::ioctl(fd, PPCLAIM); });
        case PpdevRequest::Release: return Retried([&] { return ::ioctl(fd, PPRELEASE); });
        case PpdevRequest::WriteData: return Retried([&] { return ::ioctl(fd, PPWDATA, byte); });
        case PpdevRequest::ReadStatus: return Retried([&] { return ::ioctl(fd, PPRSTATUS, byte); });
        }
        return -EINVAL;
    }

    // Never retried: after an interrupted close the descriptor is gone all the same.
    int Close(int fd) override { return ::close(fd) < 0 ? -errno : 0; }
};

}  // namespace

PpdevApi& SystemPpdevApi() {
    static LinuxPpdevApi api;
    return api;
}

}  // namespace orbvex

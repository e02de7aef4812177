// SPDX-License-Identifier: GPL-2.0-or-later
#include "port/ppdev_cable.h"

#include <cerrno>

#include "port/cable_wiring.h"

namespace orbvex {
namespace {

// What a user can do about a refused open or claim.
std::string Remedy(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return "; join group lp (sudo usermod -aG lp $USER, then log in again)";
    case ENOENT:
        return "; the device is missing: is there a parallel port, and are its drivers loaded "
               "(sudo modprobe parport_pc ppdev)?";
    case ENXIO:
    case ENODEV:
        // The kernel's answer both when no port lies behind the device and when
        // another program or driver already holds it, so that exclusive access fails.
        return "; another program or a driver such as lp holds the port (sudo modprobe -r lp), "
               "or no parallel port lies behind the device";
    case EBUSY:
        return "; another program holds the port: close it and try again";
    default:
        return "";
    }
}

std::string Refusal(const char* what, const std::string& device, int error) {
    return std::string("cannot ") + what + " " + device + ": " + ErrnoText(error) + Remedy(error);
}

}  // namespace

Result<std::unique_ptr<PpdevCable>> PpdevCable::Open(PpdevApi& api, const std::string& device) {
    const int fd = api.Open(device.c_str());
    if (fd < 0) return Failure(Refusal("open", device, -fd));
    // Exclusive, so that no printer driver slips in between our accesses; the kernel
    // refuses it (rather than waiting) when someone already has the port.
    int result = api.Ioctl(fd, PpdevRequest::Exclusive, nullptr);
    if (result == 0) result = api.Ioctl(fd, PpdevRequest::Claim, nullptr);
    if (result != 0) {
        api.Close(fd);
        return Failure(Refusal("claim", device, -result));
    }
    return std::unique_ptr<PpdevCable>(new PpdevCable(api, device, fd));
}

PpdevCable::~PpdevCable() {
    api_.Ioctl(fd_, PpdevRequest::Release, nullptr);
    api_.Close(fd_);
}

std::uint8_t PpdevCable::Read(std::uint16_t) {
    if (Failed()) return cable::kTdoStatus;
    std::uint8_t status = 0;
    const int result = api_.Ioctl(fd_, PpdevRequest::ReadStatus, &status);
    if (result == 0) return status;
    Fail("reading the status register of " + device_ + " failed: " + ErrnoText(-result));
    return cable::kTdoStatus;
}

void PpdevCable::Write(std::uint16_t, std::uint8_t value) {
    if (Failed()) return;
    const int result = api_.Ioctl(fd_, PpdevRequest::WriteData, &value);
    if (result != 0) Fail("writing the data register of " + device_ + " failed: " + ErrnoText(-result));
}

}  // namespace orbvex

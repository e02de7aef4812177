// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "port/device_cable.h"
#include "port/ppdev_api.h"
#include "util/result.h"

namespace orbvex {

// The parallel-port cable through the kernel's ppdev driver (/dev/parportN): no port
// instructions and no root, only read and write access to the device (group lp on
// Debian), and it works under kernel lockdown. The port is claimed once, exclusively, for
// the cable's whole life; every data-register write is one PPWDATA and every status
// read one PPRSTATUS, nothing cached and nothing added. The link writes only the data
// register and reads only the status register, so the port number is not looked at.
class PpdevCable final : public LosableCable {
public:
    // Opens and claims device, or says why not (naming the device, the reason and what
    // to do); nothing is left open or claimed then.
    static Result<std::unique_ptr<PpdevCable>> Open(PpdevApi& api, const std::string& device);
    // Releases the port and closes the device.
    ~PpdevCable() override;
    PpdevCable(const PpdevCable&) = delete;
    PpdevCable& operator=(const PpdevCable&) = delete;

    std::uint8_t Read(std::uint16_t port) override;
    void Write(std::uint16_t port, std::uint8_t value) override;

    const std::string& Device() const { return device_; }

private:
    PpdevCable(PpdevApi& api, std::string device, int fd) : api_(api), device_(std::move(device)), fd_(fd) {}

    PpdevApi& api_;
    std::string device_;
    int fd_;
};

}  // namespace orbvex

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "port/device_cable.h"
#include "port/gpio_wiring.h"
#include "port/gpiod_api.h"
#include "util/result.h"

namespace orbvex {

// The cable played on GPIO lines (a Raspberry Pi header, say) through the GPIO character
// device. The output lines (TCK, TMS, TDI and the reset line when it is wired) are
// requested together, so a data-register write becomes one multi-line set: one system
// call for the whole value, and none when the value leaves every line as it is. (Line by
// line would cost a call per changed pin and, worse, let the target see TMS and TDI
// change one after the other.) A status read is one read of the TDO line. The link
// writes only the data register and reads only the status register, so the port number
// is not looked at.
class GpioCable final : public LosableCable {
public:
    // Name the requests carry, shown by gpioinfo as the lines' user.
    static constexpr const char* kConsumer = "orbvex_up";

    // Opens the chip and requests the lines, outputs low; or says why not: the chip is
    // unknown, a line is not on it or already taken. Nothing is left requested or open then.
    static Result<std::unique_ptr<GpioCable>> Open(GpiodApi& api, const GpioWiring& spec);
    // Releases the lines and closes the chip.
    ~GpioCable() override;
    GpioCable(const GpioCable&) = delete;
    GpioCable& operator=(const GpioCable&) = delete;

    std::uint8_t Read(std::uint16_t port) override;
    void Write(std::uint16_t port, std::uint8_t value) override;

private:
    // TCK, TMS, TDI and the reset line.
    static constexpr std::size_t kMaxOutputs = 4;

    GpioCable(GpiodApi& api, const GpioWiring& spec) : api_(api), spec_(spec) {}
    Status Request();
    std::string Describe(const char* what, int error) const;

    GpiodApi& api_;
    GpioWiring spec_;
    GpioChipHandle chip_ = 0;
    GpioRequestHandle outputs_ = 0;
    GpioRequestHandle input_ = 0;
    std::array<std::uint8_t, kMaxOutputs> bits_{};  // data-register bit of each output line
    std::size_t outputCount_ = 0;
    int lastValue_ = -1;  // the data value the lines show now; -1 before the first write
};

}  // namespace orbvex

// SPDX-License-Identifier: GPL-2.0-or-later
// --gpio: GPIO lines as the cable, through libgpiod.
#include "cables/cable.h"
#include "cables/backend_cable.h"
#include "port/gpio_cable.h"
#include "port/gpio_wiring.h"

namespace orbvex::cables {
namespace {

class GpioChoice final : public CableChoice {
public:
    explicit GpioChoice(GpioWiring wiring) : wiring_(std::move(wiring)) {}
    // The lines are requested before any traffic: a line in use ends the run before a pin moves.
    Result<std::unique_ptr<Cable>> Open(const CableSettings& settings) const override {
        Result<std::unique_ptr<GpioCable>> lines = GpioCable::Open(*settings.devices.gpiod, wiring_);
        if (!lines) return Failure(lines.Error());
        return std::make_unique<BackendCable>(std::move(lines).Value());
    }

private:
    GpioWiring wiring_;
};

Result<std::unique_ptr<CableChoice>> Parse(const std::string& value) {
    Result<GpioWiring> wiring = ParseGpioWiring(value);
    if (!wiring) return Failure(wiring.Error());
    return std::make_unique<GpioChoice>(std::move(wiring).Value());
}

}  // namespace

extern const CableType kGpioCable{
    "--gpio", "CHIP:tck=N,tms=N,tdi=N,tdo=N[,rst=N]",
    "GPIO lines as the cable (Linux), e.g. gpiochip0:tck=11,tms=25,tdi=10,tdo=9", Parse};

}  // namespace orbvex::cables

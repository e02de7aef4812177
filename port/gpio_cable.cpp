// SPDX-License-Identifier: GPL-2.0-or-later
#include "port/gpio_cable.h"

#include <cerrno>
#include <vector>

#include "port/cable_wiring.h"

namespace orbvex {
namespace {

struct NamedLine {
    const char* name;
    unsigned offset;
    std::uint8_t bit;  // the data-register bit an output line carries
};

// Every line of the wiring: the outputs in request order, the TDO input last.
std::vector<NamedLine> LinesOf(const GpioWiring& spec) {
    std::vector<NamedLine> lines{{"tck", spec.tck, cable::kTck}, {"tms", spec.tms, cable::kTms}, {"tdi", spec.tdi, cable::kTdi}};
    if (spec.rst) lines.push_back({"rst", *spec.rst, cable::kResetLine});
    lines.push_back({"tdo", spec.tdo, 0});
    return lines;
}

std::string Remedy(int error) {
    switch (error) {
    case ENOENT:
    case ENODEV:
        return "; no such chip here (gpiodetect lists the chips)";
    case EACCES:
    case EPERM:
        return "; join the group that owns /dev/gpiochip* (gpio on Raspberry Pi OS), or run as root";
    case EBUSY:
        return "; another program or driver holds one of the lines (gpioinfo shows which)";
    default:
        return "";
    }
}

}  // namespace

Result<std::unique_ptr<GpioCable>> GpioCable::Open(GpiodApi& api, const GpioWiring& spec) {
    std::unique_ptr<GpioCable> cable(new GpioCable(api, spec));
    const int opened = api.OpenChip(spec.chip.c_str(), &cable->chip_);
    if (opened < 0) {
        cable->chip_ = 0;
        return Failure(cable->Describe("cannot open", -opened));
    }
    const Status requested = cable->Request();
    if (!requested) return Failure(requested.Error());  // the destructor gives back what was taken
    return cable;
}

std::string GpioCable::Describe(const char* what, int error) const {
    return std::string(what) + " GPIO chip \"" + spec_.chip + "\": " + ErrnoText(error) + Remedy(error);
}

// Every line is looked at before any is requested, so that a wrong line number or a
// line someone else holds is reported by name and nothing is driven.
Status GpioCable::Request() {
    const std::vector<NamedLine> lines = LinesOf(spec_);
    const unsigned count = api_.LineCount(chip_);
    const std::string chipName = "GPIO chip \"" + spec_.chip + "\"";
    for (const NamedLine& line : lines) {
        if (line.offset >= count) {
            return Failure(chipName + " has no line " + std::to_string(line.offset) + " (" + line.name +
                           "): its lines are 0 to " + std::to_string(count == 0 ? 0 : count - 1));
        }
        std::string consumer;
        if (api_.LineInUse(chip_, line.offset, &consumer)) {
            return Failure("line " + std::to_string(line.offset) + " (" + line.name + ") of " + chipName +
                           " is already in use by " +
                           (consumer.empty() ? std::string("another program or driver") : "\"" + consumer + "\""));
        }
    }

    outputCount_ = lines.size() - 1;
    std::array<unsigned, kMaxOutputs> offsets{};
    for (std::size_t i = 0; i < outputCount_; ++i) {
        offsets[i] = lines[i].offset;
        bits_[i] = lines[i].bit;
    }
    const std::array<int, kMaxOutputs> low{};
    int result = api_.RequestLines(chip_, offsets.data(), static_cast<unsigned>(outputCount_), kConsumer, low.data(), &outputs_);
    if (result < 0) {
        outputs_ = 0;
        return Failure(Describe("cannot request the output lines of", -result));
    }
    lastValue_ = 0;
    result = api_.RequestLines(chip_, &spec_.tdo, 1, kConsumer, nullptr, &input_);
    if (result < 0) {
        input_ = 0;
        return Failure(Describe("cannot request the TDO line of", -result));
    }
    return {};
}

GpioCable::~GpioCable() {
    if (input_) api_.Release(input_);
    if (outputs_) api_.Release(outputs_);
    if (chip_) api_.CloseChip(chip_);
}

std::uint8_t GpioCable::Read(std::uint16_t) {
    if (Failed()) return cable::kTdoStatus;
    int tdo = 0;
    const int result = api_.GetValues(input_, &tdo);
    if (result == 0) return tdo ? cable::kTdoStatus : 0;
    Fail(Describe("reading TDO on", -result));
    return cable::kTdoStatus;
}

void GpioCable::Write(std::uint16_t, std::uint8_t value) {
    if (Failed()) return;
    std::array<int, kMaxOutputs> levels{};
    int wired = 0;
    for (std::size_t i = 0; i < outputCount_; ++i) {
        levels[i] = (value & bits_[i]) ? 1 : 0;
        wired |= value & bits_[i];
    }
    if (wired == lastValue_) return;  // no line would change
    const int result = api_.SetValues(outputs_, levels.data());
    if (result < 0) {
        Fail(Describe("setting the lines of", -result));
        return;
    }
    lastValue_ = wired;
}

}  // namespace orbvex

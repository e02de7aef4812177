// SPDX-License-Identifier: GPL-2.0-or-later
// --port: a parallel port, on its registers (LPT1, LPT2 or any base address) or through
// the kernel's ppdev driver (/dev/parportN).
#include "cables/parallel_port.h"

#include "cables/cable.h"
#include "cables/backend_cable.h"
#include "port/ppdev_cable.h"
#include "util/text.h"

namespace orbvex::cables {
namespace {

class PortRegisters final : public Cable {
public:
    explicit PortRegisters(std::uint16_t base) : base_(base) {}
    PortAccess& Access() override { return *access_; }
    PortBackend* Backend() override { return nullptr; }
    std::uint16_t LptBase() const override { return base_; }

private:
    std::uint16_t base_;
    std::unique_ptr<PortAccess> access_ = MakeHardwarePortAccess();
};

class PortRegistersChoice final : public CableChoice {
public:
    explicit PortRegistersChoice(std::uint16_t base) : base_(base) {}
    Result<std::unique_ptr<Cable>> Open(const CableSettings&) const override {
        return std::make_unique<PortRegisters>(base_);
    }

private:
    std::uint16_t base_;
};

class PpdevChoice final : public CableChoice {
public:
    explicit PpdevChoice(std::string device) : device_(std::move(device)) {}
    // Opened (and claimed) before any traffic, so that a wrong device ends the run
    // before a single pin moves.
    Result<std::unique_ptr<Cable>> Open(const CableSettings& settings) const override {
        Result<std::unique_ptr<PpdevCable>> port = PpdevCable::Open(*settings.devices.ppdev, device_);
        if (!port) return Failure(port.Error());
        return std::make_unique<BackendCable>(std::move(port).Value());
    }

private:
    std::string device_;
};

Result<std::unique_ptr<CableChoice>> Parse(const std::string& value) {
    if (value.find('/') != std::string::npos) return std::make_unique<PpdevChoice>(value);
    std::uint16_t base = 0;
    if (ParsePortChoice(value, base)) return std::make_unique<PortRegistersChoice>(base);
    return Failure("must be lpt1, lpt2, a base address such as 0x378 or a device such as /dev/parport0, got \"" + value +
                   "\"");
}

}  // namespace

bool ParsePortChoice(const std::string& text, std::uint16_t& base) {
    const std::string word = Lower(text);
    if (word == "lpt1" || word == "lpt2") {
        base = word == "lpt1" ? kLpt1Base : kLpt2Base;
        return true;
    }
    std::uint64_t value = 0;
    // The data register, status and the extended registers at +0x400 must all fit in 16 bits.
    if (!ParseUnsigned(text, 0xFFFF - 0x402, value) || value == 0) return false;
    base = static_cast<std::uint16_t>(value);
    return true;
}

std::unique_ptr<CableChoice> DefaultPortCable() { return std::make_unique<PortRegistersChoice>(kLpt1Base); }

extern const CableType kParallelPortCable{
    "--port", "PORT",
    "Parallel port: lpt1 (0x378, default), lpt2 (0x278), a base address such as 0xD010, or a ppdev device such as "
    "/dev/parport0 (Linux, group lp)",
    Parse};

}  // namespace orbvex::cables

#pragma once
#include <cstdint>

#include "link/jtag.h"

// The two ways a DCU clock's TDO sample comes back, for the framed bytes of dcu_bytes.h.
// Both drive TMS low (the TAP stays in Shift-DR), and both give samples back in the
// order they were asked for.
namespace orbvex::dcu {

// Cables that answer at once (the port instructions, ppdev, GPIO, a target in this
// process): each clock reads TDO before its rising edge, exactly as JtagStep does, and
// the sample waits here until the byte layer takes it. No clock is driven ahead.
class ClockAtOnce {
public:
    static constexpr bool kDrivesAhead = false;
    void Ask(bool tdi) {
        if (JtagStep(false, tdi, true)) held_ |= 1u << count_;
        ++count_;
    }
    bool Take() {
        const bool sample = (held_ & 1u) != 0;
        held_ >>= 1;
        --count_;
        return sample;
    }
    void Finish() {}

private:
    std::uint32_t held_ = 0;  // samples asked for and not yet taken, oldest in bit 0
    int count_ = 0;           // never more than a byte's data clocks
};

// Cables with a round trip (remote bit-bang, FTDI): a clock goes out with a request for
// its sample, and the answer is taken later, so that the clocks no answer decides cost
// no wait. What the cable still holds is sent when the message ends.
class ClockAhead {
public:
    static constexpr bool kDrivesAhead = true;
    void Ask(bool tdi) { JtagStepAhead(false, tdi); }
    bool Take() { return JtagTakeSample(); }
    void Finish() { JtagFlush(); }
};

}  // namespace orbvex::dcu

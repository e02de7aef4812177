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
        const std::uint32_t end = 1u << (31 - __builtin_clz(held_));
        held_ = (held_ ^ end) | (JtagStep(false, tdi, true) ? end : 0u) | (end << 1);
    }
    bool Take() {
        const bool sample = (held_ & 1u) != 0;
        held_ >>= 1;
        return sample;
    }
    // The sample of the next clock of a wait (TDI 0), while room is left for one.
    static bool WaitSample(int& /*ahead*/, std::int32_t room, bool& sample) {
        if (room <= 0) return false;
        sample = JtagStep(false, false, true);
        return true;
    }
    void Finish() {}

private:
    // Samples asked for and not yet taken, oldest in bit 0, under a 1 that marks their
    // end. One word, never more than a byte's data clocks: it stays in a register.
    std::uint32_t held_ = 1;
};

// Cables with a round trip (remote bit-bang, FTDI): a clock goes out with a request for
// its sample, and the answer is taken later, so that the clocks no answer decides cost
// no wait. What the cable still holds is sent when the message ends.
class ClockAhead {
public:
    static constexpr bool kDrivesAhead = true;
    void Ask(bool tdi) {
        JtagStepAhead(false, tdi);
        ++asked_;
    }
    bool Take() {
        --asked_;
        return JtagTakeSample();
    }
    // The sample of the next clock of a wait (TDI 0), after driving wait clocks until
    // `ahead` of them are out, room at most; false once none is out.
    bool WaitSample(int& ahead, std::int32_t room, bool& sample) {
        for (; ahead < room; ++ahead) Ask(false);
        if (ahead == 0) return false;
        --ahead;
        sample = Take();
        return true;
    }
    void Finish() {
        while (asked_ > 0) Take();
        JtagFlush();
    }

private:
    int asked_ = 0;  // samples asked for and not yet taken
};

}  // namespace orbvex::dcu

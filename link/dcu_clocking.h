// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>

#include "link/jtag.h"

// The two ways a DCU clock's TDO sample comes back, for the framed bytes of dcu_bytes.h.
// Both drive TMS low (the TAP stays in Shift-DR), and both give samples back in the
// order their clocks went out. Ask drives count sampled clocks, TDI from bit 0 of tdi
// up; Take gives back the next count samples, the oldest in bit 0.
namespace orbvex::dcu {

// Cables that answer at once (the port instructions, ppdev, GPIO, a target in this
// process): each clock reads TDO before its rising edge, exactly as JtagStep does, and
// the samples wait here until the byte layer takes them. No clock is driven ahead.
class ClockAtOnce {
public:
    static constexpr bool kDrivesAhead = false;
    void Ask(std::uint32_t tdi, int count) {
        std::uint32_t samples = 0;
        for (int i = 0; i < count; ++i) {
            if (JtagStep(false, ((tdi >> i) & 1u) != 0, true)) samples |= 1u << i;
        }
        held_ |= samples << heldCount_;
        heldCount_ += count;
    }
    std::uint32_t Take(int count) {
        const std::uint32_t samples = held_ & ((1u << count) - 1u);
        held_ >>= count;
        heldCount_ -= count;
        return samples;
    }
    // The sample of the next clock of a wait (TDI 0), while room is left for one.
    static bool WaitSample(int& /*ahead*/, std::int32_t room, bool& sample) {
        if (room <= 0) return false;
        sample = JtagStep(false, false, true);
        return true;
    }
    void Finish() {}

private:
    // Never more than a byte's data clocks: the byte layer takes them before it asks again.
    std::uint32_t held_ = 0;
    int heldCount_ = 0;
};

// Cables with a round trip (remote bit-bang, FTDI): a clock goes out with a request for
// its sample, and the answer is taken later, so that the clocks no answer decides cost
// no wait. What the cable still holds is sent when the message ends.
class ClockAhead {
public:
    static constexpr bool kDrivesAhead = true;
    void Ask(std::uint32_t tdi, int count) {
        for (int i = 0; i < count; ++i) JtagStepAhead(false, ((tdi >> i) & 1u) != 0);
        asked_ += count;
    }
    std::uint32_t Take(int count) {
        std::uint32_t samples = 0;
        for (int i = 0; i < count; ++i) {
            if (JtagTakeSample()) samples |= 1u << i;
        }
        asked_ -= count;
        return samples;
    }
    // The sample of the next clock of a wait (TDI 0), after driving wait clocks until
    // `ahead` of them are out, room at most; false once none is out.
    bool WaitSample(int& ahead, std::int32_t room, bool& sample) {
        if (ahead < room) {
            Ask(0, room - ahead);
            ahead = room;
        }
        if (ahead == 0) return false;
        --ahead;
        sample = Take(1) != 0;
        return true;
    }
    void Finish() {
        while (asked_ > 0) Take(1);
        JtagFlush();
    }

private:
    int asked_ = 0;  // samples asked for and not yet taken
};

}  // namespace orbvex::dcu

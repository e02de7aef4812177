// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <algorithm>
#include <cstdint>

#include "link/dcu.h"
#include "link/dcu_clocking.h"
#include "link/dcu_frame.h"
#include "link/jtag.h"

namespace orbvex::dcu {

// Samples, at the fewest, that could still complete a pattern opening with 0,1 (the
// start and the acknowledge pattern both do).
inline int SamplesToPattern(unsigned window) {
    if ((window & 3u) == 0b01u) return 1;
    return (window & 1u) == 0 ? 2 : 3;
}

// The DCU's framed bytes, over a clocking of dcu_clocking.h: the start and acknowledge
// waits, a receive and a send. A clocking that drives ahead sends a clock before the
// samples before it are back wherever none of them could change its pins; one that
// samples at once sends each clock when its turn comes. The pins are the same either
// way: only when the samples are read differs.
//
// One object lives for one message. A receive told that another follows drives the
// first clocks of the next start wait with its data clocks; the object takes every
// sample it asked for before it goes, and sends what the cable still holds.
template <class Clocking>
class FramedBytes {
public:
    FramedBytes() = default;
    ~FramedBytes() { clocking_.Finish(); }
    FramedBytes(const FramedBytes&) = delete;
    FramedBytes& operator=(const FramedBytes&) = delete;

    // Every 0,1,0 on TDO restarts the budget (the DCU is busy); the clock that completed
    // it counts as the first of the new one. On success dataAhead tells how many data
    // clocks went out with the wait.
    bool WaitStart(std::int32_t limit, int& dataAhead) {
        unsigned window = 0;
        std::int32_t n = 0;
        std::int32_t total = 0;
        int ahead = waitAhead_;
        waitAhead_ = 0;
        for (bool sample; clocking_.WaitSample(ahead, StartWaitRoom(limit, window, n, total), sample);) {
            window = Shift(window, sample);
            if (window == kAckPattern) n = 0;
            ++n;
            ++total;
            if (window == kStartPattern) {
                dataAhead = ahead;
                return true;
            }
        }
        return false;  // the budget is spent
    }

    // With `ahead` clocks already driven. Every clock it drives is TDI 0, as is the
    // trailing clock of a send, so it may run one clock past the earliest end; on
    // return ahead (0 or 1) says whether that clock went out too.
    bool WaitAck(std::int32_t limit, int& ahead) {
        unsigned window = 0;
        bool sample = false;
        for (std::int32_t n = 0; n < limit && window != kAckPattern; ++n) {
            clocking_.WaitSample(ahead, std::min(SamplesToPattern(window), limit - n) + 1, sample);
            window = Shift(window, sample);
        }
        return window == kAckPattern;
    }

    // anotherFollows: whether a further receive comes right after a successful one.
    bool Receive(std::uint8_t& out, bool anotherFollows) {
        int dataAhead = 0;
        if (!WaitStart(StartWaitLimit, dataAhead)) {
            out = 0;
            return false;
        }
        // TDI 1 on the fifth data clock acknowledges the byte to the DCU.
        clocking_.Ask((1u << kReceiveAckBit) >> dataAhead, kByteBits - dataAhead);
        if (Clocking::kDrivesAhead && anotherFollows) {
            const std::int32_t room = StartWaitRoom(StartWaitLimit, 0, 0, 0);
            if (waitAhead_ < room) {
                clocking_.Ask(0, room - waitAhead_);
                waitAhead_ = room;
            }
        }
        out = static_cast<std::uint8_t>(clocking_.Take(kByteBits));
        return true;
    }

    bool Send(std::uint8_t value) {
        Drive(false);
        Drive(true);
        Drive(true);
        clocking_.Ask(value, kByteBits);
        // The clock after the data clocks drives TDI 0 whether it turns out to be the
        // first of the acknowledge wait or the trailing clock: driven ahead, it goes with
        // them, sampled.
        int ahead = 0;
        if (Clocking::kDrivesAhead) {
            clocking_.Ask(0, 1);
            ahead = 1;
        }
        // A sample of 1 after one of 0 acknowledges; the one before the first data clock
        // counts as 0.
        const std::uint32_t samples = clocking_.Take(kByteBits);
        bool acknowledged = (samples & ~(samples << 1)) != 0;
        if (!acknowledged) acknowledged = WaitAck(kAckWaitLimit, ahead);
        if (ahead > 0) {
            clocking_.Take(1);  // the trailing clock, driven already: its sample decides nothing
        } else {
            Drive(false);
        }
        return acknowledged;
    }

private:
    static void Drive(bool tdi) { JtagStep(false, tdi, false); }

    // Clocks that may be driven past the last sample taken in a start wait. Were the
    // start pattern to complete as early as it could, the clocks after it would be data
    // clocks, and those before the acknowledging one drive TDI 0 like wait clocks. The
    // wait's own budget bounds them too: past it the link would do whatever comes next.
    static std::int32_t StartWaitRoom(std::int32_t limit, unsigned window, std::int32_t n, std::int32_t total) {
        const std::int32_t budget = std::min(limit - n, kStartWaitClockCap - total);
        if (!Clocking::kDrivesAhead) return budget;  // only whether a clock is left counts
        return std::min(static_cast<std::int32_t>(SamplesToPattern(window) + kReceiveAckBit), budget);
    }

    Clocking clocking_;
    int waitAhead_ = 0;  // clocks of the next start wait driven already
};

}  // namespace orbvex::dcu

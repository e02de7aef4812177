#include "link/dcu_batched.h"

#include <algorithm>

#include "link/dcu.h"
#include "link/dcu_frame.h"
#include "link/jtag.h"

namespace orbvex::dcu {
namespace {

// Samples, at the fewest, that could still complete a pattern opening with 0,1 (the
// start and the acknowledge pattern both do).
int SamplesToPattern(unsigned window) {
    if ((window & 3u) == 0b01u) return 1;
    return (window & 1u) == 0 ? 2 : 3;
}

// Clocks that may be driven past the last sample taken in a start wait. Were the start
// pattern to complete as early as it could, the clocks after it would be data clocks,
// and those before the acknowledging one drive TDI 0 like wait clocks. The wait's own
// budget bounds them too: past it the engine would do whatever comes next.
std::int32_t StartWaitRoom(unsigned window, std::int32_t n, std::int32_t total) {
    return std::min({static_cast<std::int32_t>(SamplesToPattern(window) + kReceiveAckBit), StartWaitLimit - n,
                     kStartWaitClockCap - total});
}

}  // namespace

BatchedBytes::~BatchedBytes() {
    while (asked_ > 0) Take();
    JtagFlush();
}

void BatchedBytes::Ask(bool tdi) {
    JtagStepAhead(false, tdi);
    ++asked_;
}

bool BatchedBytes::Take() {
    --asked_;
    return JtagTakeSample();
}

// WaitStart's loop, one sample at a time as it decides, with the clocks it may drive
// ahead. On success dataAhead tells how many data clocks went out with the wait.
bool BatchedBytes::WaitStart(int& dataAhead) {
    unsigned window = 0;
    std::int32_t n = 0;
    std::int32_t total = 0;
    int ahead = waitAhead_;
    waitAhead_ = 0;
    for (;;) {
        for (const std::int32_t room = StartWaitRoom(window, n, total); ahead < room; ++ahead) Ask(false);
        if (ahead == 0) return false;  // the budget is spent
        window = Shift(window, Take());
        --ahead;
        if (window == kAckPattern) n = 0;  // the DCU is busy: its budget starts again
        ++n;
        ++total;
        if (window == kStartPattern) {
            dataAhead = ahead;
            return true;
        }
    }
}

bool BatchedBytes::Receive(std::uint8_t& out, bool anotherFollows) {
    int dataAhead = 0;
    if (!WaitStart(dataAhead)) {
        out = 0;
        return false;
    }
    for (int i = dataAhead; i < kByteBits; ++i) Ask(i == kReceiveAckBit);
    if (anotherFollows) {
        for (const std::int32_t room = StartWaitRoom(0, 0, 0); waitAhead_ < room; ++waitAhead_) Ask(false);
    }
    std::uint8_t byte = 0;
    for (int i = 0; i < kByteBits; ++i) {
        if (Take()) byte = static_cast<std::uint8_t>(byte | (1u << i));
    }
    out = byte;
    return true;
}

// WaitAck's loop with `ahead` clocks already driven. Every clock it drives is TDI 0,
// as is the trailing clock after the wait, so it may run one clock past the earliest
// end; on return ahead (0 or 1) says whether the trailing clock went out too.
bool BatchedBytes::WaitAck(int& ahead) {
    unsigned window = 0;
    for (std::int32_t n = 0; n < kAckWaitLimit && window != kAckPattern; ++n) {
        const int room = std::min(SamplesToPattern(window), kAckWaitLimit - n) + 1;
        for (; ahead < room; ++ahead) Ask(false);
        window = Shift(window, Take());
        --ahead;
    }
    return window == kAckPattern;
}

bool BatchedBytes::Send(std::uint8_t value) {
    JtagStep(false, false, false);
    JtagStep(false, true, false);
    JtagStep(false, true, false);
    for (int i = 0; i < kByteBits; ++i) Ask(((value >> i) & 1u) != 0);
    // The clock after the data clocks drives TDI 0 whether it turns out to be the
    // first of the acknowledge wait or the trailing clock: it goes with them, sampled.
    Ask(false);
    int ahead = 1;
    bool acknowledged = false;
    bool previous = false;
    for (int i = 0; i < kByteBits; ++i) {
        const bool sample = Take();
        if (sample && !previous) acknowledged = true;
        previous = sample;
    }
    if (!acknowledged) acknowledged = WaitAck(ahead);
    if (ahead > 0) {
        Take();  // the trailing clock, driven already: its sample decides nothing
    } else {
        JtagStep(false, false, false);
    }
    return acknowledged;
}

}  // namespace orbvex::dcu

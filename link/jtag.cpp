// SPDX-License-Identifier: GPL-2.0-or-later
#include "link/jtag.h"

#include <chrono>

#include "link/dcu_forms.h"
#include "link/link_log.h"
#include "port/cable_wiring.h"
#include "port/kqportio.h"

std::int32_t ClockDelay = 1;
bool ResetLineLevel = false;
std::uint8_t LastDataValue = 0;
bool JtagSelected = false;

namespace {

using orbvex::cable::kResetLine;
using orbvex::cable::kTck;
using orbvex::cable::kTdi;
using orbvex::cable::kTms;
constexpr std::uint8_t kTdoMask = orbvex::cable::kTdoStatus;
constexpr std::uint8_t kStaleData = 255;

constexpr std::uint32_t kDcuInstruction = 0x10;
constexpr std::uint32_t kIdcodeInstruction = 0x02;
constexpr int kInstructionLength = 5;

TickSource g_tickSource = nullptr;

// An empty loop the optimiser must keep: each round passes the counter through a
// register the compiler may not reason about.
inline void SpinDelay() {
    const std::int32_t rounds = ClockDelay;
    for (std::int32_t i = 0; i <= rounds; ++i) {
#if defined(__GNUC__) || defined(__clang__)
        __asm__ __volatile__(""
                             : "+r"(i));
#else
        static volatile std::int32_t sink;
        sink = i;
#endif
    }
}

inline std::uint8_t DataValue(bool tms, bool tdi) {
    return static_cast<std::uint8_t>((tdi ? kTdi : 0) | (tms ? kTms : 0) |
                                     (ResetLineLevel ? kResetLine : 0));
}

// The writes of one clock: the new TMS/TDI/reset value unless unchanged, TCK up, TCK down.
inline void DriveClock(bool tms, bool tdi) {
    const std::uint8_t value = DataValue(tms, tdi);
    if (value != LastDataValue) {
        PortWrite(LptBase, value);
        LastDataValue = value;
    }
    SpinDelay();
    PortWrite(LptBase, static_cast<std::uint8_t>(value | kTck));
    SpinDelay();
    PortWrite(LptBase, value);
}

// Select-DR-Scan, Capture-DR, Shift-DR from Run-Test/Idle or Update-IR.
void EnterShiftDr() {
    JtagTms(true);
    JtagTms(false);
    JtagTms(false);
}

std::uint32_t ReverseBits(std::uint32_t value, int length) {
    std::uint32_t result = 0;
    for (int i = 0; i < length; ++i) {
        result = (result << 1) | (value & 1u);
        value >>= 1;
    }
    return result;
}

}  // namespace

std::uint32_t TickCountMs() {
    if (g_tickSource) return g_tickSource();
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SetTickSource(TickSource source) { g_tickSource = source; }

// Waits until the tick count has advanced by more than ms. Comparing elapsed time
// rather than an end mark keeps the wait right when the 32-bit counter wraps
// (an end mark of 0xFFFFFFFF could never be exceeded).
// A cable that holds writes sends them first, and one with a round trip is waited on
// until the target has them: a reset must be held for the whole wait at the target, not
// partly in the host's queue or on the way. A probe holds it there itself.
void DelayMs(std::uint32_t ms) {
    if (orbvex::DcuMessagePort* probe = orbvex::dcu::MessageProbe()) {
        probe->Hold(ms);  // the probe keeps the lines for the wait and answers after it
        return;
    }
    if (LinkDefersReads()) {
        orbvex::PortHook->RequestRead(static_cast<std::uint16_t>(LptBase + 1));
        orbvex::PortHook->TakeRead();
    } else {
        JtagFlush();
    }
    const std::uint32_t start = TickCountMs();
    while (static_cast<std::uint32_t>(TickCountMs() - start) <= ms) {
    }
}

bool JtagStep(bool tms, bool tdi, bool sample) {
    // TDO is taken while TCK is still low from the previous clock.
    bool tdo = false;
    if (sample) tdo = (PortRead(static_cast<std::uint16_t>(LptBase + 1)) & kTdoMask) != 0;
    DriveClock(tms, tdi);
    return tdo;
}

bool LinkDefersReads() { return orbvex::PortHook && orbvex::PortHook->DefersReads(); }

void JtagStepAhead(bool tms, bool tdi) {
    orbvex::PortHook->RequestRead(static_cast<std::uint16_t>(LptBase + 1));
    DriveClock(tms, tdi);
}

bool JtagTakeSample() { return (orbvex::PortHook->TakeRead() & kTdoMask) != 0; }

void JtagFlush() {
    if (orbvex::PortHook) orbvex::PortHook->Flush();
}

void JtagTms(bool tms) { JtagStep(tms, false, false); }

void TapReset() {
    for (int i = 0; i < 5; ++i) JtagTms(true);
    JtagTms(false);
    JtagSelected = false;
}

void JtagSetTrst(bool level) {
    ResetLineLevel = level;
    LastDataValue = kStaleData;  // the new level must reach the cable even if unchanged
    JtagStep(false, false, false);
    JtagFlush();  // the target sees the change now, not with the next sample
    JtagSelected = false;
}

std::uint32_t ShiftIr(int length, std::uint32_t value) {
    JtagTms(true);
    JtagTms(true);
    JtagTms(false);
    JtagTms(false);
    std::uint32_t captured = 0;
    for (int i = 0; i < length; ++i) {
        const bool tdi = i < 32 && ((value >> i) & 1u) != 0;
        const bool last = i == length - 1;
        captured = (captured << 1) | (JtagStep(last, tdi, true) ? 1u : 0u);
    }
    JtagTms(true);
    return ReverseBits(captured, length);
}

void SelectDcu() {
    if (JtagSelected) return;
    TapReset();
    ShiftIr(kInstructionLength, kDcuInstruction);
    EnterShiftDr();
    JtagSelected = true;
}

std::uint32_t ReadIdcode() {
    TapReset();
    ShiftIr(kInstructionLength, kIdcodeInstruction);
    EnterShiftDr();
    std::uint32_t idcode = 0;
    for (int k = 0; k < 32; ++k) {
        if (JtagStep(k == 31, false, true)) idcode |= 1u << k;
    }
    JtagTms(true);
    return idcode;
}

void JtagInit() {
    JtagSetTrst(false);
    DelayMs(100);
    JtagSetTrst(true);
    DelayMs(100);
    TapReset();
    orbvex::LinkLog("Init JTAG");
    DelayMs(100);
}

void JtagRelease() { JtagSetTrst(false); }

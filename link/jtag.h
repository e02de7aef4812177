// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>

// The JTAG bit engine: one TCK cycle at a time over the parallel port.
// Data register: TMS bit 0, TCK bit 1, TDI bit 2, reset line bit 3.
// Status register (LptBase + 1): TDO on bit 4.

extern std::int32_t ClockDelay;     // spin rounds - 1 between the writes of a clock
extern bool ResetLineLevel;         // level last given to JtagSetTrst
extern std::uint8_t LastDataValue;  // last data value written with TCK low; 255 = stale
extern bool JtagSelected;           // TAP parked in Shift-DR with the DCU instruction

// Milliseconds since some fixed point, monotonic, wrapping at 32 bits.
using TickSource = std::uint32_t (*)();
std::uint32_t TickCountMs();
// Replaces the tick source (tests use a fake clock); null restores the real one.
void SetTickSource(TickSource source);

void DelayMs(std::uint32_t ms);
bool JtagStep(bool tms, bool tdi, bool sample);
// Cables with a round trip (a socket, a USB chip) take a clock's sample in two halves:
// JtagStepAhead drives the clock and only asks for its sample, JtagTakeSample gives
// back the oldest sample asked for and not yet taken. The pins are JtagStep's.
bool LinkDefersReads();
void JtagStepAhead(bool tms, bool tdi);
bool JtagTakeSample();
// Sends whatever such a cable still holds, without waiting for answers.
void JtagFlush();
void JtagTms(bool tms);
void TapReset();
void JtagSetTrst(bool level);
std::uint32_t ShiftIr(int length, std::uint32_t value);
void SelectDcu();
std::uint32_t ReadIdcode();
void JtagInit();
void JtagRelease();

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>

// The DCU's byte-framed peek/poke protocol on the JTAG data register.

extern std::int32_t StartWaitLimit;  // clock budget of the wait for a byte from the DCU

// Every 0,1,0 pulse on TDO restarts the start wait's budget; this caps the whole wait,
// far above any honest reply, so that a babbling line cannot hold the program forever.
inline constexpr std::int32_t kStartWaitClockCap = 1000000;

// Bytes a message's drain discards before it gives up.
inline constexpr int kReadDrainLimit = 1024;
inline constexpr int kWriteDrainLimit = 1023;

bool WaitStart(std::int32_t limit);
bool WaitAck(std::int32_t limit);
bool DcuReceiveByte(std::uint8_t& out);
bool DcuSendByte(std::uint8_t value);
bool DcuSendWord(std::uint32_t value);

// Reads one block; buffer needs room for 256 bytes. Returns the count received, 0 on failure.
std::int32_t DcuReadBlock(std::uint32_t address, std::uint8_t* buffer);
bool DcuReadWord(std::uint32_t address, std::uint32_t& out);
// Writes length bytes (1 to 252); returns length on success, 0 on failure.
std::int32_t DcuWriteBlock(std::uint32_t address, const std::uint8_t* data, std::uint8_t length);
bool DcuWriteWord(std::uint32_t address, std::uint32_t value);

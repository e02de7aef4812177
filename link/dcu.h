#pragma once
#include <cstdint>

// The DCU's byte-framed peek/poke protocol on the JTAG data register.

extern std::int32_t StartWaitLimit;  // clock budget of the wait for a byte from the DCU

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

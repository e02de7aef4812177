// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>

namespace orbvex::sim {

// A stretch of plain RAM the CPU may reach directly, for instruction fetches and the
// loads and stores of its workspace; everything else goes through the bus calls.
// `writes` counts the writes others (the DCU, side doors) made to it: while it stands
// still, a loop that only reads RAM repeats exactly and may be skipped over.
struct St20RamWindow {
    std::uint32_t base = 0;
    std::uint8_t* bytes = nullptr;
    std::uint32_t size = 0;
    std::uint64_t writes = 0;
};

// The CPU's bus cycles, little-endian, at addresses the CPU has already aligned.
class St20Bus {
public:
    virtual ~St20Bus() = default;

    virtual std::uint8_t ReadByte(std::uint32_t address) = 0;
    virtual void WriteByte(std::uint32_t address, std::uint8_t value) = 0;
    virtual std::uint16_t ReadHalf(std::uint32_t address) = 0;
    virtual void WriteHalf(std::uint32_t address, std::uint16_t value) = 0;
    virtual std::uint32_t ReadWord(std::uint32_t address) = 0;
    virtual void WriteWord(std::uint32_t address, std::uint32_t value) = 0;

    // Asked again at every run, so the window may move or grow between runs.
    virtual St20RamWindow Ram() { return {}; }
};

}  // namespace orbvex::sim

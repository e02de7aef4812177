// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>

#include "sim/sim_clock.h"
#include "sim/st20_bus.h"
#include "sim/st20_cpu.h"
#include "sim/target_memory.h"
#include "sim/virtual_receiver.h"

namespace orbvex::sim {

// The CPU's bus cycles on the receiver's one memory, the memory the DCU reaches too.
class MemoryBus : public St20Bus {
public:
    explicit MemoryBus(TargetMemory* memory) : memory_(memory) {}

    std::uint8_t ReadByte(std::uint32_t address) override { return memory_->ReadByte(address); }
    void WriteByte(std::uint32_t address, std::uint8_t value) override { memory_->WriteByte(address, value); }
    std::uint16_t ReadHalf(std::uint32_t address) override { return memory_->ReadHalf(address); }
    void WriteHalf(std::uint32_t address, std::uint16_t value) override { memory_->WriteHalf(address, value); }
    std::uint32_t ReadWord(std::uint32_t address) override { return memory_->ReadWord(address); }
    void WriteWord(std::uint32_t address, std::uint32_t value) override { memory_->WriteWord(address, value); }
    St20RamWindow Ram() override {
        return {TargetMemory::kRamBase, memory_->RamAt(TargetMemory::kRamBase), memory_->RamSize(),
                memory_->RamWrites()};
    }

private:
    TargetMemory* memory_;
};

// The receiver's CPU as the DCU sees it: running its own firmware (not modelled: it
// touches nothing), halted, or executing whatever the trap words point at once the start
// series has released it. It runs in step with the link, a set number of instructions
// per rising TCK edge, and stops for good at an instruction it does not know.
class CpuModel {
public:
    enum class Run { Firmware,
                     Halted,
                     Running,
                     Stopped };

    static constexpr std::uint32_t kHaltBit = 0x80000000;
    static constexpr std::uint32_t kTrapEnableValue = 0x00010000;
    static constexpr std::uint32_t kBootStep = 0xCC000000;
    static constexpr std::uint32_t kReleaseValue = 0;
    static constexpr std::uint32_t kTrapWptrWord = 0x80000048;
    static constexpr std::uint32_t kTrapIptrWord = 0x8000004C;
    // Where the instruction pointer shows while the receiver's own firmware runs.
    static constexpr std::uint32_t kFirmwareIptr = 0x7FF01A3C;

    CpuModel(TargetMemory* memory, const ReceiverConfig* config, const ReceiverFaults* faults, SimClock* clock);

    // A word of the address space was written through the DCU (word-aligned address).
    void AfterWordWrite(std::uint32_t address);
    // One rising edge of TCK: the receiver's time moves on, and the CPU with it.
    void TckRisingEdge();

    Run State() const { return run_; }
    const St20Cpu& Core() const { return core_; }

private:
    enum class Series { None,
                        Armed,
                        Booting };

    void WriteDcuControl(std::uint32_t value);
    void Halt();
    void StartFromTrapWords();

    TargetMemory* memory_;
    const ReceiverConfig* config_;
    const ReceiverFaults* faults_;
    SimClock* clock_;
    MemoryBus bus_;
    St20Cpu core_;
    Run run_ = Run::Firmware;
    Series series_ = Series::None;
};

}  // namespace orbvex::sim

#pragma once
#include <cstdint>

#include "sim/target_memory.h"
#include "sim/trap_program.h"
#include "sim/virtual_receiver.h"

namespace orbvex::sim {

// The receiver's CPU as the DCU sees it: running its own firmware, halted, running the
// trap program, or running wild on an image it cannot execute. It reacts to writes of the
// DCU control register and of the trap-enable register, and starts from the trap words
// once the start series has released it.
class CpuModel {
public:
    enum class Run { Firmware, Halted, Trap, Wild };

    static constexpr std::uint32_t kHaltBit = 0x80000000;
    static constexpr std::uint32_t kTrapEnableValue = 0x00010000;
    static constexpr std::uint32_t kBootStep = 0xCC000000;
    static constexpr std::uint32_t kReleaseValue = 0;
    static constexpr std::uint32_t kTrapWptrWord = 0x80000048;
    static constexpr std::uint32_t kTrapIptrWord = 0x8000004C;
    // Where the instruction pointer shows while the firmware or the trap program run, and
    // somewhere no program of ours would be when a foreign image runs wild.
    static constexpr std::uint32_t kFirmwareIptr = 0x7FF01A3C;
    static constexpr std::uint32_t kTrapLoopOffset = 0x24;
    static constexpr std::uint32_t kWildIptr = 0x0000A5E0;

    CpuModel(TargetMemory* memory, TrapProgram* trap, const ReceiverFaults* faults);

    // A word of the address space was written through the DCU (word-aligned address).
    void AfterWordWrite(std::uint32_t address);
    // The DCU is about to read count bytes from address.
    void BeforeRead(std::uint32_t address, std::uint32_t count);

    Run State() const { return run_; }

private:
    enum class Series { None, Armed, Booting };

    void WriteDcuControl(std::uint32_t value);
    void Halt();
    void StartFromTrapWords();
    bool VirtualImageAt(std::uint32_t address) const;
    bool CoversCommandWord(std::uint32_t address, std::uint32_t count) const;

    TargetMemory* memory_;
    TrapProgram* trap_;
    const ReceiverFaults* faults_;
    Run run_ = Run::Firmware;
    Series series_ = Series::None;
};

}  // namespace orbvex::sim

#pragma once
#include <cstdint>

#include "sim/nor_flash.h"
#include "sim/target_memory.h"
#include "sim/virtual_receiver.h"

namespace orbvex::sim {

// The virtual receiver's own trap program, serving the flash mailbox at its workspace:
//   +0x00 command word: 0x100 program, 0x400 erase; bit 0 set when done
//   +0x04 flash address of the chunk, +0x08 data buffer address, +0x0C byte count (1..4096)
//   +0x10 flash base
// It notices a new command when the command word is written, stays busy for a set number
// of reads of the command word, then does the work and sets the done bit.
// A command it cannot carry out (an unknown value, a range outside the flash or RAM, a
// count of 0 or above 4096, a memory interface not set up) leaves flash and RAM untouched
// and gets the error bit (bit 1) instead of the done bit, so that the host's wait runs out
// and it reports the failure with the command word it last read.
class TrapProgram {
public:
    static constexpr std::uint32_t kProgramCommand = 0x100;
    static constexpr std::uint32_t kEraseCommand = 0x400;
    static constexpr std::uint32_t kDoneBit = 0x1;
    static constexpr std::uint32_t kErrorBit = 0x2;
    static constexpr std::uint32_t kMailboxSize = 0x101C;
    static constexpr std::uint32_t kMaxProgramCount = 4096;

    TrapProgram(TargetMemory* memory, NorFlash* flash, const ReceiverConfig* config, const ReceiverFaults* faults);

    void Start(std::uint32_t workspace);
    void Stop();
    bool Running() const { return running_; }
    std::uint32_t Workspace() const { return workspace_; }

    void OnCommandWritten();
    void OnCommandPolled();

private:
    enum class Pending { None, Erase, Program };

    std::uint32_t MailboxWord(std::uint32_t offset) const;
    void SetCommandWord(std::uint32_t value);
    void Refuse();
    void Execute();

    TargetMemory* memory_;
    NorFlash* flash_;
    const ReceiverConfig* config_;
    const ReceiverFaults* faults_;
    bool running_ = false;
    std::uint32_t workspace_ = 0;
    Pending pending_ = Pending::None;
    int busyLeft_ = 0;
    std::uint32_t flashAddress_ = 0;
    std::uint32_t bufferAddress_ = 0;
    std::uint32_t count_ = 0;
};

}  // namespace orbvex::sim

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <vector>

#include "sim/sim_clock.h"
#include "sim/st20_bus.h"

namespace orbvex::sim {

// An ST20-C2 core: the three-register evaluation stack A, B, C, the workspace and
// instruction pointers, and the operand register built up by prefixes. Each instruction
// byte (prefixes included) counts as one instruction.
//
// Where the public documents leave a result open, the core reads them strictly and keeps
// a record instead of guessing: a register the documents call undefined is marked, and
// using it as an address, a jump condition, a gcall target, a shift count or data stored
// outside RAM is recorded; so are shifts by 32 or more (they give 0) and misaligned word
// and 16-bit accesses (done at the address with its low bits cleared). An operation it
// does not know stops it, recorded with the address where the instruction began.
//
// A loop that only reads RAM and comes back to the same registers repeats exactly while
// nobody writes that RAM, so once one round of it is traced, it is replayed rather than
// executed, to the very instruction a run ends at: a trap idling on its command word costs
// almost nothing, and every count and register stays exact.
class St20Cpu {
public:
    enum class Event {
        UnknownInstruction,  // value: the operation number; the CPU stops
        UndefinedAddress,    // value: the address used
        UndefinedCondition,  // value: the A that cj tested
        UndefinedTarget,     // value: the address gcall jumped to
        UndefinedShift,      // value: the shift count
        UndefinedData,       // value: the address outside RAM that was written
        ShiftBeyondWord,     // value: the shift count
        Misaligned,          // value: the address as asked for
    };

    struct Record {
        Event event;
        std::uint32_t iptr;  // where the instruction began (its first prefix)
        std::uint32_t value;
    };

    struct Registers {
        std::uint32_t a = 0, b = 0, c = 0;
        std::uint32_t wptr = 0, iptr = 0, oreg = 0;
    };

    // Bits of Undefined(): which of A, B, C hold no value the documents promise.
    static constexpr unsigned kUndefA = 1, kUndefB = 2, kUndefC = 4;
    static constexpr std::size_t kMaxRecords = 256;  // later ones are only counted

    explicit St20Cpu(St20Bus* bus) : bus_(bus) {}

    // The receiver's clock, which the timer follows; without one it follows the
    // instructions executed.
    void SetClock(const SimClock* clock) { clock_ = clock; }

    // Starts afresh at iptr with the workspace at wptr; A, B and C undefined.
    void Start(std::uint32_t iptr, std::uint32_t wptr);

    // Runs up to count instructions; returns how many ran (fewer only when it stopped;
    // the instruction it stopped at does not count).
    std::uint64_t Run(std::uint64_t count);

    bool Stopped() const { return stopped_; }
    const Registers& Regs() const { return r_; }
    unsigned Undefined() const { return undef_; }
    bool ErrorFlag() const { return error_; }
    std::uint64_t Executed() const { return executed_; }
    const std::vector<Record>& Records() const { return records_; }
    std::uint64_t RecordCount() const { return recordCount_; }

private:
    void Step();
    void Touch() {  // an effect beyond the registers: no round may be skipped over it
        effect_ = true;
        period_ = 0;
        tracing_ = false;
    }
    void LoopClosed();
    void Trace();
    void Replay(std::uint64_t end);
    void Operate(std::uint32_t operation, std::uint32_t next);
    bool Extended(std::uint32_t operation);
    bool Process(std::uint32_t operation);
    void Double(std::uint32_t low, std::uint32_t high);
    void Check(bool fails);
    std::uint32_t Timer() const;
    void Move();
    void LoopEnd();
    void Note(Event event, std::uint32_t value);

    void Push(std::uint32_t value, unsigned undefined = 0);
    void Pop();
    void Binary(std::uint32_t result);
    void AfterStore();

    std::uint32_t Address(std::uint32_t address, unsigned undefinedBit);
    std::uint32_t Aligned(std::uint32_t address, std::uint32_t mask);
    std::uint8_t Fetch(std::uint32_t address);
    std::uint32_t LoadWord(std::uint32_t address);
    void StoreWord(std::uint32_t address, std::uint32_t value, bool undefined);
    std::uint16_t LoadHalf(std::uint32_t address);
    void StoreHalf(std::uint32_t address, std::uint16_t value, bool undefined);
    std::uint8_t LoadByte(std::uint32_t address);
    void StoreByte(std::uint32_t address, std::uint8_t value, bool undefined);
    bool InRam(std::uint32_t address, std::uint32_t width) const {
        return address - ram_.base < ram_.size && ram_.size - (address - ram_.base) >= width;
    }
    std::uint8_t* RamAt(std::uint32_t address) const { return ram_.bytes + (address - ram_.base); }
    std::uint32_t Shift(bool left);

    St20Bus* bus_;
    const SimClock* clock_ = nullptr;
    std::uint64_t runStart_ = 0;     // executed_ when the current run began
    std::uint32_t timerOffset_ = 0;  // set by sttimer
    bool haltOnError_ = false;
    St20RamWindow ram_;
    Registers r_;
    unsigned undef_ = kUndefA | kUndefB | kUndefC;
    bool error_ = false;
    bool stopped_ = false;
    std::uint32_t start_ = 0;  // first byte of the instruction being executed
    std::uint64_t executed_ = 0;
    // The state at the last backward jump, and whether anything but registers changed since.
    struct Snapshot {
        Registers r;
        unsigned undef;
        bool error;
    };
    Snapshot loop_{};
    std::uint64_t loopAt_ = 0;
    bool loopValid_ = false;
    bool effect_ = true;
    bool jumpedBack_ = false;
    std::uint64_t period_ = 0;                     // instructions per round of a traced pure loop; 0: none known
    static constexpr std::size_t kMaxRound = 256;  // longer loops are run, not replayed
    bool tracing_ = false;
    std::vector<Snapshot> round_;  // the state after each instruction of the round
    std::vector<Record> records_;
    std::uint64_t recordCount_ = 0;
};

}  // namespace orbvex::sim

// SPDX-License-Identifier: GPL-2.0-or-later
// The Intel/Sharp command set of boot-block parts: one-cycle commands, two-cycle program,
// erase and lock, and a status register that answers reads after program and erase.
#include <algorithm>
#include <optional>
#include <vector>

#include "sim/nor_flash.h"

namespace orbvex::sim {
namespace {

constexpr std::uint16_t kReady = 0x80, kEraseError = 0x20, kProgramError = 0x10, kLockedError = 0x02;
constexpr std::uint16_t kClearable = 0x3A;  // SR.5, SR.4, SR.3, SR.1
constexpr std::uint8_t kLocked = 0x01, kLockedDown = 0x02;

class IntelCommandSet : public FlashCommandSet {
public:
    explicit IntelCommandSet(NorFlash& chip)
        : FlashCommandSet(chip), locks_(chip.Blocks().size(), chip.Model().lockedAtPowerUp ? kLocked : 0) {}

    std::uint16_t Read(std::uint32_t word) override;
    void Write(std::uint32_t word, std::uint16_t value) override;
    bool ReadingArray() override;

private:
    enum class Mode { Array,
                      Identifier,
                      Cfi,
                      Status,
                      ProgramSetup,
                      EraseSetup,
                      LockSetup,
                      Busy };

    void Update();
    void Command(std::uint32_t word, std::uint8_t command, std::uint16_t value);
    void Program(std::uint32_t word, std::uint16_t value);
    void Erase(std::uint32_t word, std::uint16_t value);
    void Lock(std::uint32_t word, std::uint16_t value);
    void LockBits(std::uint32_t word, std::uint16_t value);
    void SequenceError(std::uint32_t word, std::uint16_t value);
    void Begin(std::uint64_t duration, std::uint16_t errors);
    std::uint16_t Identifier(std::uint32_t word) const;
    std::size_t BlockOfWord(std::uint32_t word) const { return chip_.BlockOf(word << 1); }

    Mode mode_ = Mode::Array;
    std::uint16_t status_ = 0;         // error bits; SR.7 follows from the mode
    std::uint16_t pendingErrors_ = 0;  // what the running operation will report
    std::uint64_t end_ = 0;
    std::optional<std::size_t> erasing_;
    std::optional<std::size_t> locking_;  // Sharp: the block whose lock bit is being set
    bool unlockingAll_ = false;           // Sharp: every lock bit is being cleared
    std::vector<std::uint8_t> locks_;
};

void IntelCommandSet::Update() {
    if (mode_ != Mode::Busy || chip_.Faults().neverReady || chip_.Now() < end_) return;
    if (erasing_) chip_.EraseBlock(chip_.Blocks()[*erasing_]);
    if (locking_) locks_[*locking_] = kLocked;
    if (unlockingAll_) std::fill(locks_.begin(), locks_.end(), std::uint8_t{0});
    erasing_.reset();
    locking_.reset();
    unlockingAll_ = false;
    status_ |= pendingErrors_;
    mode_ = Mode::Status;
}

bool IntelCommandSet::ReadingArray() {
    Update();
    return mode_ == Mode::Array;
}

// The upper byte of a status read is driven 0; software looks at the low byte only.
std::uint16_t IntelCommandSet::Read(std::uint32_t word) {
    Update();
    switch (mode_) {
    case Mode::Array: return chip_.Cell(word);
    case Mode::Identifier: return Identifier(word);
    case Mode::Cfi: return chip_.CfiByte(word);
    case Mode::Busy: return status_;
    default: return static_cast<std::uint16_t>(status_ | kReady);
    }
}

std::uint16_t IntelCommandSet::Identifier(std::uint32_t word) const {
    const FlashBlock& block = chip_.Blocks()[BlockOfWord(word)];
    switch (word - (block.offset >> 1)) {
    case 0: return chip_.Shown().manufacturer;
    case 1: return chip_.Shown().device;
    case 2: return locks_[BlockOfWord(word)];
    default: return 0;
    }
}

void IntelCommandSet::Write(std::uint32_t word, std::uint16_t value) {
    Update();
    const auto command = static_cast<std::uint8_t>(value);
    switch (mode_) {
    case Mode::Busy:
        if (command != 0x70) chip_.Record(FlashViolation::Kind::WhileBusy, word << 1, value);
        return;
    case Mode::ProgramSetup: return Program(word, value);
    case Mode::EraseSetup: return Erase(word, value);
    case Mode::LockSetup: return Lock(word, value);
    default: return Command(word, command, value);
    }
}

void IntelCommandSet::Command(std::uint32_t word, std::uint8_t command, std::uint16_t value) {
    switch (command) {
    case 0xFF: mode_ = Mode::Array; return;
    case 0xF0: return;  // the other family's reset, which a probe sends to every part
    case 0x90: mode_ = Mode::Identifier; return;
    case 0x70: mode_ = Mode::Status; return;
    case 0x50: status_ &= static_cast<std::uint16_t>(~kClearable); return;
    case 0x40:
    case 0x10: mode_ = Mode::ProgramSetup; return;
    case 0x20: mode_ = Mode::EraseSetup; return;
    case 0x60: mode_ = Mode::LockSetup; return;
    case 0xB0:
    case 0xD0: return;  // suspend and resume with nothing running
    case 0x98:
        if (chip_.Shown().answersCfi) {
            mode_ = Mode::Cfi;
            return;
        }
        break;
    default: break;
    }
    chip_.Record(FlashViolation::Kind::NotACommand, word << 1, value);
}

// A locked block refuses at once; a 1 over a 0 is simply not programmed (the part only
// verifies the bits it was asked to clear), while a bit that will not clear is an error.
void IntelCommandSet::Program(std::uint32_t word, std::uint16_t value) {
    if (locks_[BlockOfWord(word)] & kLocked) {
        status_ |= kLockedError | kProgramError;
        mode_ = Mode::Status;
        return;
    }
    if ((value & ~chip_.Cell(word) & 0xFFFF) != 0) chip_.Record(FlashViolation::Kind::ZeroToOne, word << 1, value);
    const bool cleared = chip_.ProgramCell(word, value);
    Begin(cleared ? chip_.Timing().wordProgram : chip_.Timing().failAfter, cleared ? 0 : kProgramError);
}

void IntelCommandSet::Erase(std::uint32_t word, std::uint16_t value) {
    if (static_cast<std::uint8_t>(value) != 0xD0) return SequenceError(word, value);
    const std::size_t block = BlockOfWord(word);
    if (locks_[block] & kLocked) {
        status_ |= kLockedError | kEraseError;
        mode_ = Mode::Status;
        return;
    }
    erasing_ = block;
    Begin(chip_.Timing().blockErase, 0);
}

void IntelCommandSet::Lock(std::uint32_t word, std::uint16_t value) {
    if (chip_.Model().nonvolatileLocks) return LockBits(word, value);
    std::uint8_t& lock = locks_[BlockOfWord(word)];
    switch (static_cast<std::uint8_t>(value)) {
    case 0x01: lock |= kLocked; break;
    case 0x2F: lock |= kLocked | kLockedDown; break;
    case 0xD0:
        if (!(lock & kLockedDown)) lock = 0;
        break;
    default: return SequenceError(word, value);
    }
    mode_ = Mode::Array;
}

// Sharp's lock bits are cells of their own. Setting one (60/01) and clearing them all at
// once (60/D0, the only way to clear any) run like a program or an erase: the status
// register answers, SR.7 at 0 until done, and every other command is refused meanwhile.
// The master lock bit (60/F1) needs 12 V on RP#, which a receiver never gives: it fails
// with SR.4 and SR.1, as the sheet says of an attempt without it.
void IntelCommandSet::LockBits(std::uint32_t word, std::uint16_t value) {
    switch (static_cast<std::uint8_t>(value)) {
    case 0x01:
        locking_ = BlockOfWord(word);
        return Begin(chip_.Timing().lockBit, 0);
    case 0xD0:
        unlockingAll_ = true;
        return Begin(chip_.Timing().lockClear, 0);
    case 0xF1:
        status_ |= kProgramError | kLockedError;
        mode_ = Mode::Status;
        return;
    default: return SequenceError(word, value);
    }
}

// The second cycle of a two-cycle command was something else: both error bits.
void IntelCommandSet::SequenceError(std::uint32_t word, std::uint16_t value) {
    chip_.Record(FlashViolation::Kind::NotACommand, word << 1, value);
    status_ |= kEraseError | kProgramError;
    mode_ = Mode::Status;
}

void IntelCommandSet::Begin(std::uint64_t duration, std::uint16_t errors) {
    pendingErrors_ = errors;
    end_ = chip_.Now() + duration;
    mode_ = Mode::Busy;
}

}  // namespace

std::unique_ptr<FlashCommandSet> MakeIntelCommandSet(NorFlash& chip) { return std::make_unique<IntelCommandSet>(chip); }

}  // namespace orbvex::sim

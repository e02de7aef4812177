// SPDX-License-Identifier: GPL-2.0-or-later
// The AMD/JEDEC command set in word mode: unlock cycles at words 0x555 and 0x2AA, and the
// embedded program and erase algorithms reporting through DQ7, DQ6, DQ5, DQ3 and DQ2.
#include <set>

#include "sim/nor_flash.h"

namespace orbvex::sim {
namespace {

constexpr std::uint32_t kCommandMask = 0x7FF;  // address bits above A10 are don't-care
constexpr std::uint32_t kUnlock1 = 0x555;
constexpr std::uint32_t kUnlock2 = 0x2AA;
constexpr std::uint32_t kCfiAddress = 0x55;
constexpr std::uint16_t kDq7 = 0x80, kDq6 = 0x40, kDq5 = 0x20, kDq3 = 0x08, kDq2 = 0x04;

class AmdCommandSet : public FlashCommandSet {
public:
    explicit AmdCommandSet(NorFlash& chip) : FlashCommandSet(chip) {
        if (chip.Model().autoselectAtPowerUp) mode_ = Mode::Autoselect;
    }

    std::uint16_t Read(std::uint32_t word) override;
    void Write(std::uint32_t word, std::uint16_t value) override;
    bool ReadingArray() override;

private:
    enum class Mode {
        Read,
        Unlocked1,
        Unlocked2,
        ProgramSetup,
        EraseSetup,
        EraseUnlocked1,
        EraseUnlocked2,
        Autoselect,
        Cfi,
        EraseWindow,
        Busy,
        Failed,
        Bypass,
        BypassProgramSetup,
        BypassExit,  // unlock bypass: programs without unlock cycles
    };
    enum class Job { Program,
                     Erase };

    void Update();
    void Violation(FlashViolation::Kind kind, std::uint32_t word, std::uint16_t value) {
        chip_.Record(kind, word << 1, value);
    }
    void NoCommand(std::uint32_t word, std::uint16_t value) {
        Violation(FlashViolation::Kind::NotACommand, word, value);
        mode_ = Mode::Read;
    }
    void WriteIdle(std::uint32_t word, std::uint8_t command, std::uint16_t value);
    void StartProgram(std::uint32_t word, std::uint16_t value);
    void StartErase(std::uint64_t duration);
    std::uint16_t Status(std::uint32_t word);
    std::uint16_t Autoselect(std::uint32_t word) const;
    bool Finishes() const { return !chip_.Faults().neverReady; }

    Mode mode_ = Mode::Read;
    Mode idle_ = Mode::Read;  // where a finished program returns: Read or Bypass
    Job job_ = Job::Program;
    bool fails_ = false;
    std::uint64_t end_ = 0;
    std::uint16_t data_ = 0;         // what a program was asked to write
    std::set<std::size_t> erasing_;  // blocks of the erase under way
    bool toggle6_ = false;
    bool toggle2_ = false;
    bool late_ = false;  // the algorithm just ended and DQ0-DQ6 still show status
    bool cfiFromAutoselect_ = false;
};

// Time passes between bus cycles: the erase window closes, an algorithm ends.
void AmdCommandSet::Update() {
    const std::uint64_t now = chip_.Now();
    if (mode_ == Mode::EraseWindow && now >= end_) {
        mode_ = Mode::Busy;
        end_ += chip_.Timing().blockErase * erasing_.size();
    }
    if (mode_ != Mode::Busy || !Finishes() || now < end_) return;
    if (fails_) {
        mode_ = Mode::Failed;
        return;
    }
    if (job_ == Job::Erase) {
        for (std::size_t block : erasing_) chip_.EraseBlock(chip_.Blocks()[block]);
        erasing_.clear();
    }
    mode_ = idle_;
    late_ = chip_.Model().lateLowBits;
}

bool AmdCommandSet::ReadingArray() {
    Update();
    if (late_) return false;
    switch (mode_) {
    case Mode::Autoselect:
    case Mode::Cfi:
    case Mode::EraseWindow:
    case Mode::Busy:
    case Mode::Failed: return false;
    default: return true;
    }
}

std::uint16_t AmdCommandSet::Read(std::uint32_t word) {
    if (!ReadingArray() && late_) {
        // The read that first finds DQ7 true: the rest of the word is still status.
        late_ = false;
        const auto status = static_cast<std::uint16_t>(Status(word) & ~kDq7);
        return static_cast<std::uint16_t>(status | (chip_.Cell(word) & kDq7));
    }
    if (ReadingArray()) return chip_.Cell(word);
    if (mode_ == Mode::Autoselect) return Autoselect(word);
    if (mode_ == Mode::Cfi) return chip_.CfiByte(word);
    return Status(word);
}

std::uint16_t AmdCommandSet::Autoselect(std::uint32_t word) const {
    switch (word & 0xFF) {
    case 0: return chip_.Shown().manufacturer;
    case 1: return chip_.Shown().device;
    default: return 0;  // sector protection: none
    }
}

// No readable source says what a part drives on DQ8-DQ15 while it shows status. Ours
// drives there the complement of the data being programmed (0 while erasing), so that a
// poll comparing whole words with the data never sees the operation finished early.
std::uint16_t AmdCommandSet::Status(std::uint32_t word) {
    toggle6_ = !toggle6_;
    std::uint16_t status = toggle6_ ? kDq6 : 0;
    if (mode_ == Mode::Failed) status |= kDq5;
    if (job_ == Job::Program) {
        status |= static_cast<std::uint16_t>(~data_ & kDq7);
        return static_cast<std::uint16_t>(status | (~data_ & 0xFF00));
    }
    if (mode_ != Mode::EraseWindow) status |= kDq3;
    if (erasing_.count(chip_.BlockOf(word << 1)) != 0) toggle2_ = !toggle2_;
    return static_cast<std::uint16_t>(status | (toggle2_ ? kDq2 : 0));
}

void AmdCommandSet::Write(std::uint32_t word, std::uint16_t value) {
    Update();
    late_ = false;
    const auto command = static_cast<std::uint8_t>(value);
    const std::uint32_t at = word & kCommandMask;
    switch (mode_) {
    case Mode::Read: return WriteIdle(word, command, value);
    case Mode::Autoselect:
    case Mode::Cfi:
        // A query entered from autoselect goes back there at the first reset.
        if (command == 0xF0) {
            mode_ = mode_ == Mode::Cfi && cfiFromAutoselect_ ? Mode::Autoselect : Mode::Read;
            cfiFromAutoselect_ = false;
        } else if (mode_ == Mode::Autoselect && at == kCfiAddress && command == 0x98) {
            mode_ = Mode::Cfi;
            cfiFromAutoselect_ = true;
        } else {
            Violation(FlashViolation::Kind::NotACommand, word, value);
        }
        return;
    case Mode::Unlocked1:
        if (at == kUnlock2 && command == 0x55) mode_ = Mode::Unlocked2;
        else if (command == 0xF0) mode_ = Mode::Read;
        else NoCommand(word, value);
        return;
    case Mode::Unlocked2:
        if (at == kUnlock1 && command == 0x90) mode_ = Mode::Autoselect;
        else if (at == kUnlock1 && command == 0xA0) mode_ = Mode::ProgramSetup;
        else if (at == kUnlock1 && command == 0x80) mode_ = Mode::EraseSetup;
        else if (at == kUnlock1 && command == 0x20) mode_ = idle_ = Mode::Bypass;
        else if (command == 0xF0) mode_ = Mode::Read;
        else NoCommand(word, value);
        return;
    case Mode::ProgramSetup:
    case Mode::BypassProgramSetup: return StartProgram(word, value);
    case Mode::Bypass:
        if (command == 0xA0) mode_ = Mode::BypassProgramSetup;
        else if (command == 0x90) mode_ = Mode::BypassExit;
        else Violation(FlashViolation::Kind::NotACommand, word, value);
        return;
    case Mode::BypassExit:
        if (command != 0x00) Violation(FlashViolation::Kind::NotACommand, word, value);
        mode_ = idle_ = command == 0x00 ? Mode::Read : Mode::Bypass;
        return;
    case Mode::EraseSetup:
        if (at == kUnlock1 && command == 0xAA) mode_ = Mode::EraseUnlocked1;
        else NoCommand(word, value);
        return;
    case Mode::EraseUnlocked1:
        if (at == kUnlock2 && command == 0x55) mode_ = Mode::EraseUnlocked2;
        else NoCommand(word, value);
        return;
    case Mode::EraseUnlocked2:
        if (at == kUnlock1 && command == 0x10) {
            for (std::size_t i = 0; i < chip_.Blocks().size(); ++i) erasing_.insert(i);
            return StartErase(chip_.Timing().chipErase);
        }
        if (command == 0x30) {
            erasing_ = {chip_.BlockOf(word << 1)};
            mode_ = Mode::EraseWindow;
            end_ = chip_.Now() + chip_.Timing().eraseWindow;
            job_ = Job::Erase;
            fails_ = false;
            return;
        }
        NoCommand(word, value);
        return;
    case Mode::EraseWindow:
        if (command == 0x30) {
            erasing_.insert(chip_.BlockOf(word << 1));
            end_ = chip_.Now() + chip_.Timing().eraseWindow;
            return;
        }
        // Any other cycle in the window ends the erase before it began.
        erasing_.clear();
        NoCommand(word, value);
        return;
    case Mode::Busy: return Violation(FlashViolation::Kind::WhileBusy, word, value);
    case Mode::Failed:
        if (command == 0xF0) mode_ = idle_ = Mode::Read;
        else Violation(FlashViolation::Kind::WhileBusy, word, value);
        return;
    }
}

void AmdCommandSet::WriteIdle(std::uint32_t word, std::uint8_t command, std::uint16_t value) {
    const std::uint32_t at = word & kCommandMask;
    // FF is the other family's read-array command, which a probe sends to every part:
    // a wrong cycle, and such a cycle leaves the part reading its array.
    if (command == 0xF0 || command == 0xFF) return;
    if (at == kUnlock1 && command == 0xAA) {
        mode_ = Mode::Unlocked1;
    } else if (at == kCfiAddress && command == 0x98 && chip_.Shown().answersCfi) {
        mode_ = Mode::Cfi;
    } else {
        NoCommand(word, value);
    }
}

// A 0 that must become 1, or a cell bit that will not clear, keeps the algorithm
// retrying until its limit: DQ5 then reports the failure.
void AmdCommandSet::StartProgram(std::uint32_t word, std::uint16_t value) {
    const bool raises = (value & ~chip_.Cell(word) & 0xFFFF) != 0;
    if (raises) Violation(FlashViolation::Kind::ZeroToOne, word, value);
    const bool cleared = chip_.ProgramCell(word, value);
    job_ = Job::Program;
    data_ = value;
    erasing_.clear();
    fails_ = raises || !cleared;
    mode_ = Mode::Busy;
    end_ = chip_.Now() + (fails_ ? chip_.Timing().failAfter : chip_.Timing().wordProgram);
}

void AmdCommandSet::StartErase(std::uint64_t duration) {
    job_ = Job::Erase;
    fails_ = false;
    mode_ = Mode::Busy;
    end_ = chip_.Now() + duration;
}

}  // namespace

std::unique_ptr<FlashCommandSet> MakeAmdCommandSet(NorFlash& chip) { return std::make_unique<AmdCommandSet>(chip); }

}  // namespace orbvex::sim

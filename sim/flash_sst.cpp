// SPDX-License-Identifier: GPL-2.0-or-later
// The SST39VF160's command set in word mode. Like the AMD parts it guards its commands
// with unlock cycles, but at words 0x5555 and 0x2AAA (A14-A0; the bits above are
// don't-care), so that an AMD sequence at 0x555/0x2AA is no command to it. After the
// six-cycle erase prefix, 30 erases the 2-Kword sector and 50 the 32-Kword block that
// hold the address, 10 at 0x5555 the chip. 90 and 98 enter the software ID and the CFI
// query; F0 anywhere, or the three-cycle F0, leaves them.
// While it programs or erases, DQ7 reads the complement of the data (0 while erasing)
// and DQ6 toggles; it has no DQ5, DQ3 or DQ2 and no time limit: a program that asks a
// 0 to become 1 ends as usual with the 0 kept. "Any commands issued during the ...
// operation are ignored."
#include "sim/nor_flash.h"

namespace orbvex::sim {
namespace {

constexpr std::uint32_t kCommandMask = 0x7FFF;
constexpr std::uint32_t kUnlock1 = 0x5555;
constexpr std::uint32_t kUnlock2 = 0x2AAA;
constexpr std::uint32_t kBlockBytes = 0x10000;
constexpr std::uint16_t kDq7 = 0x80, kDq6 = 0x40;

class SstCommandSet : public FlashCommandSet {
public:
    using FlashCommandSet::FlashCommandSet;

    std::uint16_t Read(std::uint32_t word) override;
    void Write(std::uint32_t word, std::uint16_t value) override;
    bool ReadingArray() override;

private:
    enum class Mode { Read,
                      Unlocked1,
                      Unlocked2,
                      ProgramSetup,
                      EraseSetup,
                      EraseUnlocked1,
                      EraseUnlocked2,
                      SoftwareId,
                      Cfi,
                      Busy };

    void Update();
    void NoCommand(std::uint32_t word, std::uint16_t value) {
        chip_.Record(FlashViolation::Kind::NotACommand, word << 1, value);
        mode_ = Mode::Read;
    }
    void Command(std::uint32_t word, std::uint8_t command, std::uint16_t value);
    void Program(std::uint32_t word, std::uint16_t value);
    void Erase(std::uint32_t word, std::uint8_t command, std::uint16_t value);
    void Begin(std::uint64_t duration);

    Mode mode_ = Mode::Read;
    bool programming_ = false;
    std::uint16_t data_ = 0;
    std::uint32_t eraseFrom_ = 0, eraseSize_ = 0;  // bytes
    std::uint64_t end_ = 0;
    bool toggle6_ = false;
};

void SstCommandSet::Update() {
    if (mode_ != Mode::Busy || chip_.Faults().neverReady || chip_.Now() < end_) return;
    if (eraseSize_ != 0) chip_.EraseBlock({eraseFrom_, eraseSize_});
    eraseSize_ = 0;
    mode_ = Mode::Read;
}

bool SstCommandSet::ReadingArray() {
    Update();
    return mode_ != Mode::SoftwareId && mode_ != Mode::Cfi && mode_ != Mode::Busy;
}

std::uint16_t SstCommandSet::Read(std::uint32_t word) {
    if (ReadingArray()) return chip_.Cell(word);
    if (mode_ == Mode::Cfi) return chip_.CfiByte(word);
    if (mode_ == Mode::SoftwareId) {
        if (word == 0) return chip_.Shown().manufacturer;
        return word == 1 ? chip_.Shown().device : 0;
    }
    toggle6_ = !toggle6_;
    const std::uint16_t dq6 = toggle6_ ? kDq6 : 0;
    if (!programming_) return dq6;
    // As the AMD model does, the upper byte carries the complement of the data.
    return static_cast<std::uint16_t>(dq6 | (~data_ & (0xFF00 | kDq7)));
}

void SstCommandSet::Write(std::uint32_t word, std::uint16_t value) {
    Update();
    const auto command = static_cast<std::uint8_t>(value);
    const std::uint32_t at = word & kCommandMask;
    switch (mode_) {
    case Mode::Busy: return chip_.Record(FlashViolation::Kind::WhileBusy, word << 1, value);
    case Mode::Read:
    case Mode::SoftwareId:
    case Mode::Cfi:
        if (command == 0xF0) mode_ = Mode::Read;
        else if (at == kUnlock1 && command == 0xAA) mode_ = Mode::Unlocked1;
        else NoCommand(word, value);
        return;
    case Mode::Unlocked1:
    case Mode::EraseSetup:
    case Mode::EraseUnlocked1:
        if (mode_ == Mode::EraseSetup && at == kUnlock1 && command == 0xAA) mode_ = Mode::EraseUnlocked1;
        else if (mode_ == Mode::EraseUnlocked1 && at == kUnlock2 && command == 0x55) mode_ = Mode::EraseUnlocked2;
        else if (mode_ == Mode::Unlocked1 && at == kUnlock2 && command == 0x55) mode_ = Mode::Unlocked2;
        else NoCommand(word, value);
        return;
    case Mode::Unlocked2: return Command(word, command, value);
    case Mode::ProgramSetup: return Program(word, value);
    case Mode::EraseUnlocked2: return Erase(word, command, value);
    }
}

void SstCommandSet::Command(std::uint32_t word, std::uint8_t command, std::uint16_t value) {
    if ((word & kCommandMask) != kUnlock1) return NoCommand(word, value);
    switch (command) {
    case 0xA0: mode_ = Mode::ProgramSetup; return;
    case 0x80: mode_ = Mode::EraseSetup; return;
    case 0x90: mode_ = Mode::SoftwareId; return;
    case 0x98: mode_ = Mode::Cfi; return;
    case 0xF0: mode_ = Mode::Read; return;
    default: return NoCommand(word, value);
    }
}

void SstCommandSet::Program(std::uint32_t word, std::uint16_t value) {
    if ((value & ~chip_.Cell(word) & 0xFFFF) != 0) chip_.Record(FlashViolation::Kind::ZeroToOne, word << 1, value);
    chip_.ProgramCell(word, value);
    programming_ = true;
    data_ = value;
    Begin(chip_.Timing().wordProgram);
}

void SstCommandSet::Erase(std::uint32_t word, std::uint8_t command, std::uint16_t value) {
    const std::uint32_t offset = (word << 1) % chip_.Size();
    if (command == 0x10 && (word & kCommandMask) == kUnlock1) {
        eraseFrom_ = 0;
        eraseSize_ = chip_.Size();
        programming_ = false;
        return Begin(chip_.Timing().chipErase);
    }
    if (command == 0x30 || command == 0x50) {
        const FlashBlock sector = chip_.Blocks()[chip_.BlockOf(offset)];
        eraseFrom_ = command == 0x30 ? sector.offset : offset & ~(kBlockBytes - 1);
        eraseSize_ = command == 0x30 ? sector.size : kBlockBytes;
        programming_ = false;
        return Begin(chip_.Timing().blockErase);
    }
    NoCommand(word, value);
}

void SstCommandSet::Begin(std::uint64_t duration) {
    mode_ = Mode::Busy;
    end_ = chip_.Now() + duration;
}

}  // namespace

std::unique_ptr<FlashCommandSet> MakeSstCommandSet(NorFlash& chip) { return std::make_unique<SstCommandSet>(chip); }

}  // namespace orbvex::sim

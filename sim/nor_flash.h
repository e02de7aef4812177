// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/flash_model.h"
#include "sim/sim_clock.h"

namespace orbvex::sim {

// Something done to the flash that a real part would not take as meant.
struct FlashViolation {
    enum class Kind {
        NotACommand,  // a write cycle that starts or continues no command of the part
        ByteWrite,    // an 8-bit write cycle on the 16-bit bus
        ZeroToOne,    // a program that needs a 0 bit to become 1
        WhileBusy,    // an access the part refuses while it programs or erases
        OffBus,       // an access to the window before the memory interface is set up
    };
    Kind kind;
    std::uint32_t offset;  // bytes from the chip's base
    std::uint16_t value;   // the data written (0 for reads)
    std::uint64_t at;      // the receiver's clock, in instructions
};

std::string Describe(const FlashViolation& violation);

class FlashCommandSet;

// The receiver's NOR flash chip on a 16-bit bus: storage, and the command set of its
// model acting on it. Bus cycles go through ReadHalf/WriteHalf; the storage side doors
// (At, Set, Assign, EraseChip, Program, files) change the cells directly, the way a
// programmer in a socket would, whatever state the chip is in.
class NorFlash {
public:
    static constexpr std::uint32_t kWindowEnd = 0x80000000;  // the flash ends just below RAM
    static constexpr std::size_t kViolationsKept = 256;

    explicit NorFlash(std::uint32_t size, const SimClock* clock = nullptr);
    explicit NorFlash(const FlashModel& model, const SimClock* clock = nullptr);
    ~NorFlash();
    NorFlash(const NorFlash&) = delete;
    NorFlash& operator=(const NorFlash&) = delete;

    std::uint32_t Size() const { return static_cast<std::uint32_t>(bytes_.size()); }
    std::uint32_t Base() const { return kWindowEnd - Size(); }
    bool Contains(std::uint32_t address, std::uint32_t count) const;

    // Another part in the socket, powered up: kept bytes stay, new ones are erased.
    void SetModel(const FlashModel& model);
    const FlashModel& Model() const { return model_; }
    // Timing and faults are read at each bus cycle, so they may change at any time.
    void SetTiming(const FlashTiming* timing);
    void SetFaults(const FlashFaults* faults);
    void SetClock(const SimClock* clock) { clock_ = clock; }

    // Bus cycles at a byte offset from the base (the low bit is ignored).
    std::uint16_t ReadHalf(std::uint32_t offset);
    void WriteHalf(std::uint32_t offset, std::uint16_t value);
    // An 8-bit cycle: what the part drives on the addressed byte lane.
    std::uint8_t ReadByte(std::uint32_t offset);
    void WriteByte(std::uint32_t offset, std::uint8_t value);  // refused: the bus is 16 bits wide
    bool ReadingArray();

    const std::vector<FlashViolation>& Violations() const { return violations_; }
    std::uint64_t ViolationCount() const { return violationCount_; }  // kept or not
    void ClearViolations();
    void Record(FlashViolation::Kind kind, std::uint32_t offset, std::uint16_t value = 0);

    // Storage side doors.
    void EraseChip();
    void Program(std::uint32_t offset, const std::uint8_t* data, std::uint32_t count);
    std::uint8_t At(std::uint32_t offset) const { return bytes_[offset]; }
    void Set(std::uint32_t offset, std::uint8_t value) { bytes_[offset] = value; }
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
    // Replaces the contents; what the image does not cover is erased. False, and
    // nothing changed, when the image is larger than the chip.
    bool Assign(const std::vector<std::uint8_t>& image);
    bool LoadFile(const std::string& path);
    bool SaveFile(const std::string& path) const;

    // For the command sets: the cells as the part's own algorithms reach them.
    std::uint64_t Now() const { return clock_ ? clock_->instructions : 0; }
    const FlashTiming& Timing() const { return *timing_; }
    const FlashFaults& Faults() const { return *faults_; }
    const FlashModel& Shown() const { return faults_->unknownChip ? unknown_ : model_; }  // as IDs and CFI show it
    std::uint16_t Cell(std::uint32_t word) const;
    // Programs one word (bits only clear); false when a cell bit failed to clear.
    bool ProgramCell(std::uint32_t word, std::uint16_t value);
    void EraseBlock(const FlashBlock& block);
    const std::vector<FlashBlock>& Blocks() const { return blocks_; }
    std::size_t BlockOf(std::uint32_t offset) const;
    std::uint8_t CfiByte(std::uint32_t word) const;

private:
    void Resize(std::uint32_t size);
    void Rebuild();

    std::vector<std::uint8_t> bytes_;
    FlashModel model_;
    FlashModel unknown_;
    std::vector<FlashBlock> blocks_;
    std::vector<std::uint8_t> cfi_;
    const SimClock* clock_;
    const FlashTiming* timing_;
    const FlashFaults* faults_;
    std::unique_ptr<FlashCommandSet> commands_;
    std::vector<FlashViolation> violations_;
    std::uint64_t violationCount_ = 0;
};

// The part's reaction to bus cycles in word addresses; one per command set.
class FlashCommandSet {
public:
    explicit FlashCommandSet(NorFlash& chip) : chip_(chip) {}
    virtual ~FlashCommandSet() = default;
    virtual std::uint16_t Read(std::uint32_t word) = 0;
    virtual void Write(std::uint32_t word, std::uint16_t value) = 0;
    virtual bool ReadingArray() = 0;

protected:
    NorFlash& chip_;
};

std::unique_ptr<FlashCommandSet> MakeAmdCommandSet(NorFlash& chip);
std::unique_ptr<FlashCommandSet> MakeIntelCommandSet(NorFlash& chip);
std::unique_ptr<FlashCommandSet> MakeSstCommandSet(NorFlash& chip);

}  // namespace orbvex::sim

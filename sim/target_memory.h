// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <vector>

#include "sim/nor_flash.h"
#include "sim/virtual_receiver.h"

namespace orbvex::sim {

// The CPU's address space as the DCU and the CPU reach it: control registers low, the
// flash window below 0x80000000 (behind the memory interface), RAM from 0x80000000.
// What the CPU makes of register writes is the CPU model's business.
class TargetMemory {
public:
    static constexpr std::uint32_t kEmiRegister = 0x2030;
    static constexpr std::uint32_t kProbeRegister = 0x3000;
    static constexpr std::uint32_t kDcuControl = 0x3004;
    static constexpr std::uint32_t kJtiptr = 0x3080;
    static constexpr std::uint32_t kTrapEnable = 0x308C;
    static constexpr std::uint32_t kEmiFlashSetting = 0x000016D1;
    static constexpr std::uint32_t kProbeValue = 0x00000001;
    static constexpr std::uint32_t kRamBase = 0x80000000;

    TargetMemory(const ReceiverConfig* config, const ReceiverFaults* faults, NorFlash* flash);

    // Follows the configured RAM and flash sizes (they may change between messages).
    void ApplyGeometry();

    // Bus cycles, shared by the DCU and the CPU. Unmapped addresses read 0 and ignore
    // writes. Until the memory interface is set up the flash window is off the bus: reads
    // give noise, writes do nothing, and both are recorded. Then the chip sits there on a
    // 16-bit bus: a half access is one cycle, a word access two (low half first), and a
    // byte write is refused and recorded. Reads return what the chip drives: array data,
    // or status and identifiers when it is not reading its array. Half and word accesses
    // ignore the low address bits they cannot use.
    std::uint8_t ReadByte(std::uint32_t address);
    void WriteByte(std::uint32_t address, std::uint8_t value);
    std::uint16_t ReadHalf(std::uint32_t address);
    void WriteHalf(std::uint32_t address, std::uint16_t value);
    std::uint32_t ReadWord(std::uint32_t address);
    void WriteWord(std::uint32_t address, std::uint32_t value);

    // Side doors: the stored contents, flash included whatever the EMI holds.
    std::uint8_t PeekByte(std::uint32_t address) const;
    std::uint32_t PeekWord(std::uint32_t address) const;
    void PokeByte(std::uint32_t address, std::uint8_t value);
    void PokeWord(std::uint32_t address, std::uint32_t value);

    std::uint32_t Register(std::uint32_t address) const;
    void SetRegister(std::uint32_t address, std::uint32_t value);
    void SetJtiptr(std::uint32_t value) { jtiptr_ = value; }

    bool FlashEnabled() const { return emi_ == kEmiFlashSetting; }
    bool InRam(std::uint32_t address, std::uint32_t count) const;
    // The flash's chip select covers at least the 1 MB below RAM. A smaller part decodes
    // only its own address lines, so it repeats through that megabyte.
    std::uint32_t FlashWindowBase() const;
    bool InFlashWindow(std::uint32_t address) const {
        return address >= FlashWindowBase() && address < NorFlash::kWindowEnd;
    }
    std::uint32_t FlashOffset(std::uint32_t address) const { return (address - FlashWindowBase()) % flash_->Size(); }
    NorFlash& Flash() { return *flash_; }
    std::uint8_t* RamAt(std::uint32_t address) { return ram_.data() + (address - kRamBase); }
    std::uint32_t RamSize() const { return static_cast<std::uint32_t>(ram_.size()); }
    std::uint64_t RamWrites() const { return ramWrites_; }  // through the calls above, not RamAt()

private:
    std::uint32_t* RegisterSlot(std::uint32_t wordAddress);
    std::uint8_t Noise();
    bool FlashOnBus(std::uint32_t address);  // in the window: records an access while it is off

    const ReceiverConfig* config_;
    const ReceiverFaults* faults_;
    NorFlash* flash_;
    std::vector<std::uint8_t> ram_;
    std::uint64_t ramWrites_ = 0;
    std::uint32_t emi_ = 0;
    std::uint32_t probe_ = kProbeValue;
    std::uint32_t dcuControl_ = 0;
    std::uint32_t jtiptr_ = 0;
    std::uint32_t trapEnable_ = 0;
    std::uint32_t noise_ = 0x2545F491;
};

}  // namespace orbvex::sim

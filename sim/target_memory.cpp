// SPDX-License-Identifier: GPL-2.0-or-later
#include "sim/target_memory.h"

#include <algorithm>

namespace orbvex::sim {
namespace {

constexpr std::uint32_t kMinRam = 4u << 20;
constexpr std::uint32_t kMaxRam = 256u << 20;
constexpr std::uint32_t kSmallestFlashWindow = 1u << 20;

// A named part brings its own size; otherwise the default part of the configured size.
const FlashModel& FlashModelOf(const ReceiverConfig& config) {
    const FlashModel* named = config.flashChip.empty() ? nullptr : FindFlashModel(config.flashChip);
    return named ? *named : DefaultFlashModel(config.flashSize);
}

std::uint32_t RamSizeOf(const ReceiverConfig& config) {
    if (config.ramSize < kMinRam) return kMinRam;
    if (config.ramSize > kMaxRam) return kMaxRam;
    return config.ramSize & ~3u;
}

}  // namespace

TargetMemory::TargetMemory(const ReceiverConfig* config, const ReceiverFaults* faults, NorFlash* flash)
    : config_(config), faults_(faults), flash_(flash) {
    flash_->SetTiming(&config_->flashTiming);
    flash_->SetFaults(&faults_->flash);
    ApplyGeometry();
}

void TargetMemory::ApplyGeometry() {
    const FlashModel& model = FlashModelOf(*config_);
    if (flash_->Model().name != model.name) flash_->SetModel(model);
    const std::uint32_t ramSize = RamSizeOf(*config_);
    if (ram_.size() != ramSize) ram_.resize(ramSize, 0);
}

std::uint32_t TargetMemory::FlashWindowBase() const {
    return NorFlash::kWindowEnd - std::max(flash_->Size(), kSmallestFlashWindow);
}

bool TargetMemory::InRam(std::uint32_t address, std::uint32_t count) const {
    if (address < kRamBase) return false;
    const std::uint64_t end = static_cast<std::uint64_t>(address - kRamBase) + count;
    return end <= ram_.size();
}

std::uint8_t TargetMemory::ReadByte(std::uint32_t address) {
    if (address >= kRamBase) {
        const std::uint32_t offset = address - kRamBase;
        return offset < ram_.size() ? ram_[offset] : 0;
    }
    if (InFlashWindow(address)) return FlashOnBus(address) ? flash_->ReadByte(FlashOffset(address)) : Noise();
    const std::uint32_t word = address & ~3u;
    const std::uint32_t shift = (address & 3u) * 8;
    if (word == kJtiptr && faults_->jtiptrValue) return static_cast<std::uint8_t>(*faults_->jtiptrValue >> shift);
    return static_cast<std::uint8_t>(Register(word) >> shift);
}

void TargetMemory::WriteByte(std::uint32_t address, std::uint8_t value) {
    if (address >= kRamBase) {
        const std::uint32_t offset = address - kRamBase;
        if (offset < ram_.size()) ram_[offset] = value;
        ++ramWrites_;
        return;
    }
    if (InFlashWindow(address)) {
        if (FlashOnBus(address)) flash_->WriteByte(FlashOffset(address), value);
        return;
    }
    if (address == kJtiptr) return;
    std::uint32_t* slot = RegisterSlot(address & ~3u);
    if (slot == nullptr || slot == &jtiptr_ || slot == &probe_) return;
    const std::uint32_t shift = (address & 3u) * 8;
    *slot = (*slot & ~(0xFFu << shift)) | (static_cast<std::uint32_t>(value) << shift);
}

std::uint16_t TargetMemory::ReadHalf(std::uint32_t address) {
    address &= ~1u;
    if (InFlashWindow(address)) {
        if (FlashOnBus(address)) return flash_->ReadHalf(FlashOffset(address));
        return static_cast<std::uint16_t>(Noise() | (Noise() << 8));
    }
    return static_cast<std::uint16_t>(ReadByte(address) | (ReadByte(address + 1) << 8));
}

void TargetMemory::WriteHalf(std::uint32_t address, std::uint16_t value) {
    address &= ~1u;
    if (InFlashWindow(address)) {
        if (FlashOnBus(address)) flash_->WriteHalf(FlashOffset(address), value);
        return;
    }
    WriteByte(address, static_cast<std::uint8_t>(value));
    WriteByte(address + 1, static_cast<std::uint8_t>(value >> 8));
}

std::uint32_t TargetMemory::ReadWord(std::uint32_t address) {
    address &= ~3u;
    if (InRam(address, 4)) {
        const std::uint8_t* cell = RamAt(address);
        return cell[0] | (cell[1] << 8) | (cell[2] << 16) | (static_cast<std::uint32_t>(cell[3]) << 24);
    }
    const std::uint16_t low = ReadHalf(address);
    return low | (static_cast<std::uint32_t>(ReadHalf(address + 2)) << 16);
}

void TargetMemory::WriteWord(std::uint32_t address, std::uint32_t value) {
    address &= ~3u;
    if (InRam(address, 4)) {
        std::uint8_t* cell = RamAt(address);
        for (int i = 0; i < 4; ++i) cell[i] = static_cast<std::uint8_t>(value >> (8 * i));
        ++ramWrites_;
        return;
    }
    WriteHalf(address, static_cast<std::uint16_t>(value));
    WriteHalf(address + 2, static_cast<std::uint16_t>(value >> 16));
}

bool TargetMemory::FlashOnBus(std::uint32_t address) {
    if (FlashEnabled()) return true;
    flash_->Record(FlashViolation::Kind::OffBus, FlashOffset(address));
    return false;
}

std::uint8_t TargetMemory::PeekByte(std::uint32_t address) const {
    if (address >= kRamBase) {
        const std::uint32_t offset = address - kRamBase;
        return offset < ram_.size() ? ram_[offset] : 0;
    }
    if (InFlashWindow(address)) return flash_->At(FlashOffset(address));
    return static_cast<std::uint8_t>(Register(address & ~3u) >> ((address & 3u) * 8));
}

std::uint32_t TargetMemory::PeekWord(std::uint32_t address) const {
    std::uint32_t word = 0;
    for (std::uint32_t i = 0; i < 4; ++i) word |= static_cast<std::uint32_t>(PeekByte(address + i)) << (8 * i);
    return word;
}

void TargetMemory::PokeByte(std::uint32_t address, std::uint8_t value) {
    if (address >= kRamBase) {
        const std::uint32_t offset = address - kRamBase;
        if (offset < ram_.size()) ram_[offset] = value;
        ++ramWrites_;
        return;
    }
    if (InFlashWindow(address)) {
        flash_->Set(FlashOffset(address), value);
        return;
    }
    if (std::uint32_t* slot = RegisterSlot(address & ~3u)) {
        const std::uint32_t shift = (address & 3u) * 8;
        *slot = (*slot & ~(0xFFu << shift)) | (static_cast<std::uint32_t>(value) << shift);
    }
}

void TargetMemory::PokeWord(std::uint32_t address, std::uint32_t value) {
    for (std::uint32_t i = 0; i < 4; ++i) PokeByte(address + i, static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint32_t TargetMemory::Register(std::uint32_t address) const {
    switch (address) {
    case kEmiRegister: return emi_;
    case kProbeRegister: return probe_;
    case kDcuControl: return dcuControl_;
    case kJtiptr: return jtiptr_;
    case kTrapEnable: return trapEnable_;
    default: return 0;
    }
}

void TargetMemory::SetRegister(std::uint32_t address, std::uint32_t value) {
    if (std::uint32_t* slot = RegisterSlot(address)) *slot = value;
}

std::uint32_t* TargetMemory::RegisterSlot(std::uint32_t wordAddress) {
    switch (wordAddress) {
    case kEmiRegister: return &emi_;
    case kProbeRegister: return &probe_;
    case kDcuControl: return &dcuControl_;
    case kJtiptr: return &jtiptr_;
    case kTrapEnable: return &trapEnable_;
    default: return nullptr;
    }
}

// An undriven data bus: values that change from read to read and follow no contents.
std::uint8_t TargetMemory::Noise() {
    noise_ ^= noise_ << 13;
    noise_ ^= noise_ >> 17;
    noise_ ^= noise_ << 5;
    return static_cast<std::uint8_t>(noise_ >> 11);
}

}  // namespace orbvex::sim

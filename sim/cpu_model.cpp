#include "sim/cpu_model.h"

#include <vector>

namespace orbvex::sim {

CpuModel::CpuModel(TargetMemory* memory, TrapProgram* trap, const ReceiverFaults* faults)
    : memory_(memory), trap_(trap), faults_(faults) {
    memory_->SetJtiptr(kFirmwareIptr);
}

void CpuModel::AfterWordWrite(std::uint32_t address) {
    switch (address) {
    case TargetMemory::kTrapEnable:
        if (memory_->Register(address) == kTrapEnableValue) series_ = Series::Armed;
        return;
    case TargetMemory::kDcuControl:
        WriteDcuControl(memory_->Register(address));
        return;
    default:
        if (trap_->Running() && CoversCommandWord(address, 4)) trap_->OnCommandWritten();
        return;
    }
}

void CpuModel::BeforeRead(std::uint32_t address, std::uint32_t count) {
    if (trap_->Running() && CoversCommandWord(address, count)) trap_->OnCommandPolled();
}

void CpuModel::WriteDcuControl(std::uint32_t value) {
    if (faults_->haltIgnored) {
        memory_->SetRegister(TargetMemory::kDcuControl, value & ~kHaltBit);
    } else if (value & kHaltBit) {
        Halt();
    }
    // The start series: trap enabled, the boot step, then the control register released.
    if (series_ == Series::Armed && value == kBootStep) {
        series_ = Series::Booting;
    } else if (series_ == Series::Booting && value == kReleaseValue) {
        series_ = Series::None;
        StartFromTrapWords();
    }
}

void CpuModel::Halt() {
    trap_->Stop();
    run_ = Run::Halted;
}

void CpuModel::StartFromTrapWords() {
    const std::uint32_t iptr = memory_->PeekWord(kTrapIptrWord);
    const std::uint32_t wptr = memory_->PeekWord(kTrapWptrWord);
    const std::uint32_t imageSize = static_cast<std::uint32_t>(VirtualTrapImage().size());
    const bool workspaceClear = wptr >= iptr + imageSize && memory_->InRam(wptr, TrapProgram::kMailboxSize);
    if (VirtualImageAt(iptr) && workspaceClear) {
        run_ = Run::Trap;
        trap_->Start(wptr);
        memory_->SetJtiptr(iptr + kTrapLoopOffset);
    } else {
        run_ = Run::Wild;
        trap_->Stop();
        memory_->SetJtiptr(kWildIptr);
    }
}

bool CpuModel::VirtualImageAt(std::uint32_t address) const {
    const std::vector<std::uint8_t> image = VirtualTrapImage();
    if (!memory_->InRam(address, static_cast<std::uint32_t>(image.size()))) return false;
    for (std::uint32_t i = 0; i < image.size(); ++i) {
        if (memory_->PeekByte(address + i) != image[i]) return false;
    }
    return true;
}

bool CpuModel::CoversCommandWord(std::uint32_t address, std::uint32_t count) const {
    const std::uint64_t command = trap_->Workspace();
    return address <= command && command < static_cast<std::uint64_t>(address) + count;
}

}  // namespace orbvex::sim

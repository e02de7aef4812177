// SPDX-License-Identifier: GPL-2.0-or-later
#include "sim/cpu_model.h"

namespace orbvex::sim {

CpuModel::CpuModel(TargetMemory* memory, const ReceiverConfig* config, const ReceiverFaults* faults,
                   SimClock* clock)
    : memory_(memory), config_(config), faults_(faults), clock_(clock), bus_(memory), core_(&bus_) {
    core_.SetClock(clock_);
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
        return;
    }
}

void CpuModel::TckRisingEdge() {
    const int rate = config_->cpuRate > 0 ? config_->cpuRate : 0;
    clock_->instructions += static_cast<std::uint64_t>(rate);
    if (run_ != Run::Running) return;
    core_.Run(static_cast<std::uint64_t>(rate));
    if (core_.Stopped()) run_ = Run::Stopped;
    memory_->SetJtiptr(core_.Regs().iptr);
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

void CpuModel::Halt() { run_ = Run::Halted; }

void CpuModel::StartFromTrapWords() {
    const std::uint32_t iptr = memory_->PeekWord(kTrapIptrWord);
    core_.Start(iptr, memory_->PeekWord(kTrapWptrWord));
    run_ = Run::Running;
    memory_->SetJtiptr(iptr);
}

}  // namespace orbvex::sim

// SPDX-License-Identifier: GPL-2.0-or-later
#include "sim/virtual_receiver.h"

#include "sim/cpu_model.h"
#include "sim/dcu_link.h"
#include "sim/dcu_messages.h"
#include "sim/nor_flash.h"
#include "sim/sim_clock.h"
#include "sim/tap.h"
#include "sim/target_memory.h"

namespace orbvex::sim {
namespace {

// Status register bits other than TDO, as an idle printer port shows them:
// not busy, no acknowledge pulse, no paper-out, no error, reserved bits high.
constexpr std::uint8_t kStatusIdle = 0xCF;

}  // namespace

struct VirtualReceiver::State {
    explicit State(const ReceiverConfig& initial)
        : config(initial),
          flash(0x100000, &clock),
          memory(&config, &faults, &flash),
          cpu(&memory, &config, &faults, &clock),
          messages(&memory, &cpu, &config, &faults, &counters),
          link(&config, &faults, &counters, &messages),
          tap(&config.idcode, &link) {}

    bool IsSideRegister(std::uint16_t port) const {
        if (dataPort < 0) return false;
        const int offset = port - dataPort;
        return offset == 1 || offset == 2 || (offset >= 0x400 && offset <= 0x402);
    }

    bool Tdo() const {
        switch (faults.tdoStuck) {
        case TdoStuck::Low: return false;
        case TdoStuck::High: return true;
        case TdoStuck::None: break;
        }
        return tap.Tdo();
    }

    ReceiverConfig config;
    ReceiverFaults faults;
    ReceiverCounters counters;
    SimClock clock;
    NorFlash flash;
    TargetMemory memory;
    CpuModel cpu;
    DcuMessages messages;
    DcuLink link;
    Tap tap;

    int dataPort = -1;  // the base the host drives, learnt from its data-register writes
    std::uint8_t data = 0;
    std::uint8_t control = 0;
    bool tckHigh = false;
    bool resetHeld = false;
};

VirtualReceiver::VirtualReceiver(ReceiverConfig config) : state_(new State(config)) {}

VirtualReceiver::~VirtualReceiver() { delete state_; }

std::uint8_t VirtualReceiver::Read(std::uint16_t port) {
    State& s = *state_;
    ++s.counters.portReads;
    if (port == s.dataPort) return s.data;
    if (s.dataPort >= 0 && port == s.dataPort + 2) return s.control;
    return static_cast<std::uint8_t>(kStatusIdle | (s.Tdo() ? kStatusTdo : 0));
}

void VirtualReceiver::Write(std::uint16_t port, std::uint8_t value) {
    State& s = *state_;
    ++s.counters.portWrites;
    if (port != s.dataPort) {
        if (s.IsSideRegister(port)) {
            s.control = value;
            return;
        }
        s.dataPort = port;
    }
    s.data = value;
    const bool tck = (value & kDataTck) != 0;
    const bool rising = tck && !s.tckHigh;
    const bool falling = !tck && s.tckHigh;
    s.tckHigh = tck;
    if (rising) {
        ++s.counters.tckCycles;
        s.cpu.TckRisingEdge();  // the CPU's clock is the link's, reset line or not
    }

    if ((value & kDataReset) == 0) {
        // The reset line holds the TAP and the DCU's link, not the CPU.
        if (!s.resetHeld) {
            s.resetHeld = true;
            s.tap.HoldReset();
            s.link.Reset();
        }
        return;
    }
    s.resetHeld = false;
    if (rising) {
        s.tap.RisingEdge((value & kDataTms) != 0, (value & kDataTdi) != 0);
    } else if (falling) {
        s.tap.FallingEdge();
    }
}

ReceiverConfig& VirtualReceiver::Config() { return state_->config; }
ReceiverFaults& VirtualReceiver::Faults() { return state_->faults; }

std::uint8_t VirtualReceiver::PeekByte(std::uint32_t address) const {
    state_->memory.ApplyGeometry();
    return state_->memory.PeekByte(address);
}

std::uint32_t VirtualReceiver::PeekWord(std::uint32_t address) const {
    state_->memory.ApplyGeometry();
    return state_->memory.PeekWord(address);
}

void VirtualReceiver::PokeWord(std::uint32_t address, std::uint32_t value) {
    state_->memory.ApplyGeometry();
    state_->memory.PokeWord(address, value);
}

std::uint32_t VirtualReceiver::FlashBase() const {
    state_->memory.ApplyGeometry();
    return state_->flash.Base();
}

const std::vector<std::uint8_t>& VirtualReceiver::Flash() const {
    state_->memory.ApplyGeometry();
    return state_->flash.Bytes();
}

void VirtualReceiver::SetFlash(const std::vector<std::uint8_t>& image) {
    state_->memory.ApplyGeometry();
    if (image.size() > state_->flash.Size()) {
        state_->flash.Assign(std::vector<std::uint8_t>(image.begin(), image.begin() + state_->flash.Size()));
    } else {
        state_->flash.Assign(image);
    }
}

bool VirtualReceiver::LoadFlashImage(const std::string& path) {
    state_->memory.ApplyGeometry();
    return state_->flash.LoadFile(path);
}

bool VirtualReceiver::SaveFlashImage(const std::string& path) const {
    state_->memory.ApplyGeometry();
    return state_->flash.SaveFile(path);
}

const FlashModel& VirtualReceiver::FlashChip() const {
    state_->memory.ApplyGeometry();
    return state_->flash.Model();
}

const std::vector<FlashViolation>& VirtualReceiver::FlashViolations() const { return state_->flash.Violations(); }
void VirtualReceiver::ClearFlashViolations() { state_->flash.ClearViolations(); }

bool VirtualReceiver::CpuHalted() const { return state_->cpu.State() == CpuModel::Run::Halted; }
bool VirtualReceiver::TrapRunning() const { return state_->cpu.State() == CpuModel::Run::Running; }
bool VirtualReceiver::CpuStopped() const { return state_->cpu.State() == CpuModel::Run::Stopped; }
const std::vector<CpuRecord>& VirtualReceiver::CpuRecords() const { return state_->cpu.Core().Records(); }
std::uint64_t VirtualReceiver::CpuInstructions() const { return state_->cpu.Core().Executed(); }

ReceiverCounters VirtualReceiver::Counters() const { return state_->counters; }
void VirtualReceiver::ResetCounters() { state_->counters = ReceiverCounters{}; }

void VirtualReceiver::RecordMessages(bool on) { state_->messages.Record(on); }
const std::vector<DcuMessageRecord>& VirtualReceiver::Messages() const { return state_->messages.Records(); }
void VirtualReceiver::ClearMessages() { state_->messages.ClearRecords(); }

}  // namespace orbvex::sim

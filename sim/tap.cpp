// SPDX-License-Identifier: GPL-2.0-or-later
#include "sim/tap.h"

#include "sim/dcu_link.h"

namespace orbvex::sim {
namespace {

using S = Tap::State;

// Next state for TMS 0 and TMS 1, indexed by the current state.
constexpr S kNext[16][2] = {
    /* TestLogicReset */ {S::RunTestIdle, S::TestLogicReset},
    /* RunTestIdle    */ {S::RunTestIdle, S::SelectDrScan},
    /* SelectDrScan   */ {S::CaptureDr, S::SelectIrScan},
    /* CaptureDr      */ {S::ShiftDr, S::Exit1Dr},
    /* ShiftDr        */ {S::ShiftDr, S::Exit1Dr},
    /* Exit1Dr        */ {S::PauseDr, S::UpdateDr},
    /* PauseDr        */ {S::PauseDr, S::Exit2Dr},
    /* Exit2Dr        */ {S::ShiftDr, S::UpdateDr},
    /* UpdateDr       */ {S::RunTestIdle, S::SelectDrScan},
    /* SelectIrScan   */ {S::CaptureIr, S::TestLogicReset},
    /* CaptureIr      */ {S::ShiftIr, S::Exit1Ir},
    /* ShiftIr        */ {S::ShiftIr, S::Exit1Ir},
    /* Exit1Ir        */ {S::PauseIr, S::UpdateIr},
    /* PauseIr        */ {S::PauseIr, S::Exit2Ir},
    /* Exit2Ir        */ {S::ShiftIr, S::UpdateIr},
    /* UpdateIr       */ {S::RunTestIdle, S::SelectDrScan},
};

}  // namespace

Tap::Tap(const std::uint32_t* idcode, DcuLink* dcu) : idcode_(idcode), dcu_(dcu) {}

void Tap::RisingEdge(bool tms, bool tdi) {
    switch (state_) {
    case S::CaptureDr:
        CaptureDataRegister();
        break;
    case S::ShiftDr:
        ShiftDataRegister(tdi);
        break;
    case S::CaptureIr:
        irShift_ = kIrCapture;
        break;
    case S::ShiftIr:
        irShift_ = static_cast<std::uint8_t>((irShift_ >> 1) | (tdi ? 1u << (kIrLength - 1) : 0u));
        break;
    default:
        break;
    }
    state_ = kNext[static_cast<int>(state_)][tms ? 1 : 0];
    if (state_ == S::TestLogicReset) instruction_ = kIdcodeInstruction;
}

void Tap::FallingEdge() {
    switch (state_) {
    case S::ShiftDr:
        tdo_ = instruction_ == kDcuInstruction ? dcuOut_ : (drShift_ & 1u) != 0;
        break;
    case S::ShiftIr:
        tdo_ = (irShift_ & 1u) != 0;
        break;
    case S::UpdateIr:
        instruction_ = irShift_;
        tdo_ = true;
        break;
    default:
        tdo_ = true;
        break;
    }
}

void Tap::HoldReset() {
    state_ = S::TestLogicReset;
    instruction_ = kIdcodeInstruction;
    tdo_ = true;
}

void Tap::CaptureDataRegister() {
    if (instruction_ == kIdcodeInstruction) {
        drShift_ = *idcode_;
    } else if (instruction_ == kDcuInstruction) {
        dcuOut_ = dcu_->Output();
    } else {
        drShift_ = 0;  // BYPASS captures 0
    }
}

void Tap::ShiftDataRegister(bool tdi) {
    if (instruction_ == kIdcodeInstruction) {
        drShift_ = (drShift_ >> 1) | (tdi ? 0x80000000u : 0u);
    } else if (instruction_ == kDcuInstruction) {
        dcuOut_ = dcu_->Clock(tdi);
    } else {
        drShift_ = tdi ? 1u : 0u;
    }
}

}  // namespace orbvex::sim

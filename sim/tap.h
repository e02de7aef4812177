// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>

namespace orbvex::sim {

class DcuLink;

// The CPU's IEEE 1149.1 test access port: the 16-state controller, a 5-bit instruction
// register and the data registers behind it (IDCODE, BYPASS and the DCU's serial path).
// TMS and TDI are taken on the rising edge of TCK, TDO moves on the falling edge.
class Tap {
public:
    enum class State : std::uint8_t {
        TestLogicReset,
        RunTestIdle,
        SelectDrScan,
        CaptureDr,
        ShiftDr,
        Exit1Dr,
        PauseDr,
        Exit2Dr,
        UpdateDr,
        SelectIrScan,
        CaptureIr,
        ShiftIr,
        Exit1Ir,
        PauseIr,
        Exit2Ir,
        UpdateIr,
    };

    static constexpr std::uint8_t kIrLength = 5;
    static constexpr std::uint8_t kIrCapture = 0x01;  // 1 in the lowest bit, 0 in the next
    static constexpr std::uint8_t kIdcodeInstruction = 0x02;
    static constexpr std::uint8_t kDcuInstruction = 0x10;

    // The IDCODE is read through the pointer at every capture, so that a change of the
    // receiver's settings takes effect at the next scan.
    Tap(const std::uint32_t* idcode, DcuLink* dcu);

    void RisingEdge(bool tms, bool tdi);
    void FallingEdge();
    // The reset line held low: Test-Logic-Reset with the IDCODE instruction.
    void HoldReset();

    bool Tdo() const { return tdo_; }
    State CurrentState() const { return state_; }
    std::uint8_t Instruction() const { return instruction_; }

private:
    void CaptureDataRegister();
    void ShiftDataRegister(bool tdi);

    const std::uint32_t* idcode_;
    DcuLink* dcu_;
    State state_ = State::TestLogicReset;
    std::uint8_t instruction_ = kIdcodeInstruction;
    std::uint8_t irShift_ = 0;
    std::uint32_t drShift_ = 0;
    bool dcuOut_ = false;
    bool tdo_ = true;  // a released TDO line reads high through the port's pull-up
};

}  // namespace orbvex::sim

// The receiver's TAP seen through the port: state walks, IDCODE, BYPASS, the reset line.
#include <gtest/gtest.h>

#include "test_cable.h"

namespace {

using orbvex::sim::ReceiverConfig;
using orbvex::sim::TdoStuck;
using orbvex::sim::VirtualReceiver;
using simtest::TestCable;

TEST(VirtualTap, IdcodeReadsBackDefaultAndSetValue) {
    VirtualReceiver r;
    TestCable cable(r);
    EXPECT_EQ(cable.ReadIdcode(), 0x10006A5Bu);

    r.Config().idcode = 0x8C9D1041;
    EXPECT_EQ(cable.ReadIdcode(), 0x8C9D1041u) << "a new IDCODE shows at the next capture";

    ReceiverConfig config;
    config.idcode = 0x0019D041;
    VirtualReceiver other(config);
    TestCable otherCable(other);
    EXPECT_EQ(otherCable.ReadIdcode(), 0x0019D041u);
}

TEST(VirtualTap, TestLogicResetSelectsIdcodeWithoutAnInstruction) {
    VirtualReceiver r;
    TestCable cable(r);
    cable.TapReset();
    EXPECT_EQ(cable.ShiftDr(0, 32), 0x10006A5Bu);
}

TEST(VirtualTap, InstructionRegisterCapturesOneZeroPattern) {
    VirtualReceiver r;
    TestCable cable(r);
    cable.TapReset();
    EXPECT_EQ(cable.ShiftIr(0x10), 0x01u);
    EXPECT_EQ(cable.ShiftIr(0x1F), 0x01u);
}

TEST(VirtualTap, OtherInstructionsAreBypassWithOneBitDelay) {
    VirtualReceiver r;
    TestCable cable(r);
    for (std::uint32_t instruction : {0x00u, 0x1Fu, 0x03u, 0x11u}) {
        cable.TapReset();
        cable.ShiftIr(instruction);
        // BYPASS captures 0 and delays TDI by one clock.
        const std::uint64_t pattern = 0x2D5;
        EXPECT_EQ(cable.ShiftDr(pattern, 12), (pattern << 1) & 0xFFF) << "instruction " << instruction;
    }
}

TEST(VirtualTap, IdcodeRegisterShiftsTdiThrough) {
    VirtualReceiver r;
    TestCable cable(r);
    cable.TapReset();
    cable.ShiftIr(0x02);
    const std::uint64_t out = cable.ShiftDr(0xABCD, 48);
    EXPECT_EQ(out & 0xFFFFFFFFu, 0x10006A5Bu);
    EXPECT_EQ(out >> 32, 0xABCDu) << "bits shifted in come out 32 clocks later";
}

TEST(VirtualTap, PauseAndExitStatesKeepTheShiftedValue) {
    VirtualReceiver r;
    TestCable cable(r);
    cable.TapReset();
    cable.ShiftIr(0x02);
    // Select-DR, Capture-DR, Shift-DR; 8 bits; Exit1, Pause x3, Exit2, Shift-DR; 24 bits.
    cable.Clock(true, false);
    cable.Clock(false, false);
    cable.Clock(false, false);
    std::uint32_t value = 0;
    for (int i = 0; i < 8; ++i) value |= std::uint32_t{cable.Clock(i == 7, false)} << i;
    cable.Clock(false, false);
    cable.Clock(false, false);
    cable.Clock(false, false);
    cable.Clock(true, false);
    cable.Clock(false, false);
    for (int i = 8; i < 32; ++i) value |= std::uint32_t{cable.Clock(i == 31, false)} << i;
    EXPECT_EQ(value, 0x10006A5Bu);
}

TEST(VirtualTap, TdoMovesOnTheFallingEdgeOnly) {
    VirtualReceiver r;
    TestCable cable(r);
    cable.TapReset();
    cable.ShiftIr(0x02);
    cable.Clock(true, false);
    cable.Clock(false, false);
    cable.Clock(false, false);  // Shift-DR, TDO shows IDCODE bit 0 (1)
    const auto tdo = [&] { return (r.Read(0x379) & orbvex::sim::kStatusTdo) != 0; };
    const std::uint8_t level = orbvex::sim::kDataReset;
    r.Write(0x378, level | orbvex::sim::kDataTck);
    r.Write(0x378, level);
    EXPECT_TRUE(tdo()) << "bit 1 of 0x10006A5B";
    r.Write(0x378, level | orbvex::sim::kDataTck);
    EXPECT_TRUE(tdo()) << "still bit 1 while TCK is high";
    r.Write(0x378, level);
    EXPECT_FALSE(tdo()) << "bit 2 after the falling edge";
}

TEST(VirtualTap, ResetLineLowHoldsTestLogicReset) {
    VirtualReceiver r;
    TestCable cable(r);
    cable.TapReset();
    cable.ShiftIr(0x1F);  // BYPASS
    cable.SetReset(false);
    // TMS walks that would reach Shift-IR do nothing while the line is low.
    cable.Clock(true, false);
    cable.Clock(true, false);
    cable.Clock(false, false);
    cable.Clock(false, false);
    cable.SetReset(true);
    // From Test-Logic-Reset, with IDCODE selected again.
    cable.Clock(false, false);
    EXPECT_EQ(cable.ShiftDr(0, 32), 0x10006A5Bu);
}

TEST(VirtualTap, StuckTdoLooksLikeNoCable) {
    VirtualReceiver r;
    TestCable cable(r);
    r.Faults().tdoStuck = TdoStuck::High;
    EXPECT_EQ(cable.ReadIdcode(), 0xFFFFFFFFu);
    r.Faults().tdoStuck = TdoStuck::Low;
    EXPECT_EQ(cable.ReadIdcode(), 0u);
    r.Faults().tdoStuck = TdoStuck::None;
    EXPECT_EQ(cable.ReadIdcode(), 0x10006A5Bu);
}

TEST(VirtualTap, AnswersAnyBaseAndCountsAccesses) {
    VirtualReceiver r;
    TestCable lpt2(r, 0x278);
    EXPECT_EQ(lpt2.ReadIdcode(), 0x10006A5Bu);
    TestCable pci(r, 0xD010);
    r.ResetCounters();
    EXPECT_EQ(pci.ReadIdcode(), 0x10006A5Bu);
    const auto counters = r.Counters();
    EXPECT_EQ(counters.tckCycles, static_cast<std::uint64_t>(pci.clocks));
    EXPECT_EQ(counters.portReads, static_cast<std::uint64_t>(pci.clocks));
    EXPECT_EQ(counters.portWrites, static_cast<std::uint64_t>(3 * pci.clocks));
}

TEST(VirtualTap, StatusRegisterCarriesTdoOnBitFourOnly) {
    VirtualReceiver r;
    r.Faults().tdoStuck = TdoStuck::High;
    const std::uint8_t high = r.Read(0x379);
    r.Faults().tdoStuck = TdoStuck::Low;
    const std::uint8_t low = r.Read(0x379);
    EXPECT_EQ(high ^ low, 0x10);
    // The data register reads back what was written.
    r.Write(0x378, 0x0D);
    EXPECT_EQ(r.Read(0x378), 0x0D);
}

}  // namespace

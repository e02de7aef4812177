// SPDX-License-Identifier: GPL-2.0-or-later
// The receiver's TAP seen through the port: state walks, IDCODE, BYPASS, the reset line.
#include "sim_test.h"

namespace {

using namespace simtest;
using orbvex::sim::TdoStuck;
using VirtualTap = SimTest;

TEST_F(VirtualTap, IdcodeReadsBackDefaultAndSetValue) {
    EXPECT_EQ(cable_.ReadIdcode(), kIdcode);
    receiver_.Config().idcode = 0x8C9D1041;
    EXPECT_EQ(cable_.ReadIdcode(), 0x8C9D1041u) << "a new IDCODE shows at the next capture";

    orbvex::sim::ReceiverConfig config;
    config.idcode = 0x0019D041;
    VirtualReceiver other(config);
    EXPECT_EQ(TestCable(other).ReadIdcode(), 0x0019D041u);
}

TEST_F(VirtualTap, TmsResetAndTheResetLineBothSelectIdcodeWithoutAnInstruction) {
    cable_.TapReset();
    cable_.ShiftIr(0x1F);  // BYPASS
    cable_.TapReset();
    EXPECT_EQ(cable_.ShiftDr(0, 32), kIdcode) << "after five TMS highs";

    cable_.ShiftIr(0x1F);
    cable_.SetReset(false);
    cable_.Tms("1100");  // would reach Shift-IR, but the low line holds Test-Logic-Reset
    cable_.SetReset(true);
    cable_.Tms("0");
    EXPECT_EQ(cable_.ShiftDr(0, 32), kIdcode) << "after the reset line";
}

TEST_F(VirtualTap, IrCapturesOneZeroAndOtherInstructionsAreBypassWithOneBitDelay) {
    cable_.TapReset();
    for (std::uint32_t instruction : {0x00u, 0x1Fu, 0x03u, 0x11u}) {
        EXPECT_EQ(cable_.ShiftIr(instruction), 0x01u) << "the IR capture, whatever was loaded before";
        // BYPASS captures 0 and delays TDI by one clock.
        EXPECT_EQ(cable_.ShiftDr(0x2D5, 12), (0x2D5u << 1) & 0xFFF) << "instruction " << instruction;
    }
}

TEST_F(VirtualTap, IdcodeRegisterShiftsTdiThrough) {
    cable_.TapReset();
    cable_.ShiftIr(0x02);
    const std::uint64_t out = cable_.ShiftDr(0xABCD, 48);
    EXPECT_EQ(out & 0xFFFFFFFFu, kIdcode);
    EXPECT_EQ(out >> 32, 0xABCDu) << "bits shifted in come out 32 clocks later";
}

TEST_F(VirtualTap, PauseAndExitStatesKeepTheShiftedValue) {
    cable_.TapReset();
    cable_.ShiftIr(0x02);
    cable_.Tms("100");                         // Shift-DR
    std::uint64_t value = cable_.Shift(0, 8);  // to Exit1-DR
    cable_.Tms("00010");                       // Pause-DR three times, Exit2-DR, Shift-DR
    value |= cable_.Shift(0, 24) << 8;
    EXPECT_EQ(value, kIdcode);
}

TEST_F(VirtualTap, TdoMovesOnTheFallingEdgeOnly) {
    using orbvex::sim::kDataReset;
    using orbvex::sim::kDataTck;
    cable_.TapReset();
    cable_.ShiftIr(0x02);
    cable_.Tms("100");  // Shift-DR, TDO shows IDCODE bit 0
    const auto tdo = [&] { return (receiver_.Read(0x379) & orbvex::sim::kStatusTdo) != 0; };
    receiver_.Write(0x378, kDataReset | kDataTck);
    receiver_.Write(0x378, kDataReset);
    EXPECT_TRUE(tdo()) << "bit 1 of the IDCODE";
    receiver_.Write(0x378, kDataReset | kDataTck);
    EXPECT_TRUE(tdo()) << "still bit 1 while TCK is high";
    receiver_.Write(0x378, kDataReset);
    EXPECT_FALSE(tdo()) << "bit 2 after the falling edge";
}

TEST_F(VirtualTap, StuckTdoLooksLikeNoCableAndShowsOnStatusBitFourOnly) {
    const struct {
        TdoStuck stuck;
        std::uint32_t idcode;
    } cases[] = {{TdoStuck::High, 0xFFFFFFFFu}, {TdoStuck::Low, 0u}, {TdoStuck::None, kIdcode}};
    std::uint8_t status[2];
    for (int i = 0; i < 3; ++i) {
        receiver_.Faults().tdoStuck = cases[i].stuck;
        if (i < 2) status[i] = receiver_.Read(0x379);
        EXPECT_EQ(cable_.ReadIdcode(), cases[i].idcode);
    }
    EXPECT_EQ(status[0] ^ status[1], 0x10);
}

TEST_F(VirtualTap, AnswersAnyBaseAndCountsAccesses) {
    EXPECT_EQ(TestCable(receiver_, 0x278).ReadIdcode(), kIdcode);
    TestCable pci(receiver_, 0xD010);
    receiver_.ResetCounters();
    EXPECT_EQ(pci.ReadIdcode(), kIdcode);
    const auto counters = receiver_.Counters();
    EXPECT_EQ(counters.tckCycles, static_cast<std::uint64_t>(pci.clocks));
    EXPECT_EQ(counters.portReads, static_cast<std::uint64_t>(pci.clocks));
    EXPECT_EQ(counters.portWrites, static_cast<std::uint64_t>(3 * pci.clocks));
    receiver_.Write(0xD010, 0x0D);
    EXPECT_EQ(receiver_.Read(0xD010), 0x0D) << "the data register reads back what was written";
}

}  // namespace

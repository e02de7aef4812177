// SPDX-License-Identifier: GPL-2.0-or-later
// The bit engine's port accesses, TAP walks and timing.
#include <gmock/gmock.h>

#include <chrono>

#include "test_cable.h"

namespace {

using linktest::Clock;
using linktest::TestCable;

class JtagEngine : public linktest::LinkTest<TestCable> {
protected:
    // The port accesses one call makes.
    std::string AccessesOf(const std::function<void()>& call) {
        target.Forget();
        call();
        return target.accesses;
    }
    std::string Tms() const { return target.Trace(&Clock::tms); }
};

TEST_F(JtagEngine, ClockWritesChangedLinesThenTckHighThenLowAndSamplesBit4First) {
    target.tdo = [](std::size_t) { return true; };
    bool tdo = true;
    // TMS is bit 0, TCK bit 1, TDI bit 2; without a sample nothing is read and TDO is false.
    EXPECT_EQ(AccessesOf([&] { tdo = JtagStep(true, true, false); }), "w378=05 w378=07 w378=05");
    EXPECT_FALSE(tdo);
    EXPECT_EQ(AccessesOf([] { JtagStep(true, true, false); }), "w378=07 w378=05") << "unchanged";
    EXPECT_EQ(AccessesOf([] { JtagStep(false, true, false); }), "w378=04 w378=06 w378=04");
    EXPECT_EQ(AccessesOf([&] { tdo = JtagStep(false, false, true); }), "r379 w378=00 w378=02 w378=00");
    EXPECT_TRUE(tdo);
    target.tdo = [](std::size_t) { return false; };
    EXPECT_FALSE(JtagStep(false, false, true));
}

TEST_F(JtagEngine, ResetLineIsBit3AndEveryLevelChangeIsWrittenAndClocked) {
    JtagSetTrst(true);
    EXPECT_EQ(AccessesOf([] { JtagSetTrst(true); }), "w378=08 w378=0A w378=08") << "same level again";
    EXPECT_EQ(AccessesOf([] { JtagStep(true, false, false); }), "w378=09 w378=0B w378=09");
    EXPECT_EQ(AccessesOf(JtagRelease), "w378=00 w378=02 w378=00") << "release leaves every line low";
}

TEST_F(JtagEngine, FollowsTheChosenPortBase) {
    TestCable lpt2(0x278);
    orbvex::PortHook = &lpt2;
    LptBase = 0x278;
    lpt2.tdo = [](std::size_t) { return true; };
    EXPECT_TRUE(JtagStep(false, true, true));
    EXPECT_EQ(lpt2.accesses, "r279 w278=04 w278=06 w278=04");
    orbvex::PortHook = &target;  // lpt2 goes before the session releases the cable
}

TEST_F(JtagEngine, ShiftIrDrivesInstructionAndReturnsFirstCapturedBitLowest) {
    // An IR that captures 1 then 0s (the IEEE 1149.1 pattern) on the five shift clocks.
    target.tdo = [](std::size_t clock) { return clock == 4; };
    EXPECT_EQ(ShiftIr(5, 0x10), 0x01u);
    EXPECT_EQ(Tms(), "1100000011");
    EXPECT_EQ(target.Trace(&Clock::tdi), "0000000010");
}

TEST_F(JtagEngine, SelectDcuWalksToShiftDrOnlyWhenTheTapIsNotParkedThere) {
    SelectDcu();
    // Reset (five TMS high, one low), the IR walk, then Select-DR, Capture-DR, Shift-DR.
    EXPECT_EQ(Tms(),
              "111110"
              "1100000011"
              "100");
    EXPECT_EQ(AccessesOf(SelectDcu), "");
    const std::function<void()> leavers[] = {[] { ReadIdcode(); }, TapReset, [] { JtagSetTrst(true); }};
    for (const auto& leave : leavers) {
        leave();
        target.Forget();
        SelectDcu();
        EXPECT_EQ(target.clockCount, 19u);
    }
}

TEST_F(JtagEngine, ReadIdcodeShiftsThirtyTwoBitsLeastSignificantFirst) {
    const std::uint32_t id = 0x10006A5B;
    // The 32 data-register bits come out on clocks 19 to 50 (after reset, IR, DR walk).
    target.tdo = [id](std::size_t clock) { return clock >= 19 && clock < 51 && ((id >> (clock - 19)) & 1u); };
    JtagSelected = true;
    EXPECT_EQ(ReadIdcode(), id);
    // TMS high on the last data bit (Exit1-DR), then Update-DR.
    EXPECT_EQ(Tms(),
              "111110"
              "1100000011"
              "100" +
                  std::string(31, '0') + "11");
    EXPECT_FALSE(JtagSelected);
}

namespace fakeclock {
std::uint32_t now = 0;
std::uint32_t Tick() { return now++; }
}  // namespace fakeclock

TEST_F(JtagEngine, DelayMsReturnsOnlyAfterMoreThanTheGivenTicksAcrossTheWrap) {
    SetTickSource(fakeclock::Tick);
    for (std::uint32_t start : {0u, 5000u, 0xFFFFFF9Bu, 0xFFFFFFF0u}) {
        fakeclock::now = start;
        DelayMs(100);
        // Ticks read: start, then start+1 .. start+101, the first more than 100 past.
        EXPECT_EQ(static_cast<std::uint32_t>(fakeclock::now - start), 102u) << std::hex << start;
    }
    fakeclock::now = 7;
    DelayMs(0);
    EXPECT_EQ(fakeclock::now, 9u) << "even 0 ms waits for the tick to move";
}

TEST_F(JtagEngine, DelayMsOnTheRealClockWaitsItsTime) {
    const auto before = std::chrono::steady_clock::now();
    const std::uint32_t ticks = TickCountMs();
    DelayMs(3);
    EXPECT_GT(static_cast<std::uint32_t>(TickCountMs() - ticks), 3u);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(3));
}

TEST_F(JtagEngine, InitPulsesResetLineLowThenHighResetsTapAndLogs) {
    fakeclock::now = 0;
    SetTickSource(fakeclock::Tick);
    JtagInit();
    // The low level goes out although the port already holds 0.
    EXPECT_THAT(target.accesses, ::testing::StartsWith("w378=00 w378=02 w378=00 w378=08"));
    EXPECT_EQ(target.Trace(&Clock::reset), "01111111");
    EXPECT_EQ(Tms(), "00111110");
    EXPECT_THAT(log.lines, ::testing::ElementsAre("Init JTAG"));
    EXPECT_GE(fakeclock::now, 300u) << "three pauses of 100 ms";
}

}  // namespace

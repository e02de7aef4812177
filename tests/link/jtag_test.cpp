// The bit engine's port access sequences, TAP walks and timing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

#include "test_cable.h"

using linktest::Access;
using linktest::Bits;
using linktest::TestCable;
using ::testing::ElementsAre;

namespace {

bool AccessEq(const Access& a, bool write, std::uint16_t port, std::uint8_t value) {
    return a.write == write && a.port == port && (!write || a.value == value);
}

class JtagEngine : public ::testing::Test {
protected:
    void SetUp() override { linktest::ResetLink(&cable, &log); }
    void TearDown() override { linktest::DetachLink(); }

    std::vector<bool> TmsTrace() const {
        std::vector<bool> bits;
        for (const auto& c : cable.clocks) bits.push_back(c.tms);
        return bits;
    }

    TestCable cable;
    linktest::RecordingLog log;
};

TEST_F(JtagEngine, ClockWritesValueThenTckHighThenLow) {
    JtagStep(true, true, false);
    ASSERT_EQ(cable.accesses.size(), 3u);
    EXPECT_TRUE(AccessEq(cable.accesses[0], true, 0x378, 0x05));
    EXPECT_TRUE(AccessEq(cable.accesses[1], true, 0x378, 0x07));
    EXPECT_TRUE(AccessEq(cable.accesses[2], true, 0x378, 0x05));
    EXPECT_EQ(LastDataValue, 0x05);
}

TEST_F(JtagEngine, RepeatedClockSkipsTheValueWriteAndAnyChangeRestoresIt) {
    JtagStep(false, true, false);
    cable.Forget();
    JtagStep(false, true, false);
    EXPECT_EQ(cable.Writes(), 2u) << "same TMS/TDI/reset: TCK high and low only";

    cable.Forget();
    JtagStep(true, true, false);
    EXPECT_EQ(cable.Writes(), 3u) << "TMS changed";
    cable.Forget();
    JtagStep(true, false, false);
    EXPECT_EQ(cable.Writes(), 3u) << "TDI changed";
    JtagSetTrst(true);
    cable.Forget();
    JtagStep(true, false, false);
    EXPECT_EQ(cable.Writes(), 3u) << "the reset line is part of the value";
    EXPECT_TRUE(AccessEq(cable.accesses[0], true, 0x378, 0x09));
    cable.Forget();
    JtagStep(true, false, false);
    EXPECT_EQ(cable.Writes(), 2u);
    EXPECT_TRUE(AccessEq(cable.accesses[0], true, 0x378, 0x0B));
}

TEST_F(JtagEngine, SamplingReadsStatusBeforeAnyWriteAndOnlyBit4Counts) {
    cable.tdo = [](std::size_t) { return true; };
    EXPECT_TRUE(JtagStep(false, true, true));
    ASSERT_FALSE(cable.accesses.empty());
    EXPECT_TRUE(AccessEq(cable.accesses[0], false, 0x379, 0));
    EXPECT_EQ(cable.Reads(), 1u);

    cable.tdo = [](std::size_t) { return false; };  // every other status bit reads 1
    EXPECT_FALSE(JtagStep(false, true, true));
}

TEST_F(JtagEngine, ClockWithoutSampleNeverReadsAndReturnsFalse) {
    cable.tdo = [](std::size_t) { return true; };
    EXPECT_FALSE(JtagStep(false, false, false));
    EXPECT_EQ(cable.Reads(), 0u);
}

TEST_F(JtagEngine, FollowsTheChosenPortBase) {
    LptBase = 0x278;
    TestCable lpt2(0x278);
    orbvex::SetPortBackend(&lpt2);
    lpt2.tdo = [](std::size_t) { return true; };
    EXPECT_TRUE(JtagStep(false, false, true));
    EXPECT_TRUE(AccessEq(lpt2.accesses[0], false, 0x279, 0));
    EXPECT_EQ(lpt2.clockCount, 1u);
    orbvex::SetPortBackend(&cable);
}

TEST_F(JtagEngine, SetTrstAlwaysWritesAndClocksOnce) {
    JtagSetTrst(true);
    cable.Forget();
    JtagSelected = true;
    JtagSetTrst(true);  // same level again
    EXPECT_EQ(cable.Writes(), 3u);
    EXPECT_TRUE(AccessEq(cable.accesses[0], true, 0x378, 0x08));
    EXPECT_EQ(cable.clockCount, 1u);
    EXPECT_FALSE(cable.clocks[0].tms);
    EXPECT_FALSE(cable.clocks[0].tdi);
    EXPECT_FALSE(JtagSelected);
    EXPECT_TRUE(ResetLineLevel);
}

TEST_F(JtagEngine, TapResetIsFiveTmsHighThenOneLow) {
    JtagSelected = true;
    TapReset();
    EXPECT_EQ(TmsTrace(), Bits({1, 1, 1, 1, 1, 0}));
    EXPECT_FALSE(JtagSelected);
}

TEST_F(JtagEngine, ShiftIrDrivesInstructionAndReturnsFirstCapturedBitLowest) {
    // An IR that captures 1 then 0s (the IEEE 1149.1 pattern) on the five shift clocks.
    cable.tdo = [](std::size_t clock) { return clock == 4; };
    const std::uint32_t captured = ShiftIr(5, 0x10);
    EXPECT_EQ(cable.clockCount, 10u);
    EXPECT_EQ(TmsTrace(), Bits({1, 1, 0, 0, 0, 0, 0, 0, 1, 1}));
    EXPECT_EQ(cable.TdiTrace(), Bits({0, 0, 0, 0, 0, 0, 0, 0, 1, 0}));
    EXPECT_EQ(captured & 1u, 1u);
    EXPECT_EQ(captured & 2u, 0u);
    EXPECT_EQ(captured, 0x01u);
}

TEST_F(JtagEngine, SelectDcuClocksOnlyWhenNotAlreadySelected) {
    SelectDcu();
    EXPECT_EQ(cable.clockCount, 19u);
    EXPECT_TRUE(JtagSelected);
    // Reset, IR walk with 0x10, then Select-DR, Capture-DR, Shift-DR.
    EXPECT_EQ(TmsTrace(), Bits({1, 1, 1, 1, 1, 0, 1, 1, 0, 0, 0, 0, 0, 0, 1, 1, 1, 0, 0}));

    cable.Forget();
    SelectDcu();
    EXPECT_EQ(cable.clockCount, 0u);
    EXPECT_TRUE(cable.accesses.empty());
}

TEST_F(JtagEngine, SelectDcuStartsOverAfterAnythingThatLeavesShiftDr) {
    const std::function<void()> leavers[] = {[] { ReadIdcode(); }, [] { TapReset(); },
                                             [] { JtagSetTrst(true); }};
    for (const auto& leave : leavers) {
        SelectDcu();
        leave();
        cable.Forget();
        SelectDcu();
        EXPECT_EQ(cable.clockCount, 19u);
    }
}

TEST_F(JtagEngine, ReadIdcodeTakes52ClocksLeastSignificantBitFirst) {
    const std::uint32_t id = 0x10006A5B;
    // The 32 data-register bits come out on clocks 19 to 50 (after reset, IR, DR walk).
    cable.tdo = [id](std::size_t clock) {
        return clock >= 19 && clock < 51 && ((id >> (clock - 19)) & 1u);
    };
    JtagSelected = true;
    EXPECT_EQ(ReadIdcode(), id);
    EXPECT_EQ(cable.clockCount, 52u);
    EXPECT_FALSE(JtagSelected);
    const std::vector<bool> tms = TmsTrace();
    EXPECT_TRUE(tms[50]) << "TMS high on the 32nd data bit (Exit1-DR)";
    EXPECT_TRUE(tms[51]) << "then Update-DR";
    EXPECT_FALSE(tms[49]);
}

TEST_F(JtagEngine, ReadIdcodeWithTdoStuckGivesAllOnesOrZero) {
    cable.tdo = [](std::size_t) { return true; };
    EXPECT_EQ(ReadIdcode(), 0xFFFFFFFFu);
    cable.tdo = [](std::size_t) { return false; };
    EXPECT_EQ(ReadIdcode(), 0u);
}

namespace fakeclock {
std::uint32_t now = 0;
std::uint32_t calls = 0;
std::uint32_t Tick() {
    ++calls;
    return now++;
}
}  // namespace fakeclock

TEST_F(JtagEngine, DelayMsReturnsOnlyAfterMoreThanTheGivenTicks) {
    for (std::uint32_t start : {0u, 5000u, 0xFFFFFF9Bu, 0xFFFFFFF0u}) {
        fakeclock::now = start;
        SetTickSource(fakeclock::Tick);
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
    ASSERT_EQ(cable.clockCount, 8u);
    EXPECT_FALSE(cable.clocks[0].reset);
    for (std::size_t i = 1; i < 8; ++i) EXPECT_TRUE(cable.clocks[i].reset) << i;
    EXPECT_EQ(TmsTrace(), Bits({0, 0, 1, 1, 1, 1, 1, 0}));
    EXPECT_THAT(log.lines, ElementsAre("Init JTAG"));
    EXPECT_GE(fakeclock::now, 300u) << "three pauses of 100 ms";
    EXPECT_TRUE(AccessEq(cable.accesses[0], true, 0x378, 0x00)) << "the low level is written even "
                                                                   "though nothing was written yet";
}

TEST_F(JtagEngine, ReleaseLeavesEveryLineLow) {
    JtagSetTrst(true);
    JtagRelease();
    EXPECT_FALSE(ResetLineLevel);
    EXPECT_EQ(cable.accesses.back().value, 0x00);
    EXPECT_FALSE(cable.clocks.back().reset);
}

}  // namespace

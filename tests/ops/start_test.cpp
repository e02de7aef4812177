#include <gtest/gtest.h>

#include <filesystem>

#include "ops/receiver_fixture.h"

namespace orbvex::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

class StartTest : public ReceiverTest {
protected:
    std::vector<std::string> HealthyLog(const std::string& idcode, const std::string& cpu) const {
        auto size = static_cast<std::uint32_t>(std::filesystem::file_size(ORBVEX_VIRTUAL_TRAP_IMAGE));
        std::vector<std::string> log = {"Init JTAG", "IDCODE : " + idcode};
        if (!cpu.empty()) log.push_back(cpu);
        std::vector<std::string> rest = {
            "Stop CPU",
            "Clear Trap : Please Wait...",
            "Load Trap -> Ram : Please Wait...",
            "Load Trap : LEN Ok",
            "Init Trap : Please Wait...",
            "Trap_Wptr " + Hex8(0x80000140 + (size & ~3u) + 8),
            "Trap_Iptr 80000140",
            "Start Trap  : Please Wait...",
            "Load EMI : Please Wait...",
            "Init OK :)",
            "---------------------",
        };
        log.insert(log.end(), rest.begin(), rest.end());
        return log;
    }
};

TEST_F(StartTest, HealthyTargetLogsTheFourteenLinesAndRunsTheTrapProgram) {
    window.lines = {"an old line"};
    window.progressPosition = 77;
    AbortRequested = true;

    EXPECT_TRUE(RunStart(window));

    EXPECT_THAT(window.lines, ElementsAreArray(HealthyLog("10006A5B", "CPU : STi5512")));
    EXPECT_EQ(window.lines.size(), 14u);
    EXPECT_THAT(window.beeps, ElementsAre(0x40u));
    EXPECT_EQ(window.clears, 1);
    EXPECT_EQ(window.progressPosition, 0);
    EXPECT_FALSE(AbortRequested);
    EXPECT_TRUE(window.errorBoxes.empty());
    EXPECT_TRUE(receiver.TrapRunning());
    // The clear stops right below the load address, which holds the image's first word.
    EXPECT_EQ(receiver.PeekWord(0x8000013C), 0x80000000u);
    EXPECT_EQ(receiver.PeekWord(0x80000000), 0x80000000u);
    auto image = sim::VirtualTrapImage();
    ASSERT_GE(image.size(), 4u);
    EXPECT_EQ(receiver.PeekByte(0x80000140), image[0]);
    EXPECT_EQ(receiver.PeekWord(0x8000004C), 0x80000140u);
}

TEST_F(StartTest, RunsTheSameWayTwiceInARow) {
    ASSERT_TRUE(RunStart(window));
    auto first = window.lines;
    EXPECT_TRUE(RunStart(window));
    EXPECT_EQ(window.lines, first);
    EXPECT_EQ(window.clears, 2);
    EXPECT_EQ(window.beeps.size(), 2u);
}

TEST_F(StartTest, WithTheFlashSizeTwoMegabytesTheSameLogResults) {
    window.f2 = true;
    EXPECT_TRUE(RunStart(window));
    EXPECT_THAT(window.lines, ElementsAreArray(HealthyLog("10006A5B", "CPU : STi5512")));
}

TEST_F(StartTest, WithoutPortAccessShowsTheBoxAndLeavesTheLogAlone) {
    PortAvailable = false;
    window.lines = {"kept"};
    window.progressPosition = 55;
    AbortRequested = true;

    EXPECT_FALSE(RunStart(window));

    EXPECT_THAT(window.errorBoxes, ElementsAre("The parallel port could not be opened"));
    EXPECT_THAT(window.lines, ElementsAre("kept"));
    EXPECT_EQ(window.clears, 0);
    EXPECT_TRUE(window.beeps.empty());
    EXPECT_EQ(window.progressPosition, 0);
    EXPECT_FALSE(AbortRequested);
    EXPECT_EQ(receiver.Counters().portWrites, 0u);
    EXPECT_EQ(receiver.Counters().portReads, 0u);
}

class RefusingAccess : public PortAccess {
public:
    bool Open(std::uint16_t) override { return true; }
    bool Ensure(std::uint16_t base) override {
        asked.push_back(base);
        return base == 0x378;
    }
    void Close(std::uint16_t) override {}
    std::vector<std::uint16_t> asked;
};

TEST_F(StartTest, APortThatWasNotGrantedIsNeverDriven) {
    RefusingAccess access;
    SetActivePortAccess(&access);
    window.l2 = true;

    EXPECT_FALSE(RunStart(window));
    SetActivePortAccess(nullptr);

    EXPECT_EQ(LptBase, 0x278);
    EXPECT_THAT(access.asked, ElementsAre(0x278));
    EXPECT_THAT(window.errorBoxes, ElementsAre("The parallel port could not be opened"));
    EXPECT_TRUE(window.lines.empty());
    EXPECT_EQ(receiver.Counters().portWrites, 0u);
}

TEST_F(StartTest, AGrantedPortRuns) {
    RefusingAccess access;
    SetActivePortAccess(&access);
    EXPECT_TRUE(RunStart(window));
    SetActivePortAccess(nullptr);
    EXPECT_EQ(LptBase, 0x378);
    EXPECT_TRUE(window.errorBoxes.empty());
}

TEST_F(StartTest, MissingTrapFileEndsWithTrapSadAndReleasesTheCable) {
    TrapFileName = "trap.bin";  // the scratch folder holds none
    EXPECT_FALSE(RunStart(window));
    ASSERT_GE(window.lines.size(), 3u);
    EXPECT_EQ(window.lines[window.lines.size() - 3], "Load Trap -> Ram : Please Wait...");
    EXPECT_EQ(window.lines[window.lines.size() - 2], "File trap.bin  fail");
    EXPECT_EQ(window.LastLine(), "Trap :(");
    EXPECT_TRUE(window.beeps.empty());
    EXPECT_FALSE(ResetLineLevel);
}

TEST_F(StartTest, SilentDcuFailsAfterTheIdcodeWithoutStopCpu) {
    receiver.Faults().dcuSilent = true;
    EXPECT_FALSE(RunStart(window));
    EXPECT_THAT(window.lines, ElementsAre("Init JTAG", "IDCODE : 10006A5B", "CPU : STi5512",
                                          "Fail DCU, Plesae Restart or Reset CPU Box"));
    EXPECT_TRUE(window.beeps.empty());
    EXPECT_FALSE(ResetLineLevel);
}

TEST_F(StartTest, HaltThatDoesNotTakeFailsOnTheReadBack) {
    receiver.Faults().haltIgnored = true;
    EXPECT_FALSE(RunStart(window));
    EXPECT_THAT(window.lines, ElementsAre("Init JTAG", "IDCODE : 10006A5B", "CPU : STi5512", "Stop CPU",
                                          "Fail DCU Control, Plesae Restart or Reset CPU Box"));
    EXPECT_TRUE(window.beeps.empty());
    EXPECT_FALSE(ResetLineLevel);
}

TEST_F(StartTest, FailingClearWriteEndsAtOnceWithoutReleasingTheCable) {
    receiver.Faults().refusedWriteAddresses = {0x80000000};
    EXPECT_FALSE(RunStart(window));
    EXPECT_EQ(window.lines[window.lines.size() - 2], "Clear Trap : Please Wait...");
    EXPECT_EQ(window.LastLine(), "FAIL WRITE ADR[80000000]=80000000");
    EXPECT_TRUE(window.beeps.empty());
    EXPECT_TRUE(ResetLineLevel);
}

TEST_F(StartTest, FailingClearWriteNamesTheWordThatFailed) {
    receiver.Faults().refusedWriteAddresses = {0x8000013C};
    EXPECT_FALSE(RunStart(window));
    EXPECT_EQ(window.LastLine(), "FAIL WRITE ADR[8000013C]=80000000");
}

TEST_F(StartTest, FailingRegisterWriteIsLoggedAndTheSeriesGoesOn) {
    receiver.Faults().refusedWriteAddresses = {0x2030};
    RunStart(window);
    auto& l = window.lines;
    auto emi = std::find(l.begin(), l.end(), "Load EMI : Please Wait...");
    ASSERT_NE(emi, l.end());
    ASSERT_EQ(l.end() - emi, 4);
    EXPECT_EQ(emi[1], "FAIL WRITE ADR[00002030]=000016D1");
    EXPECT_TRUE(emi[2] == "Init OK :)" || emi[2].rfind("Init Fail", 0) == 0) << emi[2];
    EXPECT_EQ(emi[3], "---------------------");
    EXPECT_THAT(window.beeps, ElementsAre(0x40u));
}

TEST_F(StartTest, FailingWriteInsideTheStartTrapSeriesDoesNotStopIt) {
    receiver.Faults().refusedWriteAddresses = {0x308C};
    receiver.Faults().jtiptrValue = 0x80000200;
    EXPECT_TRUE(RunStart(window));  // the verdict is JTiptr's alone
    auto& l = window.lines;
    auto start = std::find(l.begin(), l.end(), "Start Trap  : Please Wait...");
    ASSERT_NE(start, l.end());
    EXPECT_EQ(start[1], "FAIL WRITE ADR[0000308C]=00010000");
    EXPECT_EQ(start[2], "Load EMI : Please Wait...");
}

struct JtiptrCase {
    std::uint32_t value;
    const char* verdict;
};

class JtiptrWindow : public StartTest, public ::testing::WithParamInterface<JtiptrCase> {};

TEST_P(JtiptrWindow, OnlyValuesStrictlyInsideTheWindowPass) {
    receiver.Faults().jtiptrValue = GetParam().value;
    bool ok = RunStart(window);
    ASSERT_GE(window.lines.size(), 2u);
    EXPECT_EQ(window.lines[window.lines.size() - 2], GetParam().verdict);
    EXPECT_EQ(window.LastLine(), "---------------------");
    EXPECT_THAT(window.beeps, ElementsAre(0x40u));
    EXPECT_EQ(ok, std::string(GetParam().verdict) == "Init OK :)");
    EXPECT_TRUE(ResetLineLevel);
}

INSTANTIATE_TEST_SUITE_P(Bounds, JtiptrWindow,
                         ::testing::Values(JtiptrCase{0x80000100, "Init Fail JTiptr : 80000100"},
                                           JtiptrCase{0x80000101, "Init OK :)"},
                                           JtiptrCase{0x800002FF, "Init OK :)"},
                                           JtiptrCase{0x80000300, "Init Fail JTiptr : 80000300"},
                                           JtiptrCase{0x00001000, "Init Fail JTiptr : 00001000"}));

TEST_F(StartTest, UnreadableJtiptrIsReportedAndTheOperationEnds) {
    receiver.Faults().refusedReadRanges = {{0x3080, 0x3083}};
    EXPECT_FALSE(RunStart(window));
    EXPECT_EQ(window.lines[window.lines.size() - 2], "Init Fail (fail read JTiptr)");
    EXPECT_EQ(window.LastLine(), "---------------------");
    EXPECT_THAT(window.beeps, ElementsAre(0x40u));
}

TEST_F(StartTest, UnreadableTrapWordFailsTheTrapSetUp) {
    receiver.Faults().refusedReadRanges = {{0x8000004C, 0x8000004F}};
    EXPECT_FALSE(RunStart(window));
    EXPECT_EQ(window.LastLine(), "Fail Trap adr set Trap_Iptr:00000000");
    EXPECT_TRUE(window.beeps.empty());
    EXPECT_FALSE(ResetLineLevel);
}

struct CpuCase {
    std::uint32_t idcode;
    const char* line;  // empty: no CPU line
};

class CpuTable : public StartTest, public ::testing::WithParamInterface<CpuCase> {};

TEST_P(CpuTable, NamesTheCpuFromBitsTwelveToTwentyOne) {
    receiver.Config().idcode = GetParam().idcode;
    RunStart(window);
    EXPECT_THAT(window.lines, ElementsAreArray(HealthyLog(Hex8(GetParam().idcode), GetParam().line)));
}

INSTANTIATE_TEST_SUITE_P(Keys, CpuTable,
                         ::testing::Values(CpuCase{0x00006000, "CPU : STi5512"},
                                           CpuCase{0xFFC07FFF, "CPU : STi5512"},  // key 7, other bits set
                                           CpuCase{0x000C9041, "CPU : STi5500"},  // 201
                                           CpuCase{0x001D9000, "CPU : STi5500"},  // 473
                                           CpuCase{0x00000000, ""},
                                           CpuCase{0x003FF000, ""},
                                           CpuCase{0x00003000, ""}));

TEST(CpuLineTable, EveryKeyOfTheTable) {
    const std::pair<std::uint32_t, const char*> table[] = {
        {1, "CPU : STi5512"}, {2, "CPU : STi5508"}, {5, "CPU : STi5518"}, {6, "CPU : STi5512"},
        {7, "CPU : STi5512"}, {201, "CPU : STi5500"}, {203, "CPU : STi5505"}, {205, "CPU : STi5510"},
        {403, "CPU : ST20-TP2"}, {408, "CPU : ST20-TP4"}, {473, "CPU : STi5500"}};
    int known = 0;
    for (std::uint32_t key = 0; key < 0x400; ++key) {
        std::string expected;
        for (auto& [k, line] : table)
            if (k == key) expected = line;
        known += !expected.empty();
        EXPECT_EQ(CpuLine(key << 12 | 0xC0000FFFu), expected) << key;
    }
    EXPECT_EQ(known, 11);
}

TEST_F(StartTest, AnotherOperationClickedDuringStartDoesNothing) {
    window.onProcessMessages = [this](int) {
        FakeWindow other;
        other.saveChoice = PathIn("nested.bin");
        EXPECT_TRUE(OperationRunning());
        EXPECT_FALSE(RunRead(other));
        EXPECT_FALSE(RunErase(other));
        EXPECT_TRUE(other.lines.empty());
        EXPECT_TRUE(other.beeps.empty());
    };
    EXPECT_TRUE(RunStart(window));
    EXPECT_FALSE(OperationRunning());
    EXPECT_EQ(window.lines.size(), 14u);
}

}  // namespace
}  // namespace orbvex::test

// SPDX-License-Identifier: GPL-2.0-or-later
#include "ops/receiver_fixture.h"

namespace orbvex::test {
namespace {

class StartTest : public ReceiverTest {
protected:
    std::vector<std::string> HealthyLog(const std::string& idcode, const std::string& cpu) const {
        auto size = static_cast<std::uint32_t>(std::filesystem::file_size(ORBVEX_VIRTUAL_TRAP_IMAGE));
        std::vector<std::string> log = {"Init JTAG", "IDCODE : " + idcode};
        if (!cpu.empty()) log.push_back(cpu);
        log.insert(log.end(), {"Stop CPU", "Clear Trap : Please Wait...", "Load Trap -> Ram : Please Wait...",
                               "Load Trap : LEN Ok", "Init Trap : Please Wait...",
                               "Trap_Wptr " + Hex8(0x80000140 + (size & ~3u) + 8), "Trap_Iptr 80000140",
                               "Start Trap  : Please Wait...", "Load EMI : Please Wait...", "Init OK :)",
                               kSeparatorLine});
        return log;
    }
};

TEST_F(StartTest, HealthyTargetLogsTheFourteenLinesAndRunsTheTrapProgram) {
    window.lines = {"an old line"};
    window.progressPosition = 77;
    AbortRequested = true;

    EXPECT_TRUE(Start());

    EXPECT_THAT(window.lines, ElementsAreArray(HealthyLog("10006A5B", "CPU : STi5512")));
    EXPECT_THAT(window.beeps, ElementsAre(0x40u));
    EXPECT_EQ(window.clears, 1);
    EXPECT_EQ(window.progressPosition, 0);
    EXPECT_FALSE(AbortRequested);
    EXPECT_TRUE(window.errorBoxes.empty());
    EXPECT_TRUE(receiver.TrapRunning());
    // The clear stops right below the load address, which holds the image's first word.
    EXPECT_EQ(receiver.PeekWord(0x80000000), 0x80000000u);
    EXPECT_EQ(receiver.PeekWord(0x8000013C), 0x80000000u);
    EXPECT_EQ(receiver.PeekByte(0x80000140), ReadFileBytes(ORBVEX_VIRTUAL_TRAP_IMAGE).at(0));
}

TEST_F(StartTest, RunsTheSameWayAgainAndWithTheTwoMegabyteFlash) {
    ASSERT_TRUE(Start());
    window.f2 = true;
    EXPECT_TRUE(Start());
    EXPECT_THAT(window.lines, ElementsAreArray(HealthyLog("10006A5B", "CPU : STi5512")));
    EXPECT_EQ(window.clears, 2);
    EXPECT_EQ(window.beeps.size(), 2u);
}

TEST_F(StartTest, UnknownCpuGetsNoCpuLine) {
    receiver.Config().idcode = 0x003FF000;
    EXPECT_TRUE(Start());
    EXPECT_THAT(window.lines, ElementsAreArray(HealthyLog("003FF000", "")));
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

TEST_F(StartTest, OnlyAGrantedPortIsDriven) {
    RefusingAccess access;
    link.emplace(access, &receiver);
    receiver.ResetCounters();
    window.l2 = true;
    EXPECT_FALSE(Start());
    EXPECT_EQ(LptBase, 0x278);
    EXPECT_THAT(window.errorBoxes, ElementsAre(kPortBox));
    EXPECT_TRUE(window.lines.empty());
    EXPECT_EQ(receiver.Counters().portWrites, 0u);

    window.l2 = false;
    window.errorBoxes.clear();
    EXPECT_TRUE(Start());
    EXPECT_EQ(LptBase, 0x378);
    EXPECT_THAT(access.asked, ElementsAre(0x278, 0x378));
    EXPECT_TRUE(window.errorBoxes.empty());
    link.reset();
}

struct StartFailure {
    const char* name;
    void (*arrange)(sim::VirtualReceiver&);
    std::vector<std::string> lastLines;
    bool cableReleased;
    const char* trapFile = nullptr;   // START's trap file, when not the virtual receiver's
    std::uintmax_t trapFileSize = 0;  // when set, that file is made this large (and sparse)
};

void PrintTo(const StartFailure& f, std::ostream* os) { *os << f.name; }

class StartFails : public StartTest, public ::testing::WithParamInterface<StartFailure> {};

TEST_P(StartFails, EndsWithoutTheBeep) {
    GetParam().arrange(receiver);
    if (GetParam().trapFile) window.trapFile = GetParam().trapFile;
    if (GetParam().trapFileSize) std::ofstream(PathIn(window.trapFile)).seekp(GetParam().trapFileSize - 1).put(0);
    EXPECT_FALSE(Start());
    const auto& last = GetParam().lastLines;
    ASSERT_GE(window.lines.size(), last.size()) << ::testing::PrintToString(window.lines);
    EXPECT_EQ(std::vector<std::string>(window.lines.end() - static_cast<long>(last.size()), window.lines.end()), last);
    EXPECT_TRUE(window.beeps.empty());
    EXPECT_EQ(ResetLineLevel, !GetParam().cableReleased);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, StartFails,
    ::testing::Values(
        StartFailure{"SilentDcu", [](sim::VirtualReceiver& r) { r.Faults().dcuSilent = true; }, {"Init JTAG", "IDCODE : 10006A5B", "CPU : STi5512", "Fail DCU, Plesae Restart or Reset CPU Box"}, true},
        StartFailure{"HaltIgnored", [](sim::VirtualReceiver& r) { r.Faults().haltIgnored = true; }, {"Init JTAG", "IDCODE : 10006A5B", "CPU : STi5512", "Stop CPU", "Fail DCU Control, Plesae Restart or Reset CPU Box"}, true},
        // The clear ends at once, naming the word, and leaves the cable driven.
        StartFailure{"FirstClearWord", [](sim::VirtualReceiver& r) { r.Faults().refusedWriteAddresses = {0x80000000}; }, {"Clear Trap : Please Wait...", "FAIL WRITE ADR[80000000]=80000000"}, false},
        StartFailure{"LastClearWord", [](sim::VirtualReceiver& r) { r.Faults().refusedWriteAddresses = {0x8000013C}; }, {"Clear Trap : Please Wait...", "FAIL WRITE ADR[8000013C]=80000000"}, false},
        StartFailure{"MissingTrapFile", [](sim::VirtualReceiver&) {}, {"Load Trap -> Ram : Please Wait...", "File trap.bin  fail", "Trap :("}, true, "trap.bin"},
        StartFailure{"TrapFileTooLarge", [](sim::VirtualReceiver&) {},  // the cable never driven
                     {"Trap file too large: 65537 bytes, but 65536 is the most a trap program may have: nothing sent"},
                     true,
                     "big-trap.bin",
                     65537},
        StartFailure{"UnreadableTrapWord",
                     [](sim::VirtualReceiver& r) { r.Faults().refusedReadRanges = {{0x8000004C, 0x8000004F}}; },
                     {"Fail Trap adr set Trap_Iptr:00000000"},
                     true}),
    [](const auto& info) { return std::string(info.param.name); });

// Ctrl-C on the command line stops the trap file's upload between two blocks.
TEST_F(StartTest, AStopEndsTheTrapUploadBetweenBlocks) {
    WriteFileBytes(PathIn("long-trap.bin"), RandomBytes(60000, 3));
    window.trapFile = "long-trap.bin";
    receiver.RecordMessages(true);
    window.stopWhen = [this] { return Writes().size() == 1 + 80 + 2; };  // halt, clear, two blocks of the file
    EXPECT_FALSE(Start());
    EXPECT_EQ(Writes().size(), 83u);
    EXPECT_EQ(window.FromEnd(1), "START interrupted: the receiver is not ready, press START again");
}

// Once the trap program is loaded, failed writes are only logged: the verdict is JTiptr's.
TEST_F(StartTest, FailedWritesAfterTheLoadAreLoggedAndTheSeriesGoesOn) {
    receiver.Faults().refusedWriteAddresses = {0x308C, 0x2030};
    receiver.Faults().jtiptrValue = 0x80000200;
    EXPECT_TRUE(Start());
    ASSERT_GE(window.lines.size(), 6u);
    EXPECT_THAT(std::vector<std::string>(window.lines.end() - 6, window.lines.end()),
                ElementsAre("Start Trap  : Please Wait...", "FAIL WRITE ADR[0000308C]=00010000",
                            "Load EMI : Please Wait...", "FAIL WRITE ADR[00002030]=000016D1", "Init OK :)",
                            kSeparatorLine));
    EXPECT_THAT(window.beeps, ElementsAre(0x40u));
}

struct JtiptrCase {
    std::optional<std::uint32_t> value;  // nullopt: JTiptr cannot be read
    const char* verdict;
};

void PrintTo(const JtiptrCase& c, std::ostream* os) { *os << c.verdict; }

class JtiptrWindow : public StartTest, public ::testing::WithParamInterface<JtiptrCase> {};

TEST_P(JtiptrWindow, OnlyValuesStrictlyInsideTheWindowPass) {
    if (GetParam().value)
        receiver.Faults().jtiptrValue = GetParam().value;
    else
        receiver.Faults().refusedReadRanges = {{0x3080, 0x3083}};
    bool ok = Start();
    EXPECT_EQ(window.FromEnd(2), GetParam().verdict);
    EXPECT_EQ(window.FromEnd(1), kSeparatorLine);
    EXPECT_THAT(window.beeps, ElementsAre(0x40u));
    EXPECT_EQ(ok, std::string(GetParam().verdict) == "Init OK :)");
    EXPECT_TRUE(ResetLineLevel);
}

INSTANTIATE_TEST_SUITE_P(Bounds, JtiptrWindow,
                         ::testing::Values(JtiptrCase{0x80000100, "Init Fail JTiptr : 80000100"},
                                           JtiptrCase{0x80000101, "Init OK :)"},
                                           JtiptrCase{0x800002FF, "Init OK :)"},
                                           JtiptrCase{0x80000300, "Init Fail JTiptr : 80000300"},
                                           JtiptrCase{0x00001000, "Init Fail JTiptr : 00001000"},
                                           JtiptrCase{std::nullopt, "Init Fail (fail read JTiptr)"}));

// Bits 12 to 21 of the IDCODE pick the CPU; every other bit is ignored.
TEST(CpuLine, NamesEveryKeyOfTheTableAndNothingElse) {
    const std::pair<std::uint32_t, const char*> table[] = {
        {1, "CPU : STi5512"}, {2, "CPU : STi5508"}, {5, "CPU : STi5518"}, {6, "CPU : STi5512"}, {7, "CPU : STi5512"}, {201, "CPU : STi5500"}, {203, "CPU : STi5505"}, {205, "CPU : STi5510"}, {403, "CPU : ST20-TP2"}, {408, "CPU : ST20-TP4"}, {473, "CPU : STi5500"}};
    for (std::uint32_t key = 0; key < 0x400; ++key) {
        std::string expected;
        for (auto& [k, line] : table)
            if (k == key) expected = line;
        EXPECT_EQ(CpuLine(key << 12), expected) << key;
        EXPECT_EQ(CpuLine(key << 12 | 0xFFC00FFFu), expected) << key;
    }
}

TEST_F(StartTest, AnotherOperationClickedDuringStartDoesNothing) {
    window.onProcessMessages = [this] {
        FakeWindow other;
        other.saveChoice = PathIn("nested.bin");
        EXPECT_TRUE(OperationRunning());
        EXPECT_FALSE(RunRead(link->Link(), other, other.ReadIn()));
        EXPECT_FALSE(RunErase(link->Link(), other, other.EraseIn()));
        EXPECT_TRUE(other.lines.empty());
        EXPECT_TRUE(other.beeps.empty());
    };
    EXPECT_TRUE(Start());
    EXPECT_FALSE(OperationRunning());
    EXPECT_EQ(window.lines.size(), 14u);
}

}  // namespace
}  // namespace orbvex::test

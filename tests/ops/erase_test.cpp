#include "ops/receiver_fixture.h"

namespace orbvex::test {
namespace {

struct EraseCase {
    std::uint32_t flashSize;
    bool f2;
    std::uint32_t base;
};

void PrintTo(const EraseCase& c, std::ostream* os) { *os << Hex8(c.base); }

class EraseTest : public ReceiverTest, public ::testing::WithParamInterface<EraseCase> {};

TEST_P(EraseTest, ErasesTheChosenFlashThroughTheMailboxAndKeepsTheLog) {
    receiver.Config().flashSize = GetParam().flashSize;
    window.f2 = GetParam().f2;
    Connect();
    receiver.SetFlash(std::vector<std::uint8_t>(GetParam().flashSize, 0x12));
    window.lines = {"from START"};
    AbortRequested = true;  // Erase neither heeds nor clears it

    EXPECT_TRUE(Erase());

    EXPECT_THAT(window.lines, ElementsAre("from START", "Init JTAG", "DCU OK", "Trap_Wptr : " + Hex8(Mailbox()),
                                          "Erase ADR[" + Hex8(GetParam().base) + "] : Please Wait...",
                                          "Erase success !!!", kSeparatorLine));
    EXPECT_THAT(window.beeps, ElementsAre(0x40u));
    EXPECT_TRUE(AbortRequested);
    EXPECT_EQ(receiver.PeekWord(Mailbox() + 0x10), GetParam().base);
    EXPECT_EQ(receiver.Flash(), std::vector<std::uint8_t>(GetParam().flashSize, 0xFF));
}

INSTANTIATE_TEST_SUITE_P(BothSizes, EraseTest,
                         ::testing::Values(EraseCase{0x100000, false, 0x7FF00000},
                                           EraseCase{0x200000, true, 0x7FE00000}));

class EraseFails : public ReceiverTest {};

// Polls cost 100 ms of the fixture's clock: a terminal hears every 10 s, the log nothing.
TEST_F(EraseFails, WhenTheTrapProgramNeverReportsDone) {
    window.trapFile = FaultTrap("never-done");
    Connect();
    EXPECT_FALSE(Erase());
    EXPECT_EQ(window.FromEnd(2), "Fail");
    EXPECT_EQ(window.FromEnd(1), kSeparatorLine);
    EXPECT_EQ(window.lines.size(), 6u);
    ASSERT_EQ(window.waitNotices.size(), 10u);
    EXPECT_EQ(window.waitNotices[0], "the target has not answered yet (erase ADR[7FF00000], 10 s, poll 100 of 1000)");
}

// A 1 MB choice on a 2 MB chip would erase all of it and write half: when asked to
// check, erase and write refuse before anything is erased, naming both sizes.
TEST_F(EraseFails, WhenTheChosenSizeIsNotTheChips) {
    receiver.Config().flashSize = 0x200000;
    Connect();
    const auto content = RandomBytes(0x200000, 5);
    receiver.SetFlash(content);
    ChooseRom(RandomBytes(0x1000, 6));
    EXPECT_FALSE(RunErase(window, {kLpt1Base, kFlash1M, true}));
    EXPECT_EQ(window.FromEnd(2), "Erase refused: the chip holds 2 MB (00200000) but the flash chosen is 1 MB "
                                 "(00100000): nothing erased; choose the chip's size, or --force");
    EXPECT_FALSE(RunWrite(window, {kLpt1Base, window.Chooser(window.openChoice), true}));
    EXPECT_EQ(window.FromEnd(2).rfind("Write refused: the chip holds 2 MB (00200000)", 0), 0u);
    EXPECT_EQ(receiver.Flash(), content);
    EXPECT_TRUE(RunErase(window, {kLpt1Base, kFlash2M, true}));
}

// The project's trap program on a chip it cannot erase: "Fail" in the window, and on the
// command line the reason before it when the trap program gave one.
TEST_F(EraseFails, WhenTheChipCannotBeErased) {
    const struct {
        sim::FlashFaults fault;
        std::uint32_t answer;
        const char* reason;
    } cases[] = {
        {{std::nullopt, false, true}, 0x00010002, "chip not identified"},
        {{std::nullopt, true, false}, 0x00000400, ""},  // still erasing when the polls run out
    };
    for (const auto& c : cases) {
        for (const bool commandLine : {false, true}) {
            receiver.Faults().flash = {};
            receiver.SetFlash(std::vector<std::uint8_t>(0x20, 0x00));
            Connect();
            receiver.Faults().flash = c.fault;
            window.stopAtTrapFailure = commandLine;
            EXPECT_FALSE(Erase()) << c.reason;
            EXPECT_EQ(receiver.PeekWord(Mailbox()), c.answer) << c.reason;
            EXPECT_EQ(window.FromEnd(2), "Fail");
            if (commandLine && *c.reason) EXPECT_EQ(window.FromEnd(3), std::string("Erase failed: ") + c.reason);
            else EXPECT_EQ(window.FromEnd(3).rfind("Erase ADR[", 0), 0u);
        }
    }
}

}  // namespace
}  // namespace orbvex::test

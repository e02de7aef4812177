// SPDX-License-Identifier: GPL-2.0-or-later
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
    EXPECT_FALSE(RunErase(link->Link(), window, {kLpt1Base, kFlash1M, true}));
    EXPECT_EQ(window.FromEnd(2),
              "Erase refused: the chip holds 2 MB (00200000) but the flash chosen is 1 MB "
              "(00100000): nothing erased; choose the chip's size, or --force");
    EXPECT_FALSE(RunWrite(link->Link(), window, {kLpt1Base, window.Chooser(window.openChoice), true}));
    EXPECT_EQ(window.FromEnd(2).rfind("Write refused: the chip holds 2 MB (00200000)", 0), 0u);
    EXPECT_EQ(receiver.Flash(), content);
    EXPECT_TRUE(RunErase(link->Link(), window, {kLpt1Base, kFlash2M, true}));
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
    receiver.Config().replyLengthOutsideFlash = 4;  // a thousand polls that cost few clocks
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

// An erase is believed only when the flash reads blank after it: a trap that answers done
// without erasing fails the command line's erase, naming the first page still written;
// a trap that cannot tell leaves a word on stderr. The window keeps its lines.
TEST_F(EraseFails, WhenTheFlashDoesNotReadBlankAfterIt) {
    const struct {
        std::string trap;
        bool ok;
        const char* line;  // the line before "Fail", or the notice on stderr
    } cases[] = {
        {FaultTrap("done-late"), true, "erase: the trap program cannot check that the flash reads blank: the erase was not checked"},
        {FaultTrap("erase-lies"), false,
         "Erase FAIL: the 4 KB page at 7FF12000 (4 KB) still holds data after the erase: the erase did not take, "
         "whatever the trap program answered"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.trap);
        window.trapFile = c.trap;
        Connect();
        std::vector<std::uint8_t> content(0x100000, 0xFF);
        content[0x12345] = 0x5A;
        receiver.SetFlash(content);
        EXPECT_EQ(RunErase(link->Link(), window, {kLpt1Base, kFlash1M, false, true, true}), c.ok) << ::testing::PrintToString(window.lines);
        if (c.ok) EXPECT_THAT(window.waitNotices, ElementsAre(c.line));
        else EXPECT_EQ(window.FromEnd(3), c.line);
        EXPECT_EQ(window.FromEnd(2), c.ok ? "Erase success !!!" : "Fail");
        window.Forget();
        EXPECT_TRUE(Erase()) << "the window's erase takes the answer as it always did";
        EXPECT_EQ(window.FromEnd(2), "Erase success !!!");
        EXPECT_TRUE(window.waitNotices.empty());
    }
}

}  // namespace
}  // namespace orbvex::test

namespace orbvex::test {
namespace {

class InfoTest : public ReceiverTest {};

// info names every chip the receiver can carry, with its size and its sector map.
TEST_F(InfoTest, NamesEveryChipModel) {
    const struct {
        const char* chip;
        const char* maker;
        FlashRange flash;
        const char* sectors;
    } chips[] = {
        {"29LV800B", "AMD", kFlash1M, "1 x 16 KB from 00000000, 2 x 8 KB from 00004000, 1 x 32 KB from 00008000"},
        {"29LV800T", "AMD", kFlash1M, "15 x 64 KB from 00000000, 1 x 32 KB from 000F0000"},
        {"29LV160B", "AMD", kFlash2M, "1 x 16 KB from 00000000"},
        {"29LV160T", "AMD", kFlash2M, "31 x 64 KB from 00000000"},
        {"28F800B3B", "Intel", kFlash1M, "8 x 8 KB from 00000000, 15 x 64 KB from 00010000"},
        {"28F800B3T", "Intel", kFlash1M, "15 x 64 KB from 00000000, 8 x 8 KB from 000F0000"},
        {"28F160B3B", "Intel", kFlash2M, "8 x 8 KB from 00000000, 31 x 64 KB"},
        {"28F160B3T", "Intel", kFlash2M, "31 x 64 KB from 00000000, 8 x 8 KB from 001F0000"},
        {"MBM29LV160BE", "Fujitsu", kFlash2M, "1 x 16 KB from 00000000"},
        {"28F160C3B", "Intel", kFlash2M, "8 x 8 KB from 00000000, 31 x 64 KB"},
        {"LH28F160S3", "Sharp", kFlash2M, "32 x 64 KB from 00000000"},
    };
    for (const auto& c : chips) {
        SCOPED_TRACE(c.chip);
        receiver.Config().flashChip = c.chip;
        Connect();
        ASSERT_TRUE(RunInfo(link->Link(), window, {kLpt1Base, c.flash})) << ::testing::PrintToString(window.lines);
        const std::string all = ::testing::PrintToString(window.lines);
        EXPECT_NE(all.find(std::string("Chip : ") + c.maker + " " + c.chip + " (IDs "), std::string::npos) << all;
        EXPECT_NE(all.find("Size : " + Hex8(c.flash.size)), std::string::npos) << all;
        EXPECT_NE(all.find(c.sectors), std::string::npos) << all;
    }
}

}  // namespace
}  // namespace orbvex::test

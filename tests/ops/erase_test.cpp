#include <gtest/gtest.h>

#include "ops/receiver_fixture.h"

namespace orbvex::test {
namespace {

using ::testing::ElementsAre;

class EraseTest : public ReceiverTest {};

TEST_F(EraseTest, ErasesTheOneMegabyteFlashThroughTheMailbox) {
    Connect();
    receiver.SetFlash(std::vector<std::uint8_t>(0x100000, 0x12));
    window.lines = {"from START"};

    EXPECT_TRUE(RunErase(window));

    EXPECT_THAT(window.lines, ElementsAre("from START", "Init JTAG", "DCU OK", "Trap_Wptr : " + Hex8(Mailbox()),
                                          "Erase ADR[7FF00000] : Please Wait...", "Erase success !!!",
                                          "---------------------"));
    EXPECT_THAT(window.beeps, ElementsAre(0x40u));
    EXPECT_EQ(receiver.PeekWord(Mailbox() + 0x10), 0x7FF00000u);
    for (std::uint8_t b : receiver.Flash()) ASSERT_EQ(b, 0xFF);
}

TEST_F(EraseTest, TwoMegabytesUseTheLowerBase) {
    receiver.Config().flashSize = 0x200000;
    window.f2 = true;
    Connect();
    receiver.SetFlash(std::vector<std::uint8_t>(0x200000, 0));

    EXPECT_TRUE(RunErase(window));

    EXPECT_EQ(window.lines[3], "Erase ADR[7FE00000] : Please Wait...");
    EXPECT_EQ(receiver.PeekWord(Mailbox() + 0x10), 0x7FE00000u);
    EXPECT_EQ(receiver.Flash().front(), 0xFF);
    EXPECT_EQ(receiver.Flash().back(), 0xFF);
}

TEST_F(EraseTest, SilentDcuStopsBeforeTheMailbox) {
    Connect();
    receiver.Faults().dcuSilent = true;
    EXPECT_FALSE(RunErase(window));
    EXPECT_THAT(window.lines, ElementsAre("Init JTAG", "DCU Fail", "---------------------"));
    EXPECT_THAT(window.beeps, ElementsAre(0x40u));
}

TEST_F(EraseTest, TrapProgramThatNeverReportsDoneGivesFail) {
    Connect();
    receiver.Faults().trapNeverDone = true;
    EXPECT_FALSE(RunErase(window));
    EXPECT_EQ(window.lines[window.lines.size() - 2], "Fail");
    EXPECT_EQ(window.LastLine(), "---------------------");
}

TEST_F(EraseTest, WithoutStartNothingIsSentToAMailboxAtZero) {
    receiver.RecordMessages(true);
    EXPECT_FALSE(RunErase(window));
    ASSERT_EQ(window.lines.size(), 5u);
    EXPECT_EQ(window.lines[2], "Trap_Wptr : 00000000");
    EXPECT_EQ(window.lines[3], "Trap workspace word 80000048 is 00000000, no trap program: press START first");
    EXPECT_EQ(window.lines[4], "---------------------");
    EXPECT_TRUE(WritesSince(0).empty());
}

TEST_F(EraseTest, UnreadableWorkspaceWordStopsBeforeTheMailbox) {
    Connect();
    receiver.Faults().refusedReadRanges = {{0x80000048, 0x8000004B}};
    receiver.RecordMessages(true);
    EXPECT_FALSE(RunErase(window));
    EXPECT_EQ(window.lines[2], "Trap_Wptr : 00000000");
    EXPECT_EQ(window.lines[3], "Trap workspace word 80000048 could not be read: stopped before the mailbox");
    EXPECT_TRUE(WritesSince(0).empty());
    EXPECT_THAT(window.beeps, ElementsAre(0x40u));
}

TEST_F(EraseTest, WithoutPortAccessOnlyTheBox) {
    PortAvailable = false;
    EXPECT_FALSE(RunErase(window));
    EXPECT_THAT(window.errorBoxes, ElementsAre("The parallel port could not be opened"));
    EXPECT_TRUE(window.lines.empty());
    EXPECT_TRUE(window.beeps.empty());
}

TEST_F(EraseTest, IgnoresAbortAndLeavesItSet) {
    Connect();
    AbortRequested = true;
    EXPECT_TRUE(RunErase(window));
    EXPECT_TRUE(AbortRequested);
}

}  // namespace
}  // namespace orbvex::test

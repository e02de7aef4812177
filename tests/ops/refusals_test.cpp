// SPDX-License-Identifier: GPL-2.0-or-later
// What the operations have in common when they cannot go on: no port, a silent DCU, no
// trap program. Each operation has to make the check itself, so each one is run.
#include "ops/receiver_fixture.h"

namespace orbvex::test {
namespace {

struct Operation {
    const char* name;
    bool (ReceiverTest::*run)();
    bool clearsAbort = false;     // Start and Write forget an earlier press of Abort
    bool resetsProgress = false;  // Start empties the progress bar before anything else
};

void PrintTo(const Operation& op, std::ostream* os) { *os << op.name; }
std::string NameOf(const ::testing::TestParamInfo<Operation>& info) { return info.param.name; }

const Operation kStart{"Start", &ReceiverTest::Start, true, true};
const Operation kErase{"Erase", &ReceiverTest::Erase};
const Operation kWrite{"Write", &ReceiverTest::Write, true};
const Operation kRead{"Read", &ReceiverTest::Read};

class EveryOperation : public ReceiverTest, public ::testing::WithParamInterface<Operation> {
protected:
    void SetUp() override {
        ReceiverTest::SetUp();
        ChooseRom(RandomBytes(100, 8));
        window.saveChoice = PathIn("dump.bin");
    }
    bool Run() { return (this->*GetParam().run)(); }
};

// Port access that grants nothing.
class NoAccess final : public PortAccess {
public:
    bool Open(std::uint16_t) override { return false; }
    bool Ensure(std::uint16_t) override { return false; }
    void Close(std::uint16_t) override {}
};

class OperationOnTheFlash : public EveryOperation {};
class OperationThroughTheMailbox : public EveryOperation {};

TEST_P(EveryOperation, WithoutPortAccessShowsOnlyTheBoxAndNeverDrivesThePort) {
    NoAccess none;
    link.emplace(none, &receiver);
    receiver.ResetCounters();
    window.lines = {"kept"};
    window.progressPosition = 55;
    AbortRequested = true;

    EXPECT_FALSE(Run());

    EXPECT_THAT(window.errorBoxes, ElementsAre(kPortBox));
    EXPECT_THAT(window.lines, ElementsAre("kept"));
    EXPECT_EQ(window.clears, 0);
    EXPECT_TRUE(window.beeps.empty());
    EXPECT_EQ(window.fileRequests, 0);
    EXPECT_EQ(AbortRequested, !GetParam().clearsAbort);
    EXPECT_EQ(window.progressPosition, GetParam().resetsProgress ? 0 : 55);
    EXPECT_EQ(receiver.Counters().portWrites, 0u);
    EXPECT_EQ(receiver.Counters().portReads, 0u);
    link.reset();
    EXPECT_EQ(receiver.Counters().portWrites, 0u) << "closing releases no port that was refused";
}

TEST_P(OperationOnTheFlash, SilentDcuEndsBeforeAnyDialog) {
    Connect();
    receiver.Faults().dcuSilent = true;
    EXPECT_FALSE(Run());
    EXPECT_THAT(window.lines, ElementsAre("Init JTAG", "DCU Fail", kSeparatorLine));
    EXPECT_THAT(window.beeps, ElementsAre(0x40u));
    EXPECT_EQ(window.fileRequests, 0);
}

// A mailbox at address 0 would send the commands into the CPU's low registers.
TEST_P(OperationThroughTheMailbox, WithoutStartNothingIsSentToAMailboxAtZero) {
    receiver.RecordMessages(true);
    EXPECT_FALSE(Run());
    EXPECT_THAT(window.lines,
                ElementsAre("Init JTAG", "DCU OK", "Trap_Wptr : 00000000",
                            "Trap workspace word 80000048 is 00000000, no trap program: press START first",
                            kSeparatorLine));
    EXPECT_THAT(window.beeps, ElementsAre(0x40u));
    EXPECT_EQ(window.fileRequests, 0);
    EXPECT_TRUE(Writes().empty());
}

TEST_P(OperationThroughTheMailbox, UnreadableWorkspaceWordStopsBeforeTheMailbox) {
    Connect();
    receiver.Faults().refusedReadRanges = {{0x80000048, 0x8000004B}};
    receiver.RecordMessages(true);
    EXPECT_FALSE(Run());
    EXPECT_THAT(window.lines,
                ElementsAre("Init JTAG", "DCU OK", "Trap_Wptr : 00000000",
                            "Trap workspace word 80000048 could not be read: stopped before the mailbox",
                            kSeparatorLine));
    EXPECT_THAT(window.beeps, ElementsAre(0x40u));
    EXPECT_EQ(window.fileRequests, 0);
    EXPECT_TRUE(Writes().empty());
}

INSTANTIATE_TEST_SUITE_P(All, EveryOperation, ::testing::Values(kStart, kErase, kWrite, kRead), NameOf);
INSTANTIATE_TEST_SUITE_P(All, OperationOnTheFlash, ::testing::Values(kErase, kWrite, kRead), NameOf);
INSTANTIATE_TEST_SUITE_P(All, OperationThroughTheMailbox, ::testing::Values(kErase, kWrite), NameOf);

}  // namespace
}  // namespace orbvex::test

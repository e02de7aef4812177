#include <gtest/gtest.h>

#include "ops/receiver_fixture.h"

namespace orbvex::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

class WriteTest : public ReceiverTest {
protected:
    // A connected receiver and a ROM file of the given bytes chosen in the dialog.
    void Prepare(const std::vector<std::uint8_t>& rom) {
        Connect();
        WriteFileBytes(PathIn("image.rom"), rom);
        window.openChoice = PathIn("image.rom");
        receiver.RecordMessages(true);
    }

    // (offset in the data buffer, bytes) of every block write into it.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> DataBufferBlocks() const {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> blocks;
        std::uint32_t buffer = Mailbox() + 0x1C;
        for (const auto& m : WritesSince(0))
            if (m.address >= buffer && m.address < buffer + 4096)
                blocks.emplace_back(m.address - buffer, m.dataBytes);
        return blocks;
    }

    int CommandWordReads() const {
        int n = 0;
        for (const auto& m : receiver.Messages())
            n += m.kind == sim::DcuMessageRecord::Kind::Read && m.address == Mailbox();
        return n;
    }

    bool FlashStartsWith(const std::vector<std::uint8_t>& rom, std::uint8_t rest) const {
        const auto& flash = receiver.Flash();
        for (std::size_t i = 0; i < flash.size(); ++i)
            if (flash[i] != (i < rom.size() ? rom[i] : rest)) return false;
        return true;
    }

    std::string AdrLine(std::uint32_t length) const {
        return "Write Flash ADR[7FF00000] LEN[" + Hex8(length) + "] : Please Wait...";
    }
};

TEST_F(WriteTest, FiveThousandBytesTravelAsTwoChunks) {
    auto rom = RandomBytes(5000, 1);
    Prepare(rom);

    EXPECT_TRUE(RunWrite(window));

    std::uint32_t mailbox = Mailbox();
    EXPECT_THAT(window.lines, ElementsAre("Init JTAG", "DCU OK", "Trap_Wptr : " + Hex8(mailbox),
                                          "File : " + PathIn("image.rom"), AdrLine(5000), "Write Flash END",
                                          "---------------------"));
    EXPECT_THAT(window.beeps, ElementsAre(0x40u));
    std::vector<std::pair<std::uint32_t, std::uint32_t>> expected;
    for (std::uint32_t off = 0; off < 4032; off += 252) expected.emplace_back(off, 252);
    expected.emplace_back(4032, 64);
    for (std::uint32_t off = 0; off < 756; off += 252) expected.emplace_back(off, 252);
    expected.emplace_back(756, 148);
    EXPECT_EQ(DataBufferBlocks(), expected);
    EXPECT_EQ(receiver.PeekWord(mailbox + 0x04), 0x7FF01000u);
    EXPECT_EQ(receiver.PeekWord(mailbox + 0x08), mailbox + 0x1C);
    EXPECT_EQ(receiver.PeekWord(mailbox + 0x0C), 904u);
    EXPECT_EQ(receiver.PeekWord(mailbox + 0x10), 0x7FF00000u);
    EXPECT_TRUE(FlashStartsWith(rom, 0xFF));

    EXPECT_THAT(window.labels, ElementsAre("7FF00000", "7FF01000"));
    EXPECT_THAT(window.progressPositions, ElementsAre(0, 0, 40));
    EXPECT_EQ(window.progressMaximum, 10485);
    EXPECT_THAT(window.transfer, ElementsAre(std::pair<std::uint64_t, std::uint64_t>{0, 5000},
                                             std::pair<std::uint64_t, std::uint64_t>{4096, 5000},
                                             std::pair<std::uint64_t, std::uint64_t>{5000, 5000}));
    ASSERT_EQ(window.dialogs.size(), 1u);
    EXPECT_EQ(window.dialogs[0].filter, "ROM files (*.rom)|*.rom|All files (*.*)|*.*");
    EXPECT_EQ(window.dialogs[0].initialDir, ProgramDirectory());
    EXPECT_EQ(window.dialogs[0].defaultExt, "rom");
}

class OddSizes : public WriteTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(OddSizes, EveryByteOfTheFileLandsAndNothingElse) {
    auto rom = RandomBytes(GetParam(), static_cast<unsigned>(GetParam()));
    Prepare(rom);

    EXPECT_TRUE(RunWrite(window));

    EXPECT_TRUE(FlashStartsWith(rom, 0xFF));
    std::uint32_t lastChunk = GetParam() % 4096 ? GetParam() % 4096 : 4096;
    EXPECT_EQ(receiver.PeekWord(Mailbox() + 0x0C), lastChunk);  // the exact length, not the padded one
    auto blocks = DataBufferBlocks();
    ASSERT_FALSE(blocks.empty());
    EXPECT_EQ(blocks.back().second % 4, 0u);
}

INSTANTIATE_TEST_SUITE_P(NotMultiplesOfFour, OddSizes, ::testing::Values(1, 2, 3, 5, 253, 4097, 4099, 5001));

TEST_F(WriteTest, EmptyFileSendsNoChunk) {
    Prepare({});
    EXPECT_TRUE(RunWrite(window));
    EXPECT_THAT(window.lines, ElementsAre("Init JTAG", "DCU OK", "Trap_Wptr : " + Hex8(Mailbox()),
                                          "File : " + PathIn("image.rom"), AdrLine(0), "Write Flash END",
                                          "---------------------"));
    EXPECT_TRUE(DataBufferBlocks().empty());
    EXPECT_TRUE(window.labels.empty());
}

TEST_F(WriteTest, AbortBeforeTheTransferWritesNothing) {
    Prepare(RandomBytes(9000, 2));
    AbortRequested = true;  // a press before the run is forgotten: Write clears the flag
    window.abortAtProcessCall = 1;

    EXPECT_FALSE(RunWrite(window));

    EXPECT_EQ(window.lines[window.lines.size() - 3], AdrLine(9000));
    EXPECT_EQ(window.lines[window.lines.size() - 2], "Write Flash END");
    EXPECT_TRUE(DataBufferBlocks().empty());
    EXPECT_TRUE(FlashStartsWith({}, 0xFF));
}

TEST_F(WriteTest, AbortDuringAnUploadStillSendsThatChunksCommand) {
    auto rom = RandomBytes(9000, 3);
    Prepare(rom);
    receiver.Config().programBusyPolls = 5;
    window.abortAtProcessCall = 2;  // the processing after the first chunk's upload

    EXPECT_FALSE(RunWrite(window));

    EXPECT_EQ(window.lines[window.lines.size() - 2], "Write Flash END");
    EXPECT_EQ(receiver.PeekWord(Mailbox() + 0x04), 0x7FF00000u);
    EXPECT_EQ(DataBufferBlocks().size(), 17u);  // the first chunk only
    EXPECT_EQ(CommandWordReads(), 1);           // stops at the first read without completion
    EXPECT_THAT(window.labels, ElementsAre("7FF00000"));
}

TEST_F(WriteTest, AbortTakesEffectAtTheNextChunkWhenTheChunkIsDoneAtOnce) {
    auto rom = RandomBytes(9000, 4);
    Prepare(rom);
    receiver.Config().programBusyPolls = 0;
    window.abortAtProcessCall = 2;

    EXPECT_FALSE(RunWrite(window));

    std::vector<std::uint8_t> first(rom.begin(), rom.begin() + 4096);
    EXPECT_TRUE(FlashStartsWith(first, 0xFF));
    EXPECT_EQ(DataBufferBlocks().size(), 17u);
}

TEST_F(WriteTest, TrapProgramNeverDoneFailsAfterTheLastPoll) {
    Prepare(RandomBytes(9000, 5));
    receiver.Faults().trapNeverDone = true;

    EXPECT_FALSE(RunWrite(window));

    std::uint32_t status = receiver.PeekWord(Mailbox());
    EXPECT_EQ(status & 1u, 0u);
    EXPECT_EQ(window.lines[window.lines.size() - 3],
              "Error writing flash at address 7FF00000 ACK = " + Hex8(status));
    EXPECT_EQ(window.lines[window.lines.size() - 2], "Write Flash END");
    EXPECT_EQ(CommandWordReads(), 1001);
    EXPECT_EQ(DataBufferBlocks().size(), 17u);
}

TEST_F(WriteTest, DoneOnTheThousandthReadCountsButNotOnTheLastRead) {
    auto rom = RandomBytes(100, 9);
    Prepare(rom);
    receiver.Config().programBusyPolls = 999;
    EXPECT_TRUE(RunWrite(window));
    EXPECT_EQ(CommandWordReads(), 1000);

    receiver.ClearMessages();
    receiver.Config().programBusyPolls = 1000;
    window.Forget();
    EXPECT_FALSE(RunWrite(window));
    EXPECT_EQ(CommandWordReads(), 1001);
    EXPECT_EQ(window.lines[window.lines.size() - 3].rfind("Error writing flash at address 7FF00000 ACK = ", 0), 0u);
}

TEST_F(WriteTest, UnreadableCommandWordFailsTheChunk) {
    Prepare(RandomBytes(9000, 6));
    std::uint32_t mailbox = Mailbox();
    receiver.Faults().refusedReadRanges = {{mailbox, mailbox + 3}};

    EXPECT_FALSE(RunWrite(window));

    EXPECT_EQ(window.lines[window.lines.size() - 3], "Error writing flash at address 7FF00000 ACK = 00000000");
    EXPECT_EQ(DataBufferBlocks().size(), 17u);  // the second chunk is never sent
}

TEST_F(WriteTest, FailedUploadSendsNoProgramCommand) {
    Prepare(RandomBytes(5000, 7));
    std::uint32_t mailbox = Mailbox();
    receiver.Faults().refusedWriteAddresses = {mailbox + 0x1C};

    EXPECT_FALSE(RunWrite(window));

    EXPECT_EQ(window.lines[window.lines.size() - 3], "Load Data RAM Fail");
    EXPECT_EQ(window.lines[window.lines.size() - 2], "Write Flash END");
    for (const auto& m : WritesSince(0)) EXPECT_NE(m.address, mailbox);
    EXPECT_TRUE(FlashStartsWith({}, 0xFF));
}

TEST_F(WriteTest, MissingRomFileProgramsNothing) {
    Connect();
    receiver.RecordMessages(true);
    window.openChoice = PathIn("absent.rom");

    EXPECT_FALSE(RunWrite(window));

    EXPECT_THAT(window.lines, ElementsAre("Init JTAG", "DCU OK", "Trap_Wptr : " + Hex8(Mailbox()),
                                          "File : " + PathIn("absent.rom"),
                                          "Cannot open the ROM file: nothing written", "---------------------"));
    EXPECT_TRUE(WritesSince(0).empty());
}

TEST_F(WriteTest, FolderChosenAsRomFileProgramsNothing) {
    Connect();
    receiver.RecordMessages(true);
    std::filesystem::create_directory(PathIn("folder.rom"));
    window.openChoice = PathIn("folder.rom");

    EXPECT_FALSE(RunWrite(window));

    EXPECT_EQ(window.lines[window.lines.size() - 2], "Cannot open the ROM file: nothing written");
    EXPECT_TRUE(WritesSince(0).empty());
}

TEST_F(WriteTest, RomFileLargerThanTheFlashIsRefusedBeforeAnythingIsSent) {
    Prepare(std::vector<std::uint8_t>(0x100001, 0));

    EXPECT_FALSE(RunWrite(window));

    EXPECT_EQ(window.lines[window.lines.size() - 2],
              "ROM file too large: LEN[00100001] but flash LEN[00100000]: nothing written");
    EXPECT_TRUE(WritesSince(0).empty());
    EXPECT_TRUE(FlashStartsWith({}, 0xFF));
}

TEST_F(WriteTest, CancelledDialogLeavesTheFlashAlone) {
    Connect();
    receiver.RecordMessages(true);
    EXPECT_FALSE(RunWrite(window));
    EXPECT_THAT(window.lines, ElementsAre("Init JTAG", "DCU OK", "Trap_Wptr : " + Hex8(Mailbox()),
                                          "---------------------"));
    EXPECT_THAT(window.beeps, ElementsAre(0x40u));
    EXPECT_TRUE(WritesSince(0).empty());
}

TEST_F(WriteTest, SilentDcuShowsNoDialog) {
    Connect();
    receiver.Faults().dcuSilent = true;
    window.openChoice = PathIn("image.rom");
    EXPECT_FALSE(RunWrite(window));
    EXPECT_THAT(window.lines, ElementsAre("Init JTAG", "DCU Fail", "---------------------"));
    EXPECT_TRUE(window.dialogs.empty());
}

TEST_F(WriteTest, NoTrapProgramMeansNoDialogAndNoMailbox) {
    WriteFileBytes(PathIn("image.rom"), RandomBytes(100, 8));
    window.openChoice = PathIn("image.rom");
    receiver.RecordMessages(true);

    EXPECT_FALSE(RunWrite(window));

    EXPECT_EQ(window.lines[2], "Trap_Wptr : 00000000");
    EXPECT_EQ(window.lines[3], "Trap workspace word 80000048 is 00000000, no trap program: press START first");
    EXPECT_TRUE(window.dialogs.empty());
    EXPECT_TRUE(WritesSince(0).empty());
}

TEST_F(WriteTest, WithoutPortAccessOnlyTheBoxButAbortIsCleared) {
    PortAvailable = false;
    AbortRequested = true;
    EXPECT_FALSE(RunWrite(window));
    EXPECT_THAT(window.errorBoxes, ElementsAre("The parallel port could not be opened"));
    EXPECT_TRUE(window.lines.empty());
    EXPECT_FALSE(AbortRequested);
}

}  // namespace
}  // namespace orbvex::test

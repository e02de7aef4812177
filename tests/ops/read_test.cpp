#include <gtest/gtest.h>

#include "ops/receiver_fixture.h"

namespace orbvex::test {
namespace {

using ::testing::ElementsAre;

class ReadTest : public ReceiverTest {
protected:
    std::vector<std::string> FilesInDir() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(ReadTest, OneMegabyteLandsInTheFileWithTheLabelRule) {
    Connect();
    auto content = RandomBytes(0x100000, 11);
    receiver.SetFlash(content);
    window.saveChoice = PathIn("dump.bin");
    AbortRequested = true;

    EXPECT_TRUE(RunRead(window));

    EXPECT_THAT(window.lines, ElementsAre("Init JTAG", "DCU OK", "Read ADR[7FF00000]:LEN[00100000]",
                                          "Read END", "---------------------"));
    EXPECT_THAT(window.beeps, ElementsAre(0x40u));
    EXPECT_EQ(ReadFileBytes(PathIn("dump.bin")), content);
    EXPECT_EQ(window.Label(), "7FFFFF00");
    EXPECT_EQ(window.labels.size(), 273u);  // every 0xF00 bytes
    EXPECT_EQ(window.processCalls, static_cast<int>(window.labels.size()) + 1);
    EXPECT_TRUE(AbortRequested);  // Read neither clears nor heeds it
    ASSERT_FALSE(window.transfer.empty());
    EXPECT_EQ(window.transfer.back(), (std::pair<std::uint64_t, std::uint64_t>{0x100000, 0x100000}));
    EXPECT_GE(window.transfer.size(), window.labels.size());
    ASSERT_EQ(window.dialogs.size(), 1u);
    EXPECT_EQ(window.dialogs[0].filter, "BIN files (*.bin)|*.bin|All files (*.*)|*.*");
    EXPECT_EQ(window.dialogs[0].initialDir, ProgramDirectory());
    EXPECT_EQ(window.dialogs[0].defaultExt, "bin");
    EXPECT_THAT(FilesInDir(), ElementsAre("dump.bin"));
}

TEST_F(ReadTest, ShorterRepliesStillFillTheImageExactly) {
    Connect();
    receiver.Config().replyBlockLength = 252;
    auto content = RandomBytes(0x100000, 12);
    receiver.SetFlash(content);
    window.saveChoice = PathIn("dump.bin");

    EXPECT_TRUE(RunRead(window));

    EXPECT_EQ(ReadFileBytes(PathIn("dump.bin")), content);
}

TEST_F(ReadTest, ReplacesAnExistingFile) {
    Connect();
    WriteFileBytes(PathIn("dump.bin"), {1, 2, 3});
    window.saveChoice = PathIn("dump.bin");
    EXPECT_TRUE(RunRead(window));
    EXPECT_EQ(ReadFileBytes(PathIn("dump.bin")).size(), 0x100000u);
    EXPECT_THAT(FilesInDir(), ElementsAre("dump.bin"));
}

TEST_F(ReadTest, CancelledDialogReadsNothing) {
    Connect();
    EXPECT_FALSE(RunRead(window));
    EXPECT_THAT(window.lines, ElementsAre("Init JTAG", "DCU OK", "---------------------"));
    EXPECT_THAT(window.beeps, ElementsAre(0x40u));
    EXPECT_TRUE(FilesInDir().empty());
}

TEST_F(ReadTest, SilentDcuShowsNoDialog) {
    receiver.Faults().dcuSilent = true;
    window.saveChoice = PathIn("dump.bin");
    EXPECT_FALSE(RunRead(window));
    EXPECT_THAT(window.lines, ElementsAre("Init JTAG", "DCU Fail", "---------------------"));
    EXPECT_TRUE(window.dialogs.empty());
}

TEST_F(ReadTest, FailingFirstBlockWritesNoFileOfZeros) {
    Connect();
    receiver.Faults().refusedReadRanges = {{0x7FF00000, 0x7FF00003}};
    window.saveChoice = PathIn("dump.bin");

    EXPECT_FALSE(RunRead(window));

    EXPECT_THAT(window.lines, ElementsAre("Init JTAG", "DCU OK", "Read ADR[7FF00000]:LEN[00100000]",
                                          "Read stopped at address 7FF00000: the receiver did not answer, no file written",
                                          "---------------------"));
    EXPECT_EQ(window.Label(), "7FF00000");
    EXPECT_TRUE(FilesInDir().empty());
}

TEST_F(ReadTest, FailingBlockMidwayLeavesAnExistingFileUntouched) {
    Connect();
    WriteFileBytes(PathIn("dump.bin"), {9, 8, 7});
    receiver.Faults().refusedReadRanges = {{0x7FF80000, 0x7FF80003}};
    window.saveChoice = PathIn("dump.bin");

    EXPECT_FALSE(RunRead(window));

    EXPECT_EQ(window.lines[window.lines.size() - 2],
              "Read stopped at address 7FF80000: the receiver did not answer, no file written");
    EXPECT_EQ(ReadFileBytes(PathIn("dump.bin")), (std::vector<std::uint8_t>{9, 8, 7}));
    EXPECT_THAT(FilesInDir(), ElementsAre("dump.bin"));
}

TEST_F(ReadTest, FileInAMissingFolderIsReported) {
    Connect();
    window.saveChoice = PathIn("no-such-folder/dump.bin");
    EXPECT_FALSE(RunRead(window));
    EXPECT_EQ(window.lines[window.lines.size() - 2], "Cannot create file " + PathIn("no-such-folder/dump.bin"));
    EXPECT_THAT(window.beeps, ElementsAre(0x40u));
}

TEST_F(ReadTest, FileThatCannotTakeTheImageIsReportedAndNothingIsLeftBehind) {
    Connect();
    std::filesystem::create_directories(PathIn("taken.bin/inside"));
    window.saveChoice = PathIn("taken.bin");
    EXPECT_FALSE(RunRead(window));
    EXPECT_EQ(window.lines[window.lines.size() - 2], "Cannot write file " + PathIn("taken.bin"));
    EXPECT_THAT(FilesInDir(), ElementsAre("taken.bin"));
}

TEST_F(ReadTest, WithoutPortAccessOnlyTheBox) {
    PortAvailable = false;
    window.saveChoice = PathIn("dump.bin");
    EXPECT_FALSE(RunRead(window));
    EXPECT_THAT(window.errorBoxes, ElementsAre("The parallel port could not be opened"));
    EXPECT_TRUE(window.lines.empty());
    EXPECT_TRUE(window.dialogs.empty());
}

}  // namespace
}  // namespace orbvex::test

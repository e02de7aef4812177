// Ranged read and verify on a receiver that answers in short blocks or stops answering
// part way: the range comes back exact, or where it stopped is said and no file is
// made or touched.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "cli/progress_bar.h"
#include "cli/range_commands.h"
#include "cli/terminal_window.h"
#include "cli_test_support.h"
#include "link/dcu.h"
#include "link/jtag.h"
#include "ops/operations.h"
#include "port/kqportio.h"
#include "sim/virtual_receiver.h"

namespace orbvex::cli {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using test::ReadBytes;
using test::WriteBytes;

class RangeRead : public ::testing::Test {
protected:
    void SetUp() override {
        SetPortBackend(&receiver_);
        PortAvailable = true;
        LptBase = 0x378;
        ClockDelay = 1;
        StartWaitLimit = 2024;
        TrapFileName = ORBVEX_VIRTUAL_TRAP_IMAGE;
        ASSERT_TRUE(RunStart(window_)) << out_.str();
        out_.str("");
    }
    void TearDown() override {
        SetPortBackend(nullptr);
        PortAvailable = false;
        TrapFileName = "trap.bin";
    }

    sim::VirtualReceiver receiver_;
    std::ostringstream out_, err_;
    ProgressBar bar_{err_, false};
    TerminalWindow window_{out_, err_, bar_, false, PortButton::L1};
    test::TempDir dir_;
};

TEST_F(RangeRead, ABlockThatFailsEndsTheReadWithItsAddressAndLeavesTheFileAlone) {
    const std::string path = dir_.Path("keep.bin");
    WriteBytes(path, {'o', 'l', 'd'});
    receiver_.Faults().refusedReadRanges = {{0x7FF00400, 0x7FF004FF}};
    EXPECT_FALSE(ReadRangeToFile(window_, 0x7FF00000, 0x1000, path));
    EXPECT_THAT(out_.str(), HasSubstr("Read stopped at address 7FF00400: the receiver did not answer, no file written\n"
                                      "---------------------\n"));
    EXPECT_THAT(out_.str(), Not(HasSubstr("Read END")));
    EXPECT_EQ(ReadBytes(path), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(dir_.Entries(), 1u);
}

TEST_F(RangeRead, AVerifyThatCannotReadSaysWhereAndFails) {
    const std::string path = dir_.Path("image.rom");
    WriteBytes(path, std::vector<std::uint8_t>(0x800, 0xFF));
    receiver_.Faults().refusedReadRanges = {{0x7FF00700, 0x7FF00700}};
    EXPECT_FALSE(VerifyRangeWithFile(window_, 0x7FF00000, std::nullopt, 0x80000000ull, path));
    EXPECT_THAT(out_.str(), HasSubstr("Verify stopped at address 7FF00700: the receiver did not answer\n"));
    EXPECT_THAT(out_.str(), Not(HasSubstr("Verify OK")));
}

TEST_F(RangeRead, ShortReplyBlocksAreStitchedAndTrimmedToTheRange) {
    const auto image = test::RandomImage(600, 9);
    receiver_.SetFlash(image);
    receiver_.Config().replyBlockLength = 12;
    const std::string path = dir_.Path("part.bin");
    ASSERT_TRUE(ReadRangeToFile(window_, 0x7FF00000 + 101, 333, path)) << out_.str();
    EXPECT_EQ(ReadBytes(path), std::vector<std::uint8_t>(image.begin() + 101, image.begin() + 434));
}

}  // namespace
}  // namespace orbvex::cli

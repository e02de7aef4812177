// Ranged read and verify when the receiver stops answering part way: where it stopped
// is said, and no file is made or touched.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "cli/progress_bar.h"
#include "cli/range_commands.h"
#include "cli/terminal_window.h"
#include "link/dcu.h"
#include "link/jtag.h"
#include "ops/operations.h"
#include "port/kqportio.h"
#include "sim/virtual_receiver.h"
#include "support/temp_dir.h"
#include "support/tool_run.h"

namespace orbvex::cli {
namespace {

using ::testing::HasSubstr;

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
    test::WriteBytes(path, {'o', 'l', 'd'});
    receiver_.Faults().refusedReadRanges = {{0x7FF00400, 0x7FF004FF}};
    EXPECT_FALSE(ReadRangeToFile(window_, 0x7FF00000, 0x1000, path));
    EXPECT_THAT(out_.str(), HasSubstr("Read stopped at address 7FF00400: the receiver did not answer, no file written\n"
                                      "---------------------\n"));
    EXPECT_THAT(out_.str(), ::testing::Not(HasSubstr("Read END")));
    EXPECT_EQ(test::ReadBytes(path), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()), {}), 1);
}

TEST_F(RangeRead, AVerifyThatCannotReadSaysWhereAndFails) {
    const std::string path = dir_.Path("image.rom");
    test::WriteBytes(path, std::vector<std::uint8_t>(0x800, 0xFF));
    receiver_.Faults().refusedReadRanges = {{0x7FF00700, 0x7FF00700}};
    EXPECT_FALSE(VerifyRangeWithFile(window_, 0x7FF00000, std::nullopt, 0x80000000ull, path));
    EXPECT_THAT(out_.str(), HasSubstr("Verify stopped at address 7FF00700: the receiver did not answer\n"));
    EXPECT_THAT(out_.str(), ::testing::Not(HasSubstr("Verify OK")));
}

TEST_F(RangeRead, ShortReplyBlocksAreStitchedAndTrimmedToTheRange) {
    std::vector<std::uint8_t> image(600);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7);
    receiver_.SetFlash(image);
    receiver_.Config().replyBlockLength = 12;
    const std::string path = dir_.Path("part.bin");
    ASSERT_TRUE(ReadRangeToFile(window_, 0x7FF00000 + 101, 333, path)) << out_.str();
    EXPECT_EQ(test::ReadBytes(path), std::vector<std::uint8_t>(image.begin() + 101, image.begin() + 434));
}

}  // namespace
}  // namespace orbvex::cli

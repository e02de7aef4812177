// The tool end to end on the in-process virtual receiver: what reaches stdout and
// stderr, exit statuses, several commands in one call, the saved virtual flash,
// verify, ranges and the progress bar.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "link/link_log.h"
#include "support/temp_dir.h"
#include "support/tool_run.h"

namespace orbvex {
namespace {

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using test::RandomImage;
using test::ReadBytes;
using test::RunTool;
using test::TempDir;
using test::ToolRun;
using test::WriteBytes;

std::vector<std::string> HealthyStartLog() {
    const auto trapSize = static_cast<std::uint32_t>(std::filesystem::file_size(ORBVEX_VIRTUAL_TRAP_IMAGE));
    return {"Init JTAG",
            "IDCODE : 10006A5B",
            "CPU : STi5512",
            "Stop CPU",
            "Clear Trap : Please Wait...",
            "Load Trap -> Ram : Please Wait...",
            "Load Trap : LEN Ok",
            "Init Trap : Please Wait...",
            "Trap_Wptr " + Hex8(0x80000140u + (trapSize & ~3u) + 8),
            "Trap_Iptr 80000140",
            "Start Trap  : Please Wait...",
            "Load EMI : Please Wait...",
            "Init OK :)",
            "---------------------"};
}

TEST(CliRun, VirtualStartPrintsTheStartLogExactlyAndNothingElse) {
    ToolRun run = RunTool({"--virtual", "start"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.Lines(), ElementsAreArray(HealthyStartLog()));
    EXPECT_THAT(run.err, IsEmpty());
}

TEST(CliRun, BadArgumentsGiveStatusTwoAMessageOnStderrAndAnEmptyLog) {
    ToolRun run = RunTool({"--virtual", "--flash", "3M", "start"});
    EXPECT_EQ(run.status, 2);
    EXPECT_THAT(run.out, IsEmpty());
    EXPECT_THAT(run.err, HasSubstr("--flash must be 1M or 2M"));
    run = RunTool({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.out, HasSubstr("Usage"));
}

TEST(CliRun, CommandsRunInOrderOnOneConnectionAndStopAtTheFirstFailure) {
    TempDir dir;
    const std::string back = dir.Path("back.bin");
    ToolRun run = RunTool({"--virtual", "start", "write", dir.Path("missing.rom"), "read", back});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, HasSubstr("Init OK :)"));
    EXPECT_THAT(run.out, Not(HasSubstr("Read ADR[")));
    EXPECT_FALSE(std::filesystem::exists(back));
    EXPECT_THAT(run.err, HasSubstr("\"write\" failed; the commands after it were not run"));

    // Erase with no START before it finds no trap program, and read does not run.
    run = RunTool({"--virtual", "erase", "read", back});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, Not(HasSubstr("Read ADR[")));
    EXPECT_FALSE(std::filesystem::exists(back));
}

TEST(CliRun, AnInterruptStopsBeforeTheNextCommand) {
    int polls = 0;
    // The first poll is the runner's own, before "start"; START lets messages through once.
    ToolRun run = RunTool({"--virtual", "start", "erase"}, false, [&] { return ++polls > 2; });
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, HasSubstr("Init OK :)"));
    EXPECT_THAT(run.out, Not(HasSubstr("Erase")));
    EXPECT_THAT(run.err, HasSubstr("stopped before \"erase\" (interrupted)"));
}

TEST(CliRun, AnInterruptDuringWriteAbortsItAndFailsTheRun) {
    TempDir dir;
    const std::string flash = dir.Path("flash.img");
    WriteBytes(dir.Path("image.rom"), RandomImage(9000, 5));
    int polls = 0;
    // Polls: the runner's before "start", START's, the runner's before "write", then
    // Write's own before its first chunk, where the abort lands.
    ToolRun run = RunTool({"--virtual", "--virtual-flash", flash, "start", "write", dir.Path("image.rom")}, false,
                          [&] { return ++polls > 3; });
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, HasSubstr("Write Flash END"));
    EXPECT_THAT(run.err, HasSubstr("\"write\" interrupted"));
    EXPECT_EQ(ReadBytes(flash), std::vector<std::uint8_t>(0x100000, 0xFF));  // no chunk programmed
}

TEST(CliRun, WriteThenReadGivesTheImageBackOnTwoMegabytes) {
    TempDir dir;
    const auto image = RandomImage(5000, 1);
    WriteBytes(dir.Path("image.rom"), image);
    ToolRun run = RunTool({"--virtual", "--flash", "2M", "start", "erase", "write", dir.Path("image.rom"), "read",
                           dir.Path("back.bin")});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_THAT(run.out, HasSubstr("Read ADR[7FE00000]:LEN[00200000]"));
    const auto back = ReadBytes(dir.Path("back.bin"));
    ASSERT_EQ(back.size(), 0x200000u);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), back.begin()));
    EXPECT_TRUE(std::all_of(back.begin() + 5000, back.end(), [](std::uint8_t b) { return b == 0xFF; }));
}

TEST(CliRun, TheVirtualFlashFileCarriesTheFlashFromOneCallToTheNext) {
    TempDir dir;
    const std::string flash = dir.Path("flash.img");
    const auto image = RandomImage(5000, 2);
    WriteBytes(dir.Path("image.rom"), image);
    ToolRun first = RunTool({"--virtual", "--virtual-flash", flash, "start", "erase", "write", dir.Path("image.rom")});
    ASSERT_EQ(first.status, 0) << first.out << first.err;
    ASSERT_EQ(std::filesystem::file_size(flash), 0x100000u);

    ToolRun second = RunTool({"--virtual", "--virtual-flash", flash, "start", "verify", dir.Path("image.rom")});
    EXPECT_EQ(second.status, 0) << second.out << second.err;
    EXPECT_THAT(second.out, HasSubstr("Verify ADR[7FF00000]:LEN[00001388]\nVerify OK\n"));

    // A fresh flash file starts erased.
    ToolRun fresh = RunTool({"--virtual", "--virtual-flash", dir.Path("new.img"), "start", "verify", dir.Path("image.rom")});
    EXPECT_EQ(fresh.status, 1);
    EXPECT_EQ(ReadBytes(dir.Path("new.img")), std::vector<std::uint8_t>(0x100000, 0xFF));
}

TEST(CliRun, AVirtualFlashFileLargerThanTheFlashIsRefusedAndKept) {
    TempDir dir;
    const std::string flash = dir.Path("flash.img");
    WriteBytes(flash, std::vector<std::uint8_t>(0x200000, 0x00));
    ToolRun run = RunTool({"--virtual", "--virtual-flash", flash, "start"});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("holds 2097152 bytes, more than the 1M flash"));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(std::filesystem::file_size(flash), 0x200000u);
}

TEST(CliRun, VerifyReportsTheFirstDifferenceTheTwoBytesAndTheCount) {
    TempDir dir;
    const std::string flash = dir.Path("flash.img");
    auto image = RandomImage(5000, 3);
    WriteBytes(dir.Path("image.rom"), image);
    ASSERT_EQ(RunTool({"--virtual", "--virtual-flash", flash, "start", "erase", "write", dir.Path("image.rom")}).status, 0);
    const std::uint8_t written = image[0x10];
    image[0x10] = static_cast<std::uint8_t>(written ^ 0xFF);
    image[4999] ^= 0x01;
    image[4998] ^= 0x80;
    WriteBytes(dir.Path("other.rom"), image);
    ToolRun run = RunTool({"--virtual", "--virtual-flash", flash, "start", "verify", dir.Path("other.rom"), "read",
                           dir.Path("never.bin")});
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("never.bin")));
    char expected[80];
    std::snprintf(expected, sizeof expected, "Verify FAIL ADR[7FF00010] flash=%02X file=%02X, 3 bytes differ", written,
                  image[0x10]);
    EXPECT_THAT(run.out, HasSubstr(expected));
}

TEST(CliRun, VerifyOfAMissingFileOrOneLargerThanTheFlashFails) {
    TempDir dir;
    ToolRun run = RunTool({"--virtual", "verify", dir.Path("none.rom")});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, HasSubstr("Cannot open file"));
    WriteBytes(dir.Path("big.rom"), std::vector<std::uint8_t>(0x100004, 0xFF));
    run = RunTool({"--virtual", "verify", dir.Path("big.rom")});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, HasSubstr("4 bytes past the end of the flash"));
}

TEST(CliRun, OffsetAndLengthReadAndVerifyPartOfTheFlash) {
    TempDir dir;
    const std::string flash = dir.Path("flash.img");
    const auto image = RandomImage(5000, 4);
    WriteBytes(dir.Path("image.rom"), image);
    ASSERT_EQ(RunTool({"--virtual", "--virtual-flash", flash, "start", "erase", "write", dir.Path("image.rom")}).status, 0);

    ToolRun run = RunTool({"--virtual", "--virtual-flash", flash, "--offset", "0x100", "--length", "1000", "start", "read",
                           dir.Path("part.bin")});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_THAT(run.out, HasSubstr("Read ADR[7FF00100]:LEN[000003E8]"));
    EXPECT_EQ(ReadBytes(dir.Path("part.bin")), std::vector<std::uint8_t>(image.begin() + 0x100, image.begin() + 0x100 + 1000));

    // Not on a word boundary: the blocks are read from the word below and trimmed.
    run = RunTool({"--virtual", "--virtual-flash", flash, "--offset", "3", "--length", "5", "start", "read", dir.Path("odd.bin")});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(ReadBytes(dir.Path("odd.bin")), std::vector<std::uint8_t>(image.begin() + 3, image.begin() + 8));

    // The last bytes of the flash, right below 0x80000000.
    run = RunTool({"--virtual", "--virtual-flash", flash, "--offset", "0xFFFF0", "start", "read", dir.Path("top.bin")});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(ReadBytes(dir.Path("top.bin")), std::vector<std::uint8_t>(16, 0xFF));

    WriteBytes(dir.Path("tail.rom"), std::vector<std::uint8_t>(image.begin() + 4096, image.end()));
    run = RunTool({"--virtual", "--virtual-flash", flash, "--offset", "4096", "start", "verify", dir.Path("tail.rom")});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_THAT(run.out, HasSubstr("Verify ADR[7FF01000]:LEN[00000388]\nVerify OK"));
    run = RunTool({"--virtual", "--virtual-flash", flash, "--offset", "4096", "--length", "100", "start", "verify",
                   dir.Path("image.rom")});
    EXPECT_EQ(run.status, 1);  // the file's first bytes are not the flash's at 4096
}

TEST(CliRun, TheProgressBarGoesToATerminalOnlyAndNeverChangesTheLog) {
    TempDir dir;
    const std::vector<std::string> args = {"--virtual", "--length", "64K", "start", "read", dir.Path("part.bin")};
    ToolRun piped = RunTool(args, false);
    ToolRun terminal = RunTool(args, true);
    ASSERT_EQ(piped.status, 0) << piped.err;
    ASSERT_EQ(terminal.status, 0) << terminal.err;
    EXPECT_EQ(piped.out, terminal.out);
    EXPECT_THAT(piped.err, IsEmpty());
    EXPECT_THAT(terminal.err, HasSubstr("\r"));
    EXPECT_THAT(terminal.err, HasSubstr("65536/65536 bytes"));
}

}  // namespace
}  // namespace orbvex

// SPDX-License-Identifier: GPL-2.0-or-later
// The tool end to end on the in-process virtual receiver: what reaches stdout and
// stderr, exit statuses, several commands in one call, the saved virtual flash,
// verify, ranges and the progress bar.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>

#include "cli_test_support.h"
#include "port/cable_wiring.h"
#include "sim/virtual_receiver.h"
#include "support/ftdi_standin.h"
#include "support/gpiod_standin.h"
#include "support/ppdev_standin.h"

namespace orbvex::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const std::vector<std::uint8_t> kErased(0x100000, 0xFF);

class CliRun : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return dir_.Path(name); }

    // The tool on a virtual receiver whose flash is kept in the folder's flash.img.
    ToolRun OnFlash(std::vector<std::string> args, std::function<bool()> abortPoll = {}) {
        args.insert(args.begin(), {"--virtual", "--virtual-flash", Path("flash.img")});
        return RunTool(args, false, abortPoll);
    }

    // image.rom, 5000 bytes with 5A at 0x10, written to flash.img.
    std::vector<std::uint8_t> WriteFlash() {
        auto image = RandomImage(5000, 2);
        image[0x10] = 0x5A;
        WriteBytes(Path("image.rom"), image);
        ToolRun run = OnFlash({"start", "erase", "write", Path("image.rom")});
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        return image;
    }

    TempDir dir_;
};

TEST_F(CliRun, BadArgumentsGoToStderrWithStatusTwoAndHelpToStdout) {
    ToolRun run = RunTool({"--virtual", "--flash", "3M", "start"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_THAT(run.err, HasSubstr("--flash must be 1M or 2M"));
    run = RunTool({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_THAT(run.out, HasSubstr("--virtual-flash"));
    EXPECT_THAT(run.out, HasSubstr("verify FILE"));
}

TEST_F(CliRun, CommandsStopAtTheFirstFailure) {
    ToolRun run = RunTool({"--virtual", "start", "write", Path("missing.rom"), "read", Path("back.bin")});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, HasSubstr("Init OK :)"));
    EXPECT_THAT(run.out, Not(HasSubstr("Read ADR[")));
    EXPECT_FALSE(std::filesystem::exists(Path("back.bin")));
    EXPECT_THAT(run.err, HasSubstr("\"write\" failed; the commands after it were not run"));
}

// Ctrl-C stops the running command at its next safe point, says where, leaves every
// file as it was and ends with 130.
TEST_F(CliRun, AnInterruptStopsAtTheNextSafePointAndLeavesFilesAlone) {
    WriteBytes(Path("image.rom"), RandomImage(9000, 5));
    WriteBytes(Path("back.bin"), {'o', 'l', 'd'});
    int startPolls = 0;  // how often a whole START asks, counted once
    ASSERT_EQ(OnFlash({"start"}, [&] { return ++startPolls, false; }).status, 0);
    // After START the runner asks once before the next command; then the command asks.
    const struct {
        std::vector<std::string> args;
        int pollsPastStart;
        const char* err;
        const char* out;
    } cases[] = {
        {{"start", "write", Path("image.rom")}, 0, "stopped before \"write\" (interrupted)", "Init OK :)"},
        {{"start", "write", Path("image.rom")}, 1, "\"write\" interrupted", "Write stopped at address 7FF00000: interrupted, nothing written"},
        // every page: a blank one is otherwise not transferred, and the read is over at once
        {{"--passes", "1", "start", "read", Path("back.bin")}, 40, "\"read\" interrupted", ": interrupted, no file written"},
        {{"start", "write", Path("image.rom")}, -10, "\"start\" interrupted", "START interrupted"},
    };
    for (const auto& c : cases) {
        int polls = 0;
        ToolRun run = OnFlash(c.args, [&] { return ++polls > startPolls + c.pollsPastStart; });
        EXPECT_EQ(run.status, 130) << c.err;
        EXPECT_THAT(run.err, HasSubstr(c.err));
        EXPECT_THAT(run.out, HasSubstr(c.out));
        EXPECT_EQ(ReadBytes(Path("flash.img")), kErased);  // no chunk programmed
        EXPECT_EQ(ReadBytes(Path("back.bin")), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
        EXPECT_EQ(dir_.Entries(), 3u);
    }
}

// 2M puts the flash at 7FE00000: the write lands at the chip's start, the rest of the
// 2 MB erased (as the saved virtual flash shows it), and a read there gives it back.
TEST_F(CliRun, WriteThenReadGivesTheImageBackOnTwoMegabytes) {
    const auto image = RandomImage(5000, 1);
    WriteBytes(Path("image.rom"), image);
    ToolRun run = OnFlash({"--flash", "2M", "start", "erase", "write", Path("image.rom")});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_THAT(run.out, HasSubstr("Write Flash ADR[7FE00000] LEN[00001388]"));
    auto expected = image;
    expected.resize(0x200000, 0xFF);
    EXPECT_EQ(ReadBytes(Path("flash.img")), expected);
    run = OnFlash({"--flash", "2M", "--length", "5000", "start", "read", Path("back.bin")});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_THAT(run.out, HasSubstr("Read ADR[7FE00000]:LEN[00001388]"));
    EXPECT_EQ(ReadBytes(Path("back.bin")), image);
}

// One file size of each remainder mod 4 through write (checked chunk by chunk by the
// trap's checksums), verify and a read of exactly its length: the checksum loop's tail
// differs for each.
class CliSizes : public CliRun, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(CliSizes, WriteVerifyAndReadGiveTheFileBackExactly) {
    const std::size_t size = GetParam();
    const auto image = RandomImage(size, static_cast<unsigned>(size));
    WriteBytes(Path("image.rom"), image);
    ToolRun run = OnFlash({"start", "erase", "write", Path("image.rom"), "verify", Path("image.rom")});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    run = OnFlash({"--length", std::to_string(size), "start", "read", Path("back.bin")});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(ReadBytes(Path("back.bin")), image);
}

INSTANTIATE_TEST_SUITE_P(EveryRemainder, CliSizes, ::testing::Values(5004, 5001, 5002, 5003, 3));

TEST_F(CliRun, TheVirtualFlashFileCarriesTheFlashToTheNextCallsVerify) {
    auto image = WriteFlash();
    ASSERT_EQ(std::filesystem::file_size(Path("flash.img")), 0x100000u);
    ToolRun run = OnFlash({"start", "verify", Path("image.rom")});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_THAT(run.out, HasSubstr("Verify ADR[7FF00000]:LEN[00001388]\nVerify OK\n"));

    // A difference fails verify with the first address, both bytes and the count,
    // and the read after it does not run.
    image[0x10] = 0xA5;
    image[4999] ^= 0x01;
    image[4998] ^= 0x80;
    WriteBytes(Path("other.rom"), image);
    run = OnFlash({"start", "verify", Path("other.rom"), "read", Path("never.bin")});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, HasSubstr("Verify FAIL ADR[7FF00010] flash=5A file=A5, 3 bytes differ"));
    EXPECT_FALSE(std::filesystem::exists(Path("never.bin")));

    // A fresh flash file starts erased.
    run = RunTool({"--virtual", "--virtual-flash", Path("new.img"), "start", "verify", Path("image.rom")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(ReadBytes(Path("new.img")), kErased);

    // update erases and writes only a sector that differs; the second finds none.
    WriteBytes(Path("boot.rom"), std::vector<std::uint8_t>(0x4000, 0x33));
    run = OnFlash({"start", "update", Path("boot.rom"), "update", Path("boot.rom"), "verify", Path("boot.rom")});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_THAT(run.err, HasSubstr("0 of 1 sectors already hold the file's bytes\n"));
    EXPECT_THAT(run.err, HasSubstr("1 of 1 sectors already hold the file's bytes\n"));
}

// A part whose commands the trap does not know: the write names the reason on stderr,
// and the flash keeps every byte.
TEST_F(CliRun, AnSstPartIsRefusedAsUnidentifiedAndKeepsItsFlash) {
    const auto flash = RandomImage(0x200000, 4);
    WriteBytes(Path("sst.img"), flash);
    WriteBytes(Path("image.rom"), RandomImage(5003, 5));
    ToolRun run = RunTool({"--virtual", "--flash-chip", "SST39VF160", "--flash", "2M", "--virtual-flash",
                           Path("sst.img"), "start", "write", Path("image.rom")});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("chip not identified"));
    EXPECT_EQ(ReadBytes(Path("sst.img")), flash);
}

// A top-boot part whose CFI lists its regions bottom-first: info shows the blocks where
// they are, and a write into the top boot blocks erases exactly those it covers.
TEST_F(CliRun, TheTopBootBlocksOfAPartListedBottomFirst) {
    if (!sim::FindFlashModel("M29W160ET")) GTEST_SKIP() << "the virtual receiver has no such part yet";
    const auto flash = RandomImage(0x200000, 7);
    WriteBytes(Path("top.img"), flash);
    const auto rom = RandomImage(0x4000, 8);  // the two 8 KB blocks below the 16 KB one at the top
    WriteBytes(Path("boot.rom"), rom);
    ToolRun run = RunTool({"--virtual", "--flash-chip", "M29W160ET", "--flash", "2M", "--virtual-flash", Path("top.img"),
                           "--offset", "0x1F8000", "start", "info", "write", Path("boot.rom")});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_THAT(run.out, HasSubstr("Sectors : 31 x 64 KB from 00000000, 1 x 32 KB from 001F0000, 2 x 8 KB from "
                                   "001F8000, 1 x 16 KB from 001FC000"));
    auto expected = flash;
    std::copy(rom.begin(), rom.end(), expected.begin() + 0x1F8000);
    EXPECT_EQ(ReadBytes(Path("top.img")), expected);
}

TEST_F(CliRun, AVirtualFlashFileLargerThanTheFlashIsRefusedAndKept) {
    WriteBytes(Path("flash.img"), std::vector<std::uint8_t>(0x200000, 0x00));
    ToolRun run = OnFlash({"start"});
    EXPECT_EQ(run.status, 2);
    EXPECT_THAT(run.err, HasSubstr("holds 2097152 bytes, more than the 1M flash"));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(std::filesystem::file_size(Path("flash.img")), 0x200000u);
}

TEST_F(CliRun, FileProblemsFailTheCommandAndSayWhy) {
    WriteBytes(Path("big.rom"), std::vector<std::uint8_t>(0x100004, 0xFF));
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"verify", Path("none.rom")}, "Cannot open file"},
        {{"verify", Path("big.rom")}, "holds 1048580 bytes, more than the 1048576 from 7FF00000 to the end"},
        {{"--length", "16", "start", "read", Path("no/such/folder.bin")}, "Cannot create file"},
        {{"start", "write", Path("big.rom")}, "ROM file too large: LEN[00100004]"},
        {{"--trap", Path("none.bin"), "start"}, "none.bin  fail"},  // the line before "Trap :("
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--virtual"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ToolRun run = RunTool(args);
        EXPECT_EQ(run.status, 1) << c.says;
        EXPECT_THAT(run.out, HasSubstr(c.says));
        EXPECT_THAT(run.err, HasSubstr(c.says));  // for a script that keeps only stderr
    }
}

#if !defined(_WIN32)  // pipes, devices and modes are POSIX's
// What a careless or hostile command line can throw at the tool: each gets a clear
// message and status 1 or 2 (2 for an option, a flash file among them, it cannot run
// with), and no file is created, replaced or blocked on.
TEST_F(CliRun, AbusedArgumentsAndFilesAreRefusedPlainly) {
    const std::string trap = ORBVEX_VIRTUAL_TRAP_IMAGE;
    WriteBytes(Path("empty.rom"), {});
    WriteBytes(Path("short.img"), {1, 2, 3});
    WriteBytes(Path("readonly.bin"), {'o', 'l', 'd'});
    std::filesystem::permissions(Path("readonly.bin"), std::filesystem::perms::owner_read);
    std::filesystem::create_directory(Path("folder"));
    ASSERT_EQ(::mkfifo(Path("pipe").c_str(), 0600), 0);
    std::filesystem::create_symlink("self", Path("self"));
    for (int i = 0; i < 41; ++i) std::filesystem::create_symlink("l" + std::to_string(i + 1), Path("l" + std::to_string(i)));
    WriteBytes(Path("folder/huge.rom"), {});
    std::filesystem::resize_file(Path("folder/huge.rom"), 3ull << 30);  // sparse: takes no room
    const struct {
        std::vector<std::string> args;
        int status;
        const char* says;
    } cases[] = {
        {{"--virtual", "start", "verify", Path("folder")}, 1, "not a regular file"},
        {{"--virtual", "start", "verify", Path("pipe")}, 1, "not a regular file"},
        {{"--virtual", "start", "write", Path("pipe")}, 1, "Cannot open the ROM file"},
        {{"--virtual", "--trap", Path("pipe"), "start"}, 1, "  fail"},
        {{"--virtual", "--virtual-flash", Path("folder"), "start"}, 2, "not a regular file"},
        {{"--virtual", "--virtual-flash", "/dev/null", "start"}, 2, "not a regular file"},
        {{"--virtual", "--virtual-flash", Path("short.img"), "start"}, 2, "holds 3 bytes, not the 1048576"},
        {{"--virtual", "start", "read", "/dev/null"}, 1, "Cannot create file /dev/null: not a regular file"},
        {{"--virtual", "start", "read", Path("readonly.bin")}, 1, "the file is read-only"},
        {{"--virtual", "start", "read", "/dev/full"}, 1, "Cannot create file /dev/full: not a regular file"},
        {{"--virtual", "start", "read", "/sys/orbvex.bin"}, 1, "Cannot create file /sys/orbvex.bin: Permission denied"},
        {{"--virtual", "start", "read", Path("self")}, 1, "Too many levels of symbolic links"},
        {{"--virtual", "start", "read", Path("l0")}, 1, "Too many levels"},  // a longer chain than the system follows
        {{"--virtual", "start", "read", Path(std::string(300, 'n'))}, 1, "File name too long"},
        {{"--virtual", "--virtual-flash", "/sys/orbvex.img", "start"}, 2, "cannot save the virtual flash"},
        {{"--virtual", "start", "verify", Path("folder/huge.rom")}, 1, "holds 3221225472 bytes, more than the 1048576"},
        {{"--virtual", "start", "write", Path("empty.rom")}, 1, "is empty: nothing to write"},
        {{"--virtual", "start", "verify", Path("empty.rom")}, 1, "is empty: nothing to verify"},
        {{"--virtual", "start", "read", ""}, 2, "empty name"},
        {{"--virtual", "start", "write", ""}, 2, "empty name"},
        {{"--virtual", "start", "verify", ""}, 2, "empty name"},
        {{"--virtual", "--trap", "", "start"}, 2, "--trap needs a file name"},
        {{"--virtual", "--passes", "0", "read", Path("x.bin")}, 2, "--passes must be"},
        {{"--virtual", "--passes", "10", "read", Path("x.bin")}, 2, "--passes must be"},
        {{"--virtual", "--length", "-1", "read", Path("x.bin")}, 2, "--length must be"},
        {{"--virtual", "--offset", "0x1FFFFFFFF", "read", Path("x.bin")}, 2, "--offset is not a number"},
        {{"--virtual", "--offset", "1M", "read", Path("x.bin")}, 2, "past the end"},
    };
    for (const auto& c : cases) {
        ToolRun run = RunTool(c.args);
        EXPECT_EQ(run.status, c.status) << c.says << "\n"
                                        << run.out << run.err;
        EXPECT_THAT(run.out + run.err, HasSubstr(c.says));
        EXPECT_THAT(run.out, Not(HasSubstr("Read ADR[")));                         // refused before the first block
        EXPECT_TRUE(c.args[1] != "--virtual-flash" || run.out.empty()) << c.says;  // before the link is touched
    }
    // A refused read says why on stderr too, where the failure is reported.
    EXPECT_THAT(RunTool({"--virtual", "read", "/dev/full"}).err, HasSubstr("/dev/full: not a regular file"));
    EXPECT_EQ(ReadBytes(Path("readonly.bin")), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(ReadBytes(Path("short.img")), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_TRUE(std::filesystem::is_symlink(Path("self")) && std::filesystem::is_symlink(Path("l0")));
    EXPECT_EQ(dir_.Entries(), 5u + 1 + 41);  // empty.rom, short.img, readonly.bin, folder, pipe and the links
}
#endif

// Every write is read back: a flash that did not take the image fails the write, even
// when the trap program said done (here one that only says so and touches no flash).
TEST_F(CliRun, WritesAreReadBackUnlessTold) {
    WriteBytes(Path("image.rom"), std::vector<std::uint8_t>(5000, 0x5A));
    const std::string saysDone = std::string(ORBVEX_BIN_DIR) + "/fault-done-late.bin";
    ToolRun run = OnFlash({"--trap", saysDone, "start", "write", Path("image.rom")});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, HasSubstr("Write Flash END"));
    EXPECT_THAT(run.out, HasSubstr("Verify FAIL ADR[7FF00000]"));
    run = OnFlash({"--no-verify", "--trap", saysDone, "start", "write", Path("image.rom")});
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.out, Not(HasSubstr("Verify")));
    // Its erase cannot be checked, and it cannot tell update which sectors differ.
    run = OnFlash({"--trap", saysDone, "start", "erase", "update", Path("image.rom")});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("erase: the trap program cannot check that the flash reads blank"));
    EXPECT_THAT(run.err, HasSubstr("Update refused: the trap program cannot checksum the flash"));
}

TEST_F(CliRun, OffsetAndLengthReadAndVerifyPartOfTheFlash) {
    const auto image = WriteFlash();
    WriteBytes(Path("part.bin"), std::vector<std::uint8_t>(2000, 0x11));  // replaced whole
    ToolRun run = OnFlash({"--offset", "0x100", "--length", "1000", "start", "read", Path("part.bin")});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_THAT(run.out, HasSubstr("Read ADR[7FF00100]:LEN[000003E8]"));
    EXPECT_EQ(ReadBytes(Path("part.bin")), std::vector<std::uint8_t>(image.begin() + 0x100, image.begin() + 0x100 + 1000));
    EXPECT_EQ(dir_.Entries(), 3u);  // image.rom, flash.img, part.bin: nothing left beside

    // The last bytes of the flash, right below 0x80000000.
    run = OnFlash({"--offset", "0xFFFF0", "start", "read", Path("top.bin")});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(ReadBytes(Path("top.bin")), std::vector<std::uint8_t>(16, 0xFF));

    WriteBytes(Path("tail.rom"), std::vector<std::uint8_t>(image.begin() + 4096, image.end()));
    run = OnFlash({"--offset", "4096", "start", "verify", Path("tail.rom")});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_THAT(run.out, HasSubstr("Verify ADR[7FF01000]:LEN[00000388]\nVerify OK"));
    run = OnFlash({"--offset", "4096", "--length", "100", "start", "verify", Path("image.rom")});
    EXPECT_EQ(run.status, 1);  // the file's first bytes are not the flash's at 4096
}

TEST_F(CliRun, TheProgressBarGoesToATerminalOnlyAndNeverChangesTheLog) {
    const std::vector<std::string> args = {"--virtual", "--length", "64K", "start", "read", Path("part.bin")};
    ToolRun piped = RunTool(args, false);
    ToolRun terminal = RunTool(args, true);
    ASSERT_EQ(piped.status, 0) << piped.err;
    ASSERT_EQ(terminal.status, 0) << terminal.err;
    EXPECT_EQ(piped.out, terminal.out);
    EXPECT_EQ(piped.err, "");
    EXPECT_THAT(terminal.err, HasSubstr("\r"));
    EXPECT_THAT(terminal.err, HasSubstr("65536/65536 bytes"));  // one pass, checked by the trap's checksums
}

// The cables the kernel drives and the FTDI cables in both their modes, their system or
// library calls played by stand-ins that carry the pins to a virtual receiver: a run
// reaches the flash, a cable lost midway ends it with no file, and a device, chip or line
// that cannot be had ends the run before a single pin moves.
class DeviceCables : public CliRun {
protected:
    DeviceCables() {
        receiver.SetFlash(flash);
        parport.record = false;
        parport.target = &receiver;
        gpio.record = false;
        gpio.AddChip("gpiochip0", 28);
        gpio.TakeLine("gpiochip0", 2, "i2c");
        gpio.WireTo(receiver, {{11, cable::kTck}, {25, cable::kTms}, {10, cable::kTdi}, {24, cable::kResetLine}});
        usb.devices = {{{0x0403, 0x6014, "C232HM", "H1"}, FtdiChip::Ft232H},
                       {{0x0403, 0x6001, "TTL-232R", "R1"}, FtdiChip::Ft232R},
                       {{0x0403, 0x6010, "Dual RS232", "D1"}, FtdiChip::Ft2232C},
                       {{0x1d50, 0x6060, "JTAG", "J1", 1}, FtdiChip::Ft2232H}};
        usb.WireTo(receiver);
    }

    ToolRun Run(const std::vector<std::string>& args) { return RunTool(args, false, {}, devices); }
    long Traffic() const { return static_cast<long>(parport.ioctls + gpio.sets + gpio.gets + usb.writes); }

    sim::VirtualReceiver receiver;
    const std::vector<std::uint8_t> flash = RandomImage(0x100000, 9);
    PpdevStandIn parport;
    GpiodStandIn gpio;
    FtdiStandIn usb;
    const cli::DeviceApis devices{&parport, &gpio, &usb};
};

class DeviceCableReads : public DeviceCables, public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(DeviceCableReads, ReachTheFlash) {
    std::vector<std::string> args = GetParam();
    args.insert(args.end(), {"--trap", ORBVEX_VIRTUAL_TRAP_IMAGE, "--length", "4K", "start", "read", Path("part.bin")});
    ToolRun run = Run(args);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(ReadBytes(Path("part.bin")), std::vector<std::uint8_t>(flash.begin(), flash.begin() + 4096));
}

INSTANTIATE_TEST_SUITE_P(KernelCables, DeviceCableReads,
                         ::testing::Values(std::vector<std::string>{"--port", "/dev/parport0"},
                                           std::vector<std::string>{"--gpio", "gpiochip0:tck=11,tms=25,tdi=10,tdo=9,rst=24"}),
                         [](const auto& info) { return info.param[0].substr(2); });

// START, erase, an odd-sized write and START again, on the link's own pins (ppdev passes
// each access on) and over FTDI in both modes (an FT2232D's B has no MPSSE engine): the
// same pin states each time.
TEST_F(DeviceCables, SessionsMoveThePinsAlikeOnEveryCable) {
    const auto image = RandomImage(5001, 3);
    WriteBytes(Path("image.rom"), image);
    std::vector<std::uint64_t> pinStates;
    std::string said;
    for (std::vector<std::string> args :
         {std::vector<std::string>{"--port", "/dev/parport0"}, {"--ftdi", "0403:6014,freq=6M"}, {"--ftdi", "serial=R1"}, {"--ftdi", "0403:6010,interface=B,freq=3M"}}) {
        sim::VirtualReceiver fresh;
        PinRecorder pins(fresh);
        parport.target = &pins;
        usb.WireTo(pins);
        args.insert(args.end(), {"--trap", ORBVEX_VIRTUAL_TRAP_IMAGE, "start", "erase", "write", Path("image.rom"), "start"});
        ToolRun run = Run(args);
        ASSERT_EQ(run.status, 0) << args[1] << run.out << run.err;
        EXPECT_TRUE(std::equal(image.begin(), image.end(), fresh.Flash().begin())) << args[1];
        pinStates.push_back(pins.fingerprint ^ pins.changes);
        said += run.err;
    }
    EXPECT_THAT(pinStates, ::testing::Each(pinStates[0]));
    EXPECT_THAT(said, HasSubstr("using FTDI cable FT232H 0403:6014 \"C232HM\" serial H1 interface A (MPSSE, TCK 6000000 Hz)"));
    EXPECT_THAT(said, HasSubstr("0403:6001 \"TTL-232R\" serial R1 interface A (synchronous bit-bang, TCK 375000 Hz)"));
    EXPECT_THAT(said, HasSubstr("FT2232C/D 0403:6010 \"Dual RS232\" serial D1 interface B (synchronous bit-bang, TCK 375000"));
}

// Unplugged in the middle of a read: the run ends with status 1 and no file, and every
// device is let go.
TEST_F(DeviceCables, UnpluggedMidReadEndsTheRunWithNoFile) {
    usb.unplugAfterWrites = 100;
    ToolRun run = Run({"--ftdi", "serial=R1", "read", Path("gone.bin")});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("(USB device unavailable); check that it is still plugged in; the operation cannot finish"));
    EXPECT_FALSE(std::filesystem::exists(Path("gone.bin")));
    EXPECT_EQ(parport.OpenCount(), 0);
    EXPECT_EQ(gpio.LiveRequests(), 0);
    EXPECT_EQ(usb.openHandles, 0);
}

// Unplugged with the last writes of a START, after its last answer: the run fails too.
TEST_F(DeviceCables, UnpluggedAfterStartsLastAnswerFailsTheRun) {
    const auto startUnplugged = [&](long afterWrites) {
        FtdiStandIn chip;
        chip.devices = {usb.devices[0]};
        chip.WireTo(receiver);
        chip.unplugAfterWrites = afterWrites;
        const int status = RunTool({"--ftdi", "serial=H1", "--trap", ORBVEX_VIRTUAL_TRAP_IMAGE, "start"}, false, {},
                                   {&parport, &gpio, &chip})
                               .status;
        return afterWrites < 0 ? static_cast<long>(chip.writes) : status;
    };
    const long startWrites = startUnplugged(-1);
    for (long cut = 1; cut <= 3; ++cut) EXPECT_EQ(startUnplugged(startWrites - cut), 1) << cut;
}

struct Refusal {
    const char* name;
    std::vector<std::string> args;
    const char* says;
    std::function<void(FtdiStandIn&)> arrange = nullptr;
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

class DeviceCableRefusals : public DeviceCables, public ::testing::WithParamInterface<Refusal> {};

TEST_P(DeviceCableRefusals, EndTheRunBeforeAnyTraffic) {
    const Refusal& r = GetParam();
    if (r.arrange) r.arrange(usb);
    ToolRun run = Run(r.args);
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr(r.says));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Traffic(), 0);
    EXPECT_EQ(usb.openHandles, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DeviceCableRefusals,
    ::testing::Values(
        Refusal{"NoParport", {"--port", "/dev/parport1", "start"}, "cannot open /dev/parport1: "},
        Refusal{"NoGpioChip", {"--gpio", "gpiochip1:tck=11,tms=25,tdi=10,tdo=9", "start"}, "cannot open GPIO chip \"gpiochip1\": "},
        Refusal{"GpioLineTaken", {"--gpio", "gpiochip0:tck=11,tms=25,tdi=2,tdo=9", "start"}, "already in use by \"i2c\""},
        Refusal{"NoFtdiOfThatId", {"--ftdi", "0403:6011", "start"}, "no FTDI cable 0403:6011 found; found: 0403:6014 \"C232HM\" serial H1, 0403:6001"},
        Refusal{"NoFtdiOfThatSerial", {"--ftdi", "serial=Z9", "start"}, "no FTDI cable with serial Z9 found"},
        Refusal{"SeveralFtdi",
                {"--ftdi", "auto", "start"},
                "3 FTDI cables found (0403:6014 \"C232HM\" serial H1, 0403:6001 \"TTL-232R\" serial R1, "
                "0403:6010 \"Dual RS232\" serial D1); name one"},
        Refusal{"FtdiNoAccess",
                {"--ftdi", "serial=H1", "start"},
                "serial H1: permission denied (stand-in says no); install the udev rule "
                "packaging/udev/60-orbvex-ftdi.rules in /etc/udev/rules.d, join the plugdev group",
                [](FtdiStandIn& usb) { usb.openError = FtdiOpenError::NoAccess; }},
        Refusal{"FtdiBusy",
                {"--ftdi", "serial=H1", "start"},
                "cannot claim interface A of FTDI cable 0403:6014 \"C232HM\" serial H1 (stand-in "
                "says no): the kernel's serial driver (ftdi_sio) could not be detached",
                [](FtdiStandIn& usb) { usb.openError = FtdiOpenError::Busy; }},
        Refusal{"SingleFtdiHasNoB", {"--ftdi", "serial=R1,interface=B", "start"}, "0403:6001 \"TTL-232R\" serial R1 has no interface B (it has only A)"},
        Refusal{"OtherSingleFtdiHasNoB", {"--ftdi", "1d50:6060,interface=B", "start"}, "1d50:6060 \"JTAG\" serial J1 has no interface B (it has only A)"},
        Refusal{"FtdiTooFast", {"--ftdi", "serial=D1,freq=12M", "start"}, "freq=12000000 is above the 6000000 Hz TCK that FT2232C/D 0403:6010"},
        Refusal{"FtdiWithoutAMode", {"--ftdi", "serial=H1", "start"}, "neither MPSSE nor synchronous bit-bang", [](FtdiStandIn& usb) { usb.devices[0].chip = FtdiChip::Other; }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orbvex::test

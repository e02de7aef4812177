// SPDX-License-Identifier: GPL-2.0-or-later
// The command-line tool on the simulated board's serial line, as a user runs it against
// a Nano on /dev/ttyUSB0: a whole session, a host at a rate the board's bridge does not
// carry, and the board reset in the middle of a read.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "cli/cli_test_support.h"
#include "probe/sim/board_line.h"
#include "sim/virtual_receiver.h"

namespace orbvex::test {
namespace {

constexpr std::uint32_t kRomSize = 8192;

// The board on its line, served from a thread, the virtual receiver on its pins.
class SimulatedNano {
public:
    explicit SimulatedNano(std::uint64_t resetAfterBytes = 0) : board_(receiver), line_(board_) {
        const Status loaded = board_.Load(ORBVEX_PROBE_ELF);
        EXPECT_TRUE(loaded) << loaded.Error();
        const Status opened = line_.Open();
        EXPECT_TRUE(opened) << opened.Error();
        serving_ = std::thread([this, resetAfterBytes] { line_.Serve(stop_, resetAfterBytes); });
    }
    ~SimulatedNano() {
        stop_ = true;
        serving_.join();
    }
    void OnlyRates(std::vector<std::uint32_t> rates) { board_.SetBridgeRates(std::move(rates)); }
    const std::string& Device() const { return line_.Path(); }
    std::uint64_t Overruns() const { return board_.Overruns(); }
    int StackHeadroom() const { return board_.StackHeadroom(); }

    sim::VirtualReceiver receiver;

private:
    probe::AvrBoard board_;
    probe::BoardLine line_;
    std::atomic<bool> stop_{false};
    std::thread serving_;
};

std::vector<std::string> Args(std::vector<std::string> args) {
    args.insert(args.begin(), {"--trap", ORBVEX_VIRTUAL_TRAP_IMAGE});
    return args;
}

TEST(ProbeLine, AWholeSessionThroughTheBoardGivesBackTheExactBytes) {
    TempDir dir;
    const auto rom = RandomImage(kRomSize, 5);
    WriteBytes(dir.Path("rom.bin"), rom);
    SimulatedNano nano;
    const ToolRun write = RunTool(Args({"--probe", nano.Device(), "start", "erase", "write", dir.Path("rom.bin"), "verify", dir.Path("rom.bin")}));
    EXPECT_EQ(write.status, 0) << write.out << write.err;
    const ToolRun read = RunTool(Args({"--probe", nano.Device(), "--length", std::to_string(kRomSize), "start", "read", dir.Path("back.bin")}));
    EXPECT_EQ(read.status, 0) << read.out << read.err;
    EXPECT_EQ(ReadBytes(dir.Path("back.bin")), rom);
    EXPECT_TRUE(std::equal(rom.begin(), rom.end(), nano.receiver.Flash().begin()));
    EXPECT_EQ(nano.Overruns(), 0u);
    // Within the chip's 2 KB, with room to spare between the stack and the buffers.
    EXPECT_GE(nano.StackHeadroom(), 128);
}

TEST(ProbeLine, AHostAtARateTheBridgeCannotCarryHearsNothingAndTheBoardFollowsAnother) {
    TempDir dir;
    SimulatedNano nano;
    nano.OnlyRates({115200});  // an old bridge
    const ToolRun silent = RunTool(Args({"--probe", nano.Device(), "--remote-timeout", "1", "start"}));
    EXPECT_EQ(silent.status, 1);
    EXPECT_NE(silent.err.find(nano.Device()), std::string::npos) << silent.err;
    EXPECT_NE(silent.err.find("no answer from the probe at 1000000 baud"), std::string::npos) << silent.err;
    EXPECT_FALSE(nano.receiver.CpuHalted());

    const ToolRun slower = RunTool(Args({"--probe", nano.Device() + ",baud=115200", "start"}));
    EXPECT_EQ(slower.status, 0) << slower.out << slower.err;
    EXPECT_NE(slower.out.find("Init OK :)"), std::string::npos);
}

TEST(ProbeLine, TheBoardResetMidReadFailsTheCommandAndSavesNothing) {
    TempDir dir;
    // START's answers come to a few thousand bytes; the read's many more.
    SimulatedNano nano(40000);
    // Every page: a blank one is otherwise not transferred.
    const ToolRun run = RunTool(Args({"--probe", nano.Device(), "--remote-timeout", "2", "--length", "65536", "--passes",
                                      "1", "start", "read", dir.Path("back.bin")}));
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.out.find("Init OK :)"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("connection to the probe " + nano.Device() + " lost"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir.Path("back.bin")));
}

}  // namespace
}  // namespace orbvex::test

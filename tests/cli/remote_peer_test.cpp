// The tool over remote bit-bang against real peers: a virtual receiver served from a
// thread of this process (including one that goes away in the middle), and the
// orbvex_receiver program driven by OpenOCD and by orbvex_cli.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "cli_test_support.h"
#include "link/link_log.h"
#include "remote/remote_bitbang_server.h"
#include "remote/remote_bitbang_socket.h"
#include "sim/virtual_receiver.h"
#if !defined(_WIN32)
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#endif

namespace orbvex::test {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::Not;

// A virtual receiver served on a loopback port from a thread of this process. With a
// limit it hangs up after that many status reads, as a peer that dies would.
class ServedReceiver : public PortBackend {
public:
    explicit ServedReceiver(std::uint64_t dropAfterReads = 0) : dropAfter_(dropAfterReads) {
        net::Endpoint where;
        where.host = "127.0.0.1";
        std::string error;
        EXPECT_TRUE(listener_.Open(where, error)) << error;
        thread_ = std::thread([this] {
            ServerLimits limits;
            limits.pollMs = 20;
            ServeRemoteBitbang(listener_, *this, &stop_, [](ServerEvent e) { return !ClientGone(e); }, limits);
        });
    }
    ~ServedReceiver() override {
        stop_ = true;
        thread_.join();
    }
    std::string Address() const { return listener_.Bound().Describe(); }

    std::uint8_t Read(std::uint16_t port) override {
        if (dropAfter_ && ++reads_ >= dropAfter_) stop_ = true;
        return receiver_.Read(port);
    }
    void Write(std::uint16_t port, std::uint8_t value) override { receiver_.Write(port, value); }

private:
    sim::VirtualReceiver receiver_;
    net::Listener listener_;
    std::uint64_t dropAfter_, reads_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

std::string HealthyStartLog() {
    const auto trapSize = static_cast<std::uint32_t>(std::filesystem::file_size(ORBVEX_VIRTUAL_TRAP_IMAGE));
    return "Init JTAG\nIDCODE : 10006A5B\nCPU : STi5512\nStop CPU\nClear Trap : Please Wait...\n"
           "Load Trap -> Ram : Please Wait...\nLoad Trap : LEN Ok\nInit Trap : Please Wait...\n"
           "Trap_Wptr " + Hex8(0x80000140u + (trapSize & ~3u) + 8) + "\nTrap_Iptr 80000140\n"
           "Start Trap  : Please Wait...\nLoad EMI : Please Wait...\nInit OK :)\n---------------------\n";
}

TEST(CliRemote, StartPrintsExactlyTheStartLogOnTheVirtualReceiverAndOverRemoteBitbang) {
    ServedReceiver served;
    for (const ToolRun& run : {RunTool({"--virtual", "start"}),
                               RunTool({"--remote", served.Address(), "--trap", ORBVEX_VIRTUAL_TRAP_IMAGE, "start"})}) {
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, HealthyStartLog());
        EXPECT_EQ(run.err, "");
    }
}

TEST(CliRemote, ADroppedConnectionFailsTheRunWithAClearLineAndNoHang) {
    ServedReceiver served(2000);
    auto started = std::chrono::steady_clock::now();
    ToolRun run = RunTool({"--remote", served.Address(), "--trap", ORBVEX_VIRTUAL_TRAP_IMAGE, "start", "erase"});
    EXPECT_LT(std::chrono::steady_clock::now() - started, 30s);
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("connection to the remote receiver " + served.Address() + " lost"));
    EXPECT_THAT(run.err, HasSubstr("\"start\" failed; the commands after it were not run"));
    EXPECT_THAT(run.out, HasSubstr("Init JTAG"));
    EXPECT_THAT(run.out, Not(HasSubstr("Init OK :)")));
}

TEST(CliRemote, NoServerIsAClearFailureNotAnArgumentError) {
    TempDir dir;
    const std::string address = "unix:" + dir.Path("nobody.sock");
    ToolRun run = RunTool({"--remote", address, "start"});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("cannot connect to " + address));
    EXPECT_EQ(run.out, "");
}

#if !defined(_WIN32)

std::string Bin(const std::string& name) { return std::string(ORBVEX_BIN_DIR) + "/" + name; }

// A program run through the shell under timeout(1), stdout and stderr on one pipe.
// Every receiver here is started with --once, so each program ends by itself.
class Program {
public:
    explicit Program(const std::vector<std::string>& argv) {
        std::string command = "exec timeout -k 5 300";
        for (const std::string& a : argv) command += " '" + a + "'";  // no argument here holds a quote
        pipe_ = popen((command + " 2>&1").c_str(), "r");
    }
    ~Program() {
        if (pipe_) Wait();
    }

    // The next line of output; empty once the program has ended.
    std::string Line() {
        std::string line;
        char buffer[512];
        while (pipe_ && line.find('\n') == std::string::npos && std::fgets(buffer, sizeof buffer, pipe_)) line += buffer;
        output_ += line;
        return line;
    }
    // The rest of the output, then the exit status.
    int Wait() {
        while (!Line().empty()) {
        }
        const int status = pclose(pipe_);
        pipe_ = nullptr;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const std::string& Output() const { return output_; }

    // For orbvex_receiver: the address from its first line, "listening on ADDRESS".
    std::string ListeningAddress() {
        const std::string line = Line(), prefix = "listening on ";
        return line.rfind(prefix, 0) == 0 ? line.substr(prefix.size(), line.size() - prefix.size() - 1) : "";
    }

private:
    std::FILE* pipe_ = nullptr;
    std::string output_;
};

TEST(ServedReceiverProcess, OpenOcdScansTheChainAndReadsTheIdcodeItWasGiven) {
    if (std::system("command -v openocd >/dev/null") != 0) GTEST_SKIP() << "the real-peer test needs openocd";
    Program receiver({Bin("orbvex_receiver"), "--idcode", "0x2D4C6041", "--once"});
    const std::string address = receiver.ListeningAddress();
    ASSERT_FALSE(address.empty()) << receiver.Output();

    Program client({"openocd", "-c", "adapter driver remote_bitbang", "-c",
                    "remote_bitbang host 127.0.0.1", "-c", "remote_bitbang port " + address.substr(address.rfind(':') + 1),
                    "-c", "transport select jtag", "-c", "jtag newtap rcv cpu -irlen 5 -expected-id 0x2d4c6041", "-c",
                    "init", "-c", "irscan rcv.cpu 0x02", "-c", "echo \"IDCODE read: [drscan rcv.cpu 32 0]\"", "-c",
                    "shutdown"});
    EXPECT_EQ(client.Wait(), 0) << client.Output();
    EXPECT_THAT(client.Output(), HasSubstr("tap/device found: 0x2d4c6041"));
    EXPECT_THAT(client.Output(), HasSubstr("IDCODE read: 2d4c6041"));
    EXPECT_THAT(client.Output(), Not(HasSubstr("UNEXPECTED")));
}

TEST(ServedReceiverProcess, OrbvexCliFlashesAndVerifiesAFiveThousandByteImageThroughIt) {
    TempDir dir;
    const auto image = RandomImage(5000, 7);
    WriteBytes(dir.Path("image.rom"), image);
    const std::string flash = dir.Path("served-flash.img"), socket = dir.Path("rbb.sock");
    Program receiver({Bin("orbvex_receiver"), "--unix", socket, "--flash-image", flash, "--once", "--quiet"});
    ASSERT_FALSE(receiver.ListeningAddress().empty()) << receiver.Output();

    Program tool({Bin("orbvex_cli"), "--remote", "unix:" + socket, "--trap", ORBVEX_VIRTUAL_TRAP_IMAGE, "start", "erase",
                  "write", dir.Path("image.rom"), "verify", dir.Path("image.rom")});
    EXPECT_EQ(tool.Wait(), 0) << tool.Output();
    EXPECT_THAT(tool.Output(), HasSubstr("Init OK :)"));
    EXPECT_THAT(tool.Output(), HasSubstr("Write Flash END"));
    EXPECT_THAT(tool.Output(), HasSubstr("Verify OK"));

    // The receiver saved what was written when its client had gone.
    EXPECT_EQ(receiver.Wait(), 0) << receiver.Output();
    auto expected = image;
    expected.resize(0x100000, 0xFF);
    EXPECT_EQ(ReadBytes(flash), expected);
}

TEST(ServedReceiverProcess, TheReceiversSettingsReachTheTarget) {
    Program receiver({Bin("orbvex_receiver"), "--idcode", "0x1000A041", "--halt-ignored", "--late-ack", "--once", "--quiet"});
    const std::string address = receiver.ListeningAddress();
    ASSERT_FALSE(address.empty()) << receiver.Output();
    Program tool({Bin("orbvex_cli"), "--remote", address, "start"});
    EXPECT_EQ(tool.Wait(), 1);
    EXPECT_EQ(tool.Output(),
              "Init JTAG\n"
              "IDCODE : 1000A041\n"
              "Stop CPU\n"
              "Fail DCU Control, Plesae Restart or Reset CPU Box\n"
              "orbvex_cli: \"start\" failed\n");
}

#endif

}  // namespace
}  // namespace orbvex::test

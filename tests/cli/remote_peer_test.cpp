// The served virtual receiver against real peers: OpenOCD scanning its chain, and
// orbvex_cli --remote flashing through it; plus the tool over remote bit-bang in
// process, including a peer that goes away in the middle.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "port/remote_bitbang_server.h"
#include "port/remote_bitbang_socket.h"
#include "sim/virtual_receiver.h"
#include "support/temp_dir.h"
#include "support/tool_run.h"
#if !defined(_WIN32)
#include "support/child_process.h"
#endif

namespace orbvex {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using test::RunTool;
using test::TempDir;
using test::ToolRun;

// A virtual receiver served on a loopback port from a thread of this process. With a
// byte limit it hangs up after that many request bytes, as a peer that dies would.
class ServedReceiver {
public:
    explicit ServedReceiver(std::size_t dropAfterBytes = 0) : dropAfter_(dropAfterBytes) {
        net::Endpoint where;
        where.host = "127.0.0.1";
        std::string error;
        open_ = listener_.Open(where, error);
        if (open_) thread_ = std::thread([this] { Serve(); });
    }
    ~ServedReceiver() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    std::string Address() const { return listener_.Bound().Describe(); }
    bool Open() const { return open_; }

private:
    void Serve() {
        net::Socket client;
        while (!stop_ && !client.Valid()) client = listener_.Accept(100);
        if (!client.Valid()) return;
        sim::VirtualReceiver receiver;
        RemoteBitbangInterpreter interpreter(receiver);
        if (dropAfter_ == 0) {
            ServeRemoteBitbang(client, interpreter, &stop_);
            return;
        }
        std::size_t seen = 0;
        char buffer[4096];
        std::string replies;
        while (!stop_ && seen < dropAfter_) {
            if (!client.WaitReadable(100)) continue;
            long n = client.Receive(buffer, std::min(sizeof buffer, dropAfter_ - seen));
            if (n <= 0) return;
            seen += static_cast<std::size_t>(n);
            replies.clear();
            interpreter.Feed(buffer, static_cast<std::size_t>(n), replies);
            client.SendAll(replies.data(), replies.size());
        }
        client.Close();  // gone without a word
    }

    net::Listener listener_;
    bool open_ = false;
    std::size_t dropAfter_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(CliRemote, StartOverRemoteBitbangLogsExactlyAsOnTheVirtualReceiver) {
    ServedReceiver served;
    ASSERT_TRUE(served.Open());
    ToolRun remote = RunTool({"--remote", served.Address(), "--trap", ORBVEX_VIRTUAL_TRAP_IMAGE, "start"});
    ToolRun local = RunTool({"--virtual", "start"});
    EXPECT_EQ(remote.status, 0) << remote.err;
    EXPECT_EQ(remote.out, local.out);
    EXPECT_EQ(remote.err, "");
}

TEST(CliRemote, ADroppedConnectionFailsTheRunWithAClearLineAndNoHang) {
    ServedReceiver served(20000);
    ASSERT_TRUE(served.Open());
    auto started = std::chrono::steady_clock::now();
    ToolRun run = RunTool({"--remote", served.Address(), "--trap", ORBVEX_VIRTUAL_TRAP_IMAGE, "start", "erase"});
    EXPECT_LT(std::chrono::steady_clock::now() - started, 30s);
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("connection to the remote receiver " + served.Address() + " lost"));
    EXPECT_THAT(run.err, HasSubstr("\"start\" failed; the commands after it were not run"));
    EXPECT_THAT(run.out, HasSubstr("Init JTAG"));
    EXPECT_THAT(run.out, ::testing::Not(HasSubstr("Init OK :)")));
}

TEST(CliRemote, NoServerIsAClearFailureNotAnArgumentError) {
    std::string address;
    {
        net::Listener gone;
        net::Endpoint where;
        where.host = "127.0.0.1";
        std::string error;
        ASSERT_TRUE(gone.Open(where, error));
        address = gone.Bound().Describe();
    }
    ToolRun run = RunTool({"--remote", address, "start"});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("cannot connect to " + address));
    EXPECT_EQ(run.out, "");
}

#if !defined(_WIN32)

std::string Bin(const std::string& name) { return std::string(ORBVEX_BIN_DIR) + "/" + name; }

// Starts orbvex_receiver with extra options and reads the address it listens on.
std::string StartReceiver(test::ChildProcess& receiver) {
    if (!receiver.Started() || !receiver.WaitForOutput("\n", 10s)) return {};
    const std::string& out = receiver.Output();
    const std::string prefix = "listening on ";
    std::size_t at = out.find(prefix);
    if (at == std::string::npos) return {};
    return out.substr(at + prefix.size(), out.find('\n', at) - at - prefix.size());
}

TEST(ServedReceiverProcess, OpenOcdScansTheChainAndReadsTheIdcodeItWasGiven) {
    const std::string openocd = test::FindOnPath("openocd");
    if (openocd.empty()) GTEST_SKIP() << "openocd is not installed; the real-peer test needs it";
    test::ChildProcess receiver({Bin("orbvex_receiver"), "--idcode", "0x2D4C6041"});
    const std::string address = StartReceiver(receiver);
    ASSERT_FALSE(address.empty()) << receiver.Output();
    const std::string port = address.substr(address.rfind(':') + 1);

    test::ChildProcess client({openocd, "-c", "adapter driver remote_bitbang", "-c", "remote_bitbang host 127.0.0.1",
                               "-c", "remote_bitbang port " + port, "-c", "transport select jtag", "-c",
                               "jtag newtap rcv cpu -irlen 5 -expected-id 0x2d4c6041", "-c", "init", "-c",
                               "irscan rcv.cpu 0x02", "-c", "echo \"IDCODE read: [drscan rcv.cpu 32 0]\"", "-c",
                               "shutdown"});
    ASSERT_TRUE(client.Started());
    int status = client.Wait(60s);
    EXPECT_EQ(status, 0) << client.Output();
    EXPECT_THAT(client.Output(), HasSubstr("tap/device found: 0x2d4c6041"));
    EXPECT_THAT(client.Output(), HasSubstr("IDCODE read: 2d4c6041"));
    EXPECT_THAT(client.Output(), ::testing::Not(HasSubstr("UNEXPECTED")));
}

TEST(ServedReceiverProcess, OrbvexCliFlashesAndVerifiesAFiveThousandByteImageThroughIt) {
    TempDir dir;
    const auto image = test::RandomImage(5000, 7);
    test::WriteBytes(dir.Path("image.rom"), image);
    const std::string flash = dir.Path("served-flash.img");
    const std::string socket = dir.Path("rbb.sock");
    test::ChildProcess receiver({Bin("orbvex_receiver"), "--unix", socket, "--flash-image", flash, "--once", "--quiet"});
    ASSERT_FALSE(StartReceiver(receiver).empty()) << receiver.Output();

    test::ChildProcess tool({Bin("orbvex_cli"), "--remote", "unix:" + socket, "--trap", ORBVEX_VIRTUAL_TRAP_IMAGE,
                             "start", "erase", "write", dir.Path("image.rom"), "verify", dir.Path("image.rom")});
    ASSERT_TRUE(tool.Started());
    EXPECT_EQ(tool.Wait(300s), 0) << tool.Output();
    EXPECT_THAT(tool.Output(), HasSubstr("Init OK :)"));
    EXPECT_THAT(tool.Output(), HasSubstr("Write Flash END"));
    EXPECT_THAT(tool.Output(), HasSubstr("Verify OK"));

    // The receiver saved what was written when its client had gone.
    EXPECT_EQ(receiver.Wait(30s), 0) << receiver.Output();
    const auto saved = test::ReadBytes(flash);
    ASSERT_EQ(saved.size(), 0x100000u);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), saved.begin()));
}

TEST(ServedReceiverProcess, TheReceiversSettingsReachTheTarget) {
    test::ChildProcess receiver({Bin("orbvex_receiver"), "--idcode", "0x1000A041", "--halt-ignored", "--late-ack",
                                 "--quiet"});
    const std::string address = StartReceiver(receiver);
    ASSERT_FALSE(address.empty()) << receiver.Output();
    test::ChildProcess tool({Bin("orbvex_cli"), "--remote", address, "start"});
    EXPECT_EQ(tool.Wait(60s), 1);
    EXPECT_EQ(tool.Output(),
              "Init JTAG\n"
              "IDCODE : 1000A041\n"
              "Stop CPU\n"
              "Fail DCU Control, Plesae Restart or Reset CPU Box\n"
              "orbvex_cli: \"start\" failed\n");
}

#endif

}  // namespace
}  // namespace orbvex

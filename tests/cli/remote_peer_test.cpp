// SPDX-License-Identifier: GPL-2.0-or-later
// The tool over remote bit-bang against real peers: a virtual receiver served from a
// thread of this process (including one that goes away in the middle), and the
// orbvex_receiver program driven by OpenOCD, by orbvex_cli and by abusive clients.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "cli_test_support.h"
#include "ops/receiver_fixture.h"
#include "link/dcu.h"
#include "link/jtag.h"
#include "link/link_log.h"
#include "ops/link_session.h"
#include "port/cable_wiring.h"
#include "port/kqportio.h"
#include "port/port_access.h"
#include "remote/remote_bitbang_client.h"
#include "remote/remote_bitbang_server.h"
#include "remote/remote_bitbang_socket.h"
#include "probe/probe_wire.h"
#include "support/probe_loopback.h"
#include "sim/virtual_receiver.h"
#if !defined(_WIN32)
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#endif

namespace orbvex::test {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::Not;

// The answer timeout of every client here: a healthy receiver on a slow host (these
// tests under Wine, say) must never look dead to them.
constexpr const char* kSlowHostTimeout = "120";

// A virtual receiver served on a loopback port from a thread of this process. With a
// limit it hangs up after that many status reads, as a peer that dies would.
class ServedReceiver : public PortBackend {
public:
    explicit ServedReceiver(std::uint64_t dropAfterReads = 0) : dropAfter_(dropAfterReads) {
        net::Endpoint where;
        where.host = "127.0.0.1";
        const Status listening = listener_.Open(where);
        EXPECT_TRUE(listening) << listening.Error();
        thread_ = std::thread([this] {
            ServerLimits limits;
            limits.pollMs = 20;
            ServeRemoteBitbang(
                listener_, *this, &stop_, [](ServerEvent e) { return !ClientGone(e); }, limits);
        });
    }
    ~ServedReceiver() override {
        stop_ = true;
        Join();
    }
    std::string Address() const { return listener_.Bound().Describe(); }
    // Returns once its client has gone.
    void Join() {
        if (thread_.joinable()) thread_.join();
    }

    std::uint8_t Read(std::uint16_t port) override {
        if (++reads_ == dropAfter_) stop_ = true;
        return receiver_.Read(port);
    }
    std::uint64_t Reads() const { return reads_; }
    void Write(std::uint16_t port, std::uint8_t value) override { receiver_.Write(port, value); }
    sim::VirtualReceiver& Receiver() { return receiver_; }

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
           "Trap_Wptr " +
           Hex8(0x80000140u + (trapSize & ~3u) + 8) +
           "\nTrap_Iptr 80000140\n"
           "Start Trap  : Please Wait...\nLoad EMI : Please Wait...\nInit OK :)\n---------------------\n";
}

TEST(CliRemote, StartPrintsExactlyTheStartLogOnTheVirtualReceiverAndOverRemoteBitbang) {
    ServedReceiver served;
    for (const ToolRun& run : {RunTool({"--virtual", "start"}),
                               RunTool({"--remote", served.Address(), "--remote-timeout", kSlowHostTimeout, "--trap",
                                        ORBVEX_VIRTUAL_TRAP_IMAGE, "start"})}) {
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, HealthyStartLog());
        EXPECT_EQ(run.err, "");
    }
}

TEST(CliRemote, ADroppedConnectionFailsTheRunWithAClearLineAndNoHang) {
    ServedReceiver served(2000);
    auto started = std::chrono::steady_clock::now();
    ToolRun run = RunTool({"--remote", served.Address(), "--remote-timeout", kSlowHostTimeout, "--trap",
                           ORBVEX_VIRTUAL_TRAP_IMAGE, "start", "erase"});
    EXPECT_LT(std::chrono::steady_clock::now() - started, 30s);
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("connection to the remote receiver " + served.Address() + " lost"));
    EXPECT_THAT(run.err, HasSubstr("\"start\" failed; the commands after it were not run"));
    EXPECT_THAT(run.out, HasSubstr("Init JTAG"));
    EXPECT_THAT(run.out, Not(HasSubstr("Init OK :)")));
}

// The last command's answers all came, but its closing writes may not have reached
// the receiver: a link lost then fails the run.
TEST(CliRemote, ALinkLostRightAfterTheLastAnswerFailsTheRun) {
    const auto start = [](const ServedReceiver& served) {
        return RunTool({"--remote", served.Address(), "--remote-timeout", kSlowHostTimeout, "--trap",
                        ORBVEX_VIRTUAL_TRAP_IMAGE, "start"});
    };
    ServedReceiver counting;
    ASSERT_EQ(start(counting).status, 0);
    ServedReceiver served(counting.Reads() - 1);  // START's reads, not the one after it
    const ToolRun run = start(served);
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, HasSubstr("Init OK :)"));
    EXPECT_THAT(run.err, AllOf(HasSubstr(served.Address() + " lost"), Not(HasSubstr("\"start\" failed"))));
}

// The trap program's failure answer ends the run at once, with its reason in the log
// and on stderr, not the line that closed the operation after it.
TEST(CliRemote, ATrapProgramFailureStopsTheRunAndSaysWhy) {
    TempDir dir;
    WriteBytes(dir.Path("image.rom"), std::vector<std::uint8_t>(0x20, 0x00));
    const struct {
        sim::FlashFaults fault;
        const char* command;
        const char* reason;
        const char* closing;
    } cases[] = {
        {{std::nullopt, false, true}, "erase", "Erase failed: chip not identified", "Fail"},
        {{sim::StuckBit{0x11, 7}, false, false}, "write", "Error writing flash at address 7FF00000: program failed at 7FF00010", "Write Flash END"},
    };
    for (const auto& c : cases) {
        ServedReceiver served;
        served.Receiver().Faults().flash = c.fault;
        std::vector<std::string> args = {"--remote", served.Address(), "--remote-timeout", kSlowHostTimeout, "start",
                                         c.command};
        if (c.command == std::string("write")) args.push_back(dir.Path("image.rom"));
        ToolRun run = RunTool(args);
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_THAT(run.out, HasSubstr(std::string(c.reason) + "\n" + c.closing + "\n"));
        EXPECT_THAT(run.err, HasSubstr(std::string("orbvex_cli: ") + c.reason + "\norbvex_cli: \"" + c.command + "\" failed"));
    }
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

// A program started by the test, stdout and stderr on one pipe. It dies with the test
// process, so that no receiver outlives a hung test, and with the object.
class Program {
public:
    // With stdoutClosed it starts with descriptor 1 closed (">&-"), the pipe on stderr alone.
    explicit Program(const std::vector<std::string>& argv, bool stdoutClosed = false) {
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            ::dup2(fds[1], 1);
            ::dup2(fds[1], 2);
            for (int fd = 3; fd < 1024; ++fd) ::close(fd);  // no socket of the test lives on in it
            if (stdoutClosed) ::close(1);
            ::execvp(args[0], args.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        out_ = ::fdopen(fds[0], "r");
    }
    ~Program() {
        if (pid_ > 0) ::kill(pid_, SIGKILL);
        Wait();
    }

    // The next line of output; empty once the program has ended.
    std::string Line() {
        std::string line;
        char buffer[512];
        while (out_ && line.find('\n') == std::string::npos && std::fgets(buffer, sizeof buffer, out_)) line += buffer;
        output_ += line;
        return line;
    }
    // The rest of the output, then the exit status (-1 when a signal ended it).
    int Wait() {
        while (!Line().empty()) {
        }
        if (out_) std::fclose(out_);
        out_ = nullptr;
        int status = -1;
        if (pid_ > 0) ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void Signal(int signal) { ::kill(pid_, signal); }
    const std::string& Output() const { return output_; }

    long ResidentKb() const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
        return -1;
    }

    // For orbvex_receiver: the address from its first line, "listening on ADDRESS".
    std::string ListeningAddress() {
        const std::string line = Line(), prefix = "listening on ";
        return line.rfind(prefix, 0) == 0 ? line.substr(prefix.size(), line.size() - prefix.size() - 1) : "";
    }

private:
    pid_t pid_ = -1;
    std::FILE* out_ = nullptr;
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

// The project's trap, executed by the served receiver's CPU, flashes every chip it can
// carry: START, erase over old contents, write and a verifying read, through orbvex_cli;
// the receiver saves what the chip then holds.
TEST(ServedReceiverProcess, OrbvexCliFlashesEveryChipThroughIt) {
    const struct {
        const char* chip;
        const char* flash;
        std::uint32_t size;
    } chips[] = {
        {"29LV800B", "1M", 0x100000},
        {"29LV800T", "1M", 0x100000},
        {"29LV160B", "2M", 0x200000},
        {"29LV160T", "2M", 0x200000},
        {"28F800B3B", "1M", 0x100000},
        {"28F160B3T", "2M", 0x200000},
    };
    TempDir dir;
    const auto image = RandomImage(5001, 7);
    WriteBytes(dir.Path("image.rom"), image);
    std::vector<std::thread> threads;
    for (const auto& c : chips) {
        threads.emplace_back([&dir, &image, c] {
            SCOPED_TRACE(c.chip);
            const std::string name = c.chip, flash = dir.Path(name + ".img");
            WriteBytes(flash, RandomImage(c.size, 3));
            Program receiver({Bin("orbvex_receiver"), "--unix", dir.Path(name + ".sock"), "--flash-chip", name,
                              "--flash-image", flash, "--once", "--quiet"});
            ASSERT_FALSE(receiver.ListeningAddress().empty()) << receiver.Output();
            Program tool({Bin("orbvex_cli"), "--remote", "unix:" + dir.Path(name + ".sock"), "--remote-timeout",
                          kSlowHostTimeout, "--flash", c.flash, "--trap", ORBVEX_VIRTUAL_TRAP_IMAGE, "start", "erase",
                          "write", dir.Path("image.rom"), "verify", dir.Path("image.rom")});
            ASSERT_EQ(tool.Wait(), 0) << tool.Output();  // else the receiver would wait for it forever
            EXPECT_THAT(tool.Output(), HasSubstr("Init OK :)"));
            EXPECT_THAT(tool.Output(), HasSubstr("Erase success !!!"));
            EXPECT_THAT(tool.Output(), HasSubstr("Write Flash END"));
            EXPECT_THAT(tool.Output(), HasSubstr("Verify OK"));
            EXPECT_EQ(receiver.Wait(), 0) << receiver.Output();
            auto expected = image;
            expected.resize(c.size, 0xFF);
            EXPECT_EQ(ReadBytes(flash), expected);
        });
    }
    for (auto& t : threads) t.join();
}

// A reply that breaks off fails a read plainly, with the file kept: checked by the trap
// program's checksums, or by passes.
TEST(ServedReceiverProcess, LinkFaultsNeverPassForTheFlash) {
    TempDir dir;
    WriteBytes(dir.Path("back.bin"), {'o', 'l', 'd'});
    const std::vector<std::string> shortReply = {"--short-reply", "100", "--reply-outside-flash", "4"};
    const struct {
        std::vector<std::string> settings, commands;
        const char* says;
    } runs[] = {
        {shortReply, {"--length", "8K", "--passes", "1", "start", "read", dir.Path("back.bin")}, "Read stopped at address 7FF00000: the receiver did not answer"},
        {shortReply, {"--length", "8K", "--passes", "2", "start", "read", dir.Path("back.bin")}, "Read stopped at address 7FF00000: the receiver did not answer"},
    };
    std::vector<std::thread> threads;
    for (const auto& run : runs) {
        threads.emplace_back([&] {
            std::vector<std::string> argv = {Bin("orbvex_receiver"), "--once", "--quiet"};
            argv.insert(argv.end(), run.settings.begin(), run.settings.end());
            Program receiver(argv);
            std::vector<std::string> args = {Bin("orbvex_cli"), "--remote", receiver.ListeningAddress(),
                                             "--remote-timeout", kSlowHostTimeout, "--trap", ORBVEX_VIRTUAL_TRAP_IMAGE};
            args.insert(args.end(), run.commands.begin(), run.commands.end());
            Program tool(args);
            EXPECT_EQ(tool.Wait(), 1) << tool.Output();
            EXPECT_THAT(tool.Output(), HasSubstr(run.says));
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(ReadBytes(dir.Path("back.bin")), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
}

TEST(ServedReceiverProcess, TheReceiversSettingsReachTheTarget) {
    const struct {
        std::vector<std::string> settings;
        std::string log;
    } cases[] = {
        {{"--idcode", "0x1000A041", "--halt-ignored", "--late-ack"},
         "Init JTAG\nIDCODE : 1000A041\nStop CPU\nFail DCU Control, Plesae Restart or Reset CPU Box\n"},
        // The first byte of the first reply's data: the read-back of the halt request.
        {{"--corrupt-reply", "at:1"},
         "Init JTAG\nIDCODE : 10006A5B\nCPU : STi5512\nStop CPU\nFail DCU Control, Plesae Restart or Reset CPU Box\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = {Bin("orbvex_receiver"), "--once", "--quiet"};
        argv.insert(argv.end(), c.settings.begin(), c.settings.end());
        Program receiver(argv);
        const std::string address = receiver.ListeningAddress();
        ASSERT_FALSE(address.empty()) << receiver.Output();
        Program tool({Bin("orbvex_cli"), "--remote", address, "--remote-timeout", kSlowHostTimeout, "start"});
        EXPECT_EQ(tool.Wait(), 1);
        const std::string why = c.log.substr(c.log.rfind('\n', c.log.size() - 2) + 1);  // again on stderr
        EXPECT_EQ(tool.Output(), c.log + "orbvex_cli: " + why + "orbvex_cli: \"start\" failed\n") << c.settings[0];
    }
}

TEST(ServedReceiverProcess, RefusesWhatItCannotServeWithAReasonAndNeverCrashes) {
    TempDir dir;
    WriteBytes(dir.Path("two-megabytes.img"), std::vector<std::uint8_t>(0x200000, 0xFF));
    WriteBytes(dir.Path("plain-file"), {1, 2, 3});
    ASSERT_EQ(::mkfifo(dir.Path("pipe").c_str(), 0600), 0);
    net::Listener live;
    net::Endpoint livePath;
    livePath.isUnix = true;
    livePath.path = dir.Path("live.sock");
    const Status listening = live.Open(livePath);
    ASSERT_TRUE(listening) << listening.Error();
    WriteBytes(dir.Path("short.img"), std::vector<std::uint8_t>(1000, 0xFF));
    WriteBytes(dir.Path("read-only.img"), std::vector<std::uint8_t>(0x100000, 0xFF));
    std::filesystem::permissions(dir.Path("read-only.img"), std::filesystem::perms::owner_read);
    net::Listener taken;
    net::Endpoint anyPort;
    anyPort.host = "127.0.0.1";
    const Status listeningToo = taken.Open(anyPort);
    ASSERT_TRUE(listeningToo) << listeningToo.Error();
    const std::string takenPort = std::to_string(taken.Bound().port);

    const struct {
        std::vector<std::string> args;
        int status;
        std::string says;
    } cases[] = {
        {{"--flash-image", dir.Path()}, 2, "not a regular file"},
        {{"--flash-image", dir.Path("pipe")}, 2, "not a regular file"},
        {{"--flash-image", dir.Path("two-megabytes.img")}, 2, "holds 2097152 bytes, more than the 1M flash"},
        {{"--flash-image", dir.Path("plain-file") + "/flash.img"}, 2, "is not a folder"},
        {{"--flash-image", dir.Path(std::string(300, 'n'))}, 2, "File name too long"},
        {{"--flash-image", dir.Path("short.img")}, 2, "holds 1000 bytes, not the 1048576 of the 1M flash"},
        {{"--flash-image", dir.Path("read-only.img")}, 2, "cannot save the flash: Cannot create file"},
        {{"--tcp", takenPort}, 1, "cannot listen on 127.0.0.1:" + takenPort},
        {{"--unix", livePath.path}, 1, "another program is listening on it"},
        {{"--unix", dir.Path("plain-file")}, 1, "is not a socket; it is left alone"},
        {{"--tcp", "70000"}, 2, "--tcp"},
        {{"--tcp", "-1"}, 2, "--tcp"},
        {{"--idcode", "0x1FFFFFFFF"}, 2, "--idcode"},
        {{"--reply-block", "0"}, 2, "--reply-block"},
        {{"--reply-block", "100000"}, 2, "--reply-block"},
        {{"--reply-block", "6"}, 2, "multiples of 4"},
        {{"--erase-busy", "99999999999999999999999"}, 2, "--erase-busy"},
        {{"--corrupt-reply", "every:0"}, 2, "--corrupt-reply"},
        {{"--corrupt-reply", "often"}, 2, "--corrupt-reply"},
        {{"--corrupt-reply", "random:5:"}, 2, "--corrupt-reply"},
        {{"--unix", ""}, 2, "--unix"},
        {{"--busy-pulses", "0x40000000"}, 2, "--busy-pulses"},  // twice as many steps do not fit
        {{"--idle-timeout", "0"}, 2, "--idle-timeout"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = {Bin("orbvex_receiver")};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        Program receiver(argv);
        EXPECT_EQ(receiver.Wait(), c.status) << c.args[0] << ' ' << c.args[1] << '\n'
                                             << receiver.Output();
        EXPECT_THAT(receiver.Output(), HasSubstr(c.says)) << c.args[0] << ' ' << c.args[1];
    }
    EXPECT_EQ(ReadBytes(dir.Path("plain-file")), (std::vector<std::uint8_t>{1, 2, 3}));
}

// A closed stdout must not hand the connection descriptor 1, and the log lines with it.
TEST(ServedReceiverProcess, ClosedStdoutsPutNothingIntoTheConnection) {
    TempDir dir;
    Program receiver({Bin("orbvex_receiver"), "--unix", dir.Path("rbb.sock"), "--once"}, true);
    for (int i = 0; i < 200 && !std::filesystem::exists(dir.Path("rbb.sock")); ++i) std::this_thread::sleep_for(50ms);
    Program tool({Bin("orbvex_cli"), "--remote", "unix:" + dir.Path("rbb.sock"), "--remote-timeout", kSlowHostTimeout,
                  "--trap", ORBVEX_VIRTUAL_TRAP_IMAGE, "start"},
                 true);
    EXPECT_EQ(tool.Wait(), 0) << tool.Output();
    EXPECT_EQ(receiver.Wait(), 0) << receiver.Output();
}

// Whatever ends it (a closed terminal too), the session's flash is saved.
TEST(ServedReceiverProcess, EverySignalThatEndsItSavesTheFlash) {
    TempDir dir;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        Program receiver({Bin("orbvex_receiver"), "--flash-image", dir.Path(std::to_string(signal)), "--quiet"});
        ASSERT_FALSE(receiver.ListeningAddress().empty()) << receiver.Output();
        receiver.Signal(signal);
        EXPECT_EQ(receiver.Wait(), 0) << signal;
        EXPECT_EQ(ReadBytes(dir.Path(std::to_string(signal))).size(), 0x100000u) << signal;
    }
}

net::Socket Dial(const std::string& address) {
    const Result<net::Endpoint> where = net::ParseEndpoint(address);
    if (!where) return net::Socket();
    Result<net::Socket> socket = net::Connect(where.Value());
    return socket ? std::move(socket).Value() : net::Socket();
}

// What a new client gets from the receiver at address: "" when it is served (the
// IDCODE through the TAP and the probe register through the DCU, with the host's link
// code), else what went wrong.
std::string ServedOrWhyNot(const std::string& address) {
    RemoteBitbangClient client(Dial(address), std::stoi(kSlowHostTimeout) * 1000);
    if (client.Failed()) return client.FailureReason();
    std::uint32_t idcode = 0, probe = 0;
    bool read = false;
    {
        const std::unique_ptr<PortAccess> access = MakeUnrestrictedPortAccess();
        LinkSession link(*access, &client);
        JtagSetTrst(true);
        idcode = ReadIdcode();
        SelectDcu();
        read = DcuReadWord(0x3000, probe);
    }
    if (client.Failed()) return client.FailureReason();
    client.Quit();
    if (idcode != 0x10006A5B || !read || probe != 1) return "IDCODE " + Hex8(idcode) + ", probe " + Hex8(probe);
    return "";
}

// The same, asking again while the receiver is busy with a client it has yet to drop.
std::string ServedWithin(const std::string& address, std::chrono::seconds patience) {
    const auto until = std::chrono::steady_clock::now() + patience;
    std::string why = ServedOrWhyNot(address);
    while (why.find("busy") != std::string::npos && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(100ms);
        why = ServedOrWhyNot(address);
    }
    return why;
}

// Sends chunk `times` times on one connection, taking every answer on a thread of its
// own; the number of answers once the receiver has closed.
std::size_t Stream(const std::string& address, const std::string& chunk, int times) {
    net::Socket s = Dial(address);
    std::size_t answers = 0;
    std::thread taker([&] {
        char buffer[65536];
        for (long n; (n = s.Receive(buffer, sizeof buffer)) > 0;) answers += static_cast<std::size_t>(n);
    });
    for (int i = 0; i < times && s.SendAll(chunk.data(), chunk.size()); ++i) {
    }
    s.ShutdownSend();
    taker.join();
    return answers;
}

// A non-loopback IPv4 address of this machine, if it has one.
std::string OutwardAddress() {
    ifaddrs* all = nullptr;
    std::string found;
    if (::getifaddrs(&all) != 0) return found;
    for (ifaddrs* a = all; a && found.empty(); a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || (a->ifa_flags & IFF_LOOPBACK)) continue;
        char text[INET_ADDRSTRLEN];
        ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, text, sizeof text);
        found = text;
    }
    ::freeifaddrs(all);
    return found;
}

TEST(ServedReceiverProcess, AbusiveClientsNeitherStopItNorGrowItAndTheNextClientIsServed) {
    TempDir dir;
    const std::string image = dir.Path("flash.img");
    Program receiver({Bin("orbvex_receiver"), "--idle-timeout", "1", "--flash-image", image, "--quiet"});
    const std::string address = receiver.ListeningAddress();
    ASSERT_EQ(address.rfind("127.0.0.1:", 0), 0u) << receiver.Output();
    const std::string port = address.substr(address.rfind(':') + 1);
    if (!OutwardAddress().empty()) {
        EXPECT_FALSE(Dial(OutwardAddress() + ":" + port).Valid()) << "loopback only";
    }
    ASSERT_EQ(ServedOrWhyNot(address), "");
    const long residentBefore = receiver.ResidentKb();

    std::mt19937 random(13);
    std::string noise(1 << 20, '\0');
    for (char& c : noise) do
            c = static_cast<char>(random());
        while (c == 'Q');  // all of it is served
    std::string clocks;    // a megabyte of clocks with a read every 64 requests
    for (std::size_t i = 0; i < (1u << 20); ++i) clocks += i % 64 == 63 ? 'R' : "0426"[i % 4];

    const struct {
        const char* what;
        std::function<std::vector<net::Socket>()> abuse;  // returns the connections it holds on to
    } cases[] = {
        {"eight megabytes of random bytes",
         [&] {
             Stream(address, noise, 8);
             return std::vector<net::Socket>{};
         }},
        {"a 100 MB stream of clocks and reads, every answer taken",
         [&] {
             EXPECT_EQ(Stream(address, clocks, 100), std::size_t{100} << 14) << "an answer lost";
             return std::vector<net::Socket>{};
         }},
        {"forty connections at once",
         [&] {
             std::vector<net::Socket> all;
             for (int i = 0; i < 40; ++i) all.push_back(Dial(address));
             for (std::size_t i = 1; i < all.size(); ++i) {
                 std::string said;
                 char buffer[256];
                 for (long n; all[i].WaitReadable(5000) && (n = all[i].Receive(buffer, sizeof buffer)) > 0;)
                     said.append(buffer, static_cast<std::size_t>(n));
                 EXPECT_EQ(said, kBusyLine) << "connection " << i;
             }
             return all;
         }},
        {"a client that connects and sends nothing",
         [&] {
             std::vector<net::Socket> held;
             held.push_back(Dial(address));
             return held;
         }},
        {"a client killed in the middle of a DCU message",
         [&] {
             Program tool({Bin("orbvex_cli"), "--remote", address, "--remote-timeout", kSlowHostTimeout, "--trap",
                           ORBVEX_VIRTUAL_TRAP_IMAGE, "start", "erase", "read", dir.Path("whole.bin")});
             std::this_thread::sleep_for(1500ms);
             tool.Signal(SIGKILL);
             EXPECT_EQ(tool.Wait(), -1) << "the run ended before it was killed: " << tool.Output();
             return std::vector<net::Socket>{};
         }},
        {"a client that never takes its answers",
         [&] {
             std::vector<net::Socket> held;
             held.push_back(Dial(address));
             held[0].SetNonBlocking();
             const std::string reads(65536, 'R');
             const auto until = std::chrono::steady_clock::now() + 5s;
             for (int full = 0; full < 3 && std::chrono::steady_clock::now() < until;) {
                 if (held[0].SendSome(reads.data(), reads.size()) > 0) continue;
                 ++full;
                 std::this_thread::sleep_for(100ms);
             }
             return held;
         }},
    };
    for (const auto& c : cases) {
        std::vector<net::Socket> held = c.abuse();
        EXPECT_EQ(ServedWithin(address, 10s), "") << "after " << c.what;
    }
    const long residentAfter = receiver.ResidentKb();
    EXPECT_LT(residentAfter - residentBefore, 2048) << "resident " << residentBefore << " kB before, " << residentAfter << " after";

    // A signal ends it at once, with a client stuck on it, and it saves its flash.
    std::vector<net::Socket> stuck = cases[5].abuse();
    std::filesystem::remove(image);
    const auto signalled = std::chrono::steady_clock::now();
    receiver.Signal(SIGTERM);
    EXPECT_EQ(receiver.Wait(), 0) << receiver.Output();
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 2s);
    EXPECT_EQ(ReadBytes(image), std::vector<std::uint8_t>(0x100000, 0xFF));
}

// No answer to a connect (a listener whose queue is full), or none to the first request
// (a listener that never takes the connection it has queued), ends the run at the
// timeout, or within a second of Ctrl-C, as the README promises.
TEST(CliRemote, APeerThatKeepsTheToolWaitingEndsTheRunAtTheTimeoutOrWithinASecondOfCtrlC) {
    using namespace std::chrono;
    TempDir dir;
    net::Endpoint tcp, unix;
    tcp.host = "127.0.0.1";
    unix.isUnix = true;
    unix.path = dir.Path("full.sock");
    for (const net::Endpoint& where : {tcp, unix}) {
        for (const bool queueFull : {true, false}) {
            net::Listener listener;
            const Status listening = listener.Open(where);
            ASSERT_TRUE(listening) << listening.Error();
            std::vector<net::Socket> queued;  // never accepted
            while (queueFull && queued.size() < 1000 && (queued.empty() || queued.back().Valid())) {
                Result<net::Socket> socket = net::Connect(listener.Bound(), 300);
                queued.push_back(socket ? std::move(socket).Value() : net::Socket());
            }
            const std::string says = queueFull ? "cannot connect to " + listener.Bound().Describe()
                                               : "the remote receiver stopped answering";
            for (const bool ctrlC : {false, true}) {
                SCOPED_TRACE(where.Describe() + (queueFull ? ", queue full" : ", silent") + (ctrlC ? ", Ctrl-C" : ""));
                const auto started = steady_clock::now();
                const auto pressed = started + milliseconds(300);  // once the tool waits
                const ToolRun run =
                    RunTool({"--remote", listener.Bound().Describe(), "--remote-timeout", ctrlC ? "120" : "1", "start"},
                            false, [ctrlC, pressed] { return ctrlC && steady_clock::now() >= pressed; });
                if (ctrlC) {
                    EXPECT_LT(steady_clock::now() - pressed, 1s);
                } else {
                    EXPECT_LT(steady_clock::now() - started, 3s);
                }
                EXPECT_EQ(run.status, ctrlC ? 130 : 1) << run.err;
                EXPECT_THAT(run.err, HasSubstr(ctrlC && !queueFull ? "interrupted" : says));
            }
        }
    }
}

TEST(ServedReceiverProcess, TakesOverAUnixSocketThatNobodyListensOnAnyMore) {
    TempDir dir;
    const std::string path = dir.Path("stale.sock");
    {  // what a receiver killed with SIGKILL leaves behind
        const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
        ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ::listen(s, 1);
        ::close(s);
    }
    Program receiver({Bin("orbvex_receiver"), "--unix", path, "--once", "--quiet"});
    ASSERT_EQ(receiver.ListeningAddress(), "unix:" + path) << receiver.Output();
    EXPECT_EQ(ServedOrWhyNot("unix:" + path), "");
    EXPECT_EQ(receiver.Wait(), 0) << receiver.Output();
    EXPECT_FALSE(std::filesystem::exists(path)) << "removed when it stops";
}

// The probe program between the tool and the virtual receiver.
std::string ProbeListening(Program& probe) {
    const std::string address = probe.ListeningAddress();
    EXPECT_NE(address, "") << probe.Output();
    return address;
}

TEST(ServedProbe, TheSessionThroughItGivesExactBytesAndTheVirtualReceiversLog) {
    TempDir dir;
    const std::vector<std::uint8_t> rom = RandomImage(3001, 31);
    WriteBytes(dir.Path("F.rom"), rom);
    std::vector<std::uint8_t> flash = rom;
    flash.resize(0x100000, 0xFF);
    const std::vector<std::string> session = {"--trap", ORBVEX_VIRTUAL_TRAP_IMAGE, "start", "erase", "write",
                                              dir.Path("F.rom"), "read", dir.Path("G.bin"), "verify", dir.Path("F.rom")};
    std::vector<std::string> inProcess = {"--virtual"};
    inProcess.insert(inProcess.end(), session.begin(), session.end());
    const ToolRun expected = RunTool(inProcess);
    ASSERT_EQ(expected.status, 0) << expected.err;
    for (const bool unixSocket : {false, true}) {
        std::filesystem::remove(dir.Path("G.bin"));
        Program probe(unixSocket ? std::vector<std::string>{Bin("orbvex_probe"), "--virtual", "--unix", dir.Path("p.sock")}
                                 : std::vector<std::string>{Bin("orbvex_probe"), "--virtual"});
        std::vector<std::string> args = {"--probe", ProbeListening(probe), "--remote-timeout", kSlowHostTimeout};
        args.insert(args.end(), session.begin(), session.end());
        const ToolRun run = RunTool(args);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, expected.out);
        EXPECT_EQ(ReadBytes(dir.Path("G.bin")), flash) << (unixSocket ? "unix" : "tcp");
        probe.Signal(SIGTERM);
        EXPECT_EQ(probe.Wait(), 0) << probe.Output();
    }
}

TEST(ServedProbe, ASecondClientIsToldItIsBusyAndTheNextOneIsServed) {
    Program probe({Bin("orbvex_probe"), "--virtual"});
    const std::string address = ProbeListening(probe);
    net::Socket first = Dial(address);
    std::this_thread::sleep_for(200ms);  // taken as the client
    const ToolRun busy = RunTool({"--probe", address, "--remote-timeout", kSlowHostTimeout, "start"});
    EXPECT_EQ(busy.status, 1);
    EXPECT_THAT(busy.err, HasSubstr("the probe " + address + " cannot serve: the probe is busy with another client"));
    first.Close();
    std::this_thread::sleep_for(200ms);
    const ToolRun served = RunTool({"--probe", address, "--remote-timeout", kSlowHostTimeout, "--trap",
                                    ORBVEX_VIRTUAL_TRAP_IMAGE, "start"});
    EXPECT_EQ(served.status, 0) << served.err;
    EXPECT_EQ(served.out, HealthyStartLog());
}

// Passes one client's bytes to a probe and back, and kills the probe when the n-th
// request of a type comes by, before passing it on.
class KillingRelay {
public:
    KillingRelay(const std::string& probeAddress, Program& probe, std::uint8_t type, int nth) {
        net::Endpoint here;
        here.host = "127.0.0.1";
        const Status listening = listener_.Open(here);
        EXPECT_TRUE(listening) << listening.Error();
        thread_ = std::thread([this, probeAddress, &probe, type, nth] {
            net::Socket client = listener_.Accept(60000), up = Dial(probeAddress);
            probe::FrameReader reader;
            int seen = 0;
            char buffer[4096];
            while (client.Valid() && up.Valid()) {
                net::PollSet poll;
                const std::size_t fromClient = poll.Add(client, true, false), fromProbe = poll.Add(up, true, false);
                poll.Wait(100);
                if (poll.Readable(fromClient)) {
                    const long n = client.Receive(buffer, sizeof buffer);
                    if (n <= 0) break;
                    for (std::size_t at = 0, used = 0; at < static_cast<std::size_t>(n); at += used)
                        if (reader.Feed(reinterpret_cast<std::uint8_t*>(buffer) + at, n - at, used) ==
                                probe::FrameReader::Status::Complete &&
                            reader.Current().type == type && ++seen == nth)
                            probe.Signal(SIGKILL);
                    up.SendAll(buffer, static_cast<std::size_t>(n));
                }
                if (poll.Readable(fromProbe)) {
                    const long n = up.Receive(buffer, sizeof buffer);
                    if (n <= 0) break;
                    client.SendAll(buffer, static_cast<std::size_t>(n));
                }
            }
        });
    }
    ~KillingRelay() { thread_.join(); }
    std::string Address() const { return listener_.Bound().Describe(); }

private:
    net::Listener listener_;
    std::thread thread_;
};

TEST(ServedProbe, AProbeKilledMidWriteOrMidReadFailsTheRunNamingItAndLeavesTheFilesAlone) {
    struct Row {
        const char* name;
        std::uint8_t request;
        std::vector<std::string> commands;
    };
    TempDir dir;
    const std::vector<std::uint8_t> rom = RandomImage(0x10000, 5), old = {'o', 'l', 'd'};
    const Row rows[] = {
        {"mid-write", probe::kWriteBlock, {"start", "erase", "write", dir.Path("F.rom")}},
        // every page: a blank one is otherwise not transferred
        {"mid-read", probe::kReadBlock, {"--passes", "1", "start", "read", dir.Path("G.bin")}},
    };
    for (const Row& row : rows) {
        WriteBytes(dir.Path("F.rom"), rom);
        WriteBytes(dir.Path("G.bin"), old);
        Program probe({Bin("orbvex_probe"), "--virtual"});
        const std::string address = ProbeListening(probe);
        std::vector<std::string> args;
        {
            KillingRelay relay(address, probe, row.request, 100);
            args = {"--probe", relay.Address(), "--remote-timeout", kSlowHostTimeout, "--trap", ORBVEX_VIRTUAL_TRAP_IMAGE};
            args.insert(args.end(), row.commands.begin(), row.commands.end());
            const ToolRun run = RunTool(args);
            EXPECT_EQ(run.status, 1) << row.name;
            EXPECT_THAT(run.err, HasSubstr("connection to the probe " + relay.Address() + " lost (the probe closed the connection"))
                << row.name;
        }
        EXPECT_EQ(ReadBytes(dir.Path("F.rom")), rom) << row.name;
        EXPECT_EQ(ReadBytes(dir.Path("G.bin")), old) << row.name;
        EXPECT_EQ(dir.Entries(), 2u) << row.name;
    }
}

// A probe that takes the connection and never answers ends the run at the timeout, or at
// once on Ctrl-C.
TEST(ServedProbe, AProbeThatNeverAnswersEndsTheRunAtTheTimeoutOrAtCtrlC) {
    net::Endpoint here;
    here.host = "127.0.0.1";
    net::Listener silent;  // connections wait in its queue, taken by nobody
    const Status listening = silent.Open(here);
    ASSERT_TRUE(listening) << listening.Error();
    const std::string address = silent.Bound().Describe();
    for (const bool ctrlC : {false, true}) {
        const auto started = std::chrono::steady_clock::now();
        const ToolRun run =
            RunTool({"--probe", address, "--remote-timeout", ctrlC ? "120" : "1", "start"}, false, [ctrlC] { return ctrlC; });
        EXPECT_LT(std::chrono::steady_clock::now() - started, ctrlC ? 2500ms : 3s);
        EXPECT_EQ(run.status, ctrlC ? 130 : 1) << run.err;
        EXPECT_THAT(run.err, HasSubstr(ctrlC ? "interrupted" : "the probe did not answer within 1 s"));
    }
}

// The serial route, on a pseudo-terminal: a probe forked off serves its master side as
// a board would its UART, and the tool opens the other side with --probe DEVICE.
TEST(ServedProbe, ASerialLineCarriesASessionAsTheSocketDoes) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string device = ::ptsname(master);
    const pid_t board = ::fork();
    if (board == 0) {
        sim::VirtualReceiver target;
        probe::ProbeServer server(EngineOn(target), InProcessProbeAbilities());
        std::uint8_t buffer[4096];
        for (long n; (n = ::read(master, buffer, sizeof buffer)) > 0;) {
            std::vector<std::uint8_t> answers;
            server.Take(buffer, static_cast<std::size_t>(n), answers);
            if (!answers.empty() && ::write(master, answers.data(), answers.size()) < 0) break;
        }
        ::_exit(0);
    }
    TempDir dir;
    const ToolRun run = RunTool({"--probe", device + ",baud=115200", "--remote-timeout", kSlowHostTimeout, "--trap",
                                 ORBVEX_VIRTUAL_TRAP_IMAGE, "start", "read", dir.Path("G.bin")});
    ::kill(board, SIGKILL);
    ::waitpid(board, nullptr, 0);
    ::close(master);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadBytes(dir.Path("G.bin")), std::vector<std::uint8_t>(0x100000, 0xFF));
}

TEST(ServedProbe, OpenedToTheNetworkItSaysSoOnStderr) {
    Program probe({Bin("orbvex_probe"), "--virtual", "--listen", "127.0.0.1:0"});
    EXPECT_THAT(probe.Line(), HasSubstr("orbvex_probe: open to the network on 127.0.0.1:"));
    EXPECT_THAT(probe.Line(), HasSubstr("listening on 127.0.0.1:"));
}

#endif

}  // namespace
}  // namespace orbvex::test

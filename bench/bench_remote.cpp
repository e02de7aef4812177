// SPDX-License-Identifier: GPL-2.0-or-later
// The remote bit-bang link on a loopback TCP socket, against the virtual receiver served
// from a thread: the round trips START, an erase and each byte read or written cost, and
// the time they take when every round trip is made longer, as a slow network or a USB
// cable would (lag_us, microseconds added per round trip). And a probe (orbvex_probe),
// which runs whole messages next to the target, against remote bit-bang (orbvex_receiver),
// each a program of its own on loopback.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>
#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "link/dcu.h"
#include "link/jtag.h"
#include "ops/flash_range.h"
#include "ops/operations.h"
#include "port/kqportio.h"
#include "port/port_access.h"
#include "remote/remote_bitbang_client.h"
#include "remote/remote_bitbang_server.h"
#include "sim/virtual_receiver.h"
#include "against_today.h"
#include "fewer_bytes.h"
#include "cables/cable.h"
#include "probe/probe_client.h"
#include "quiet_window.h"

namespace {

using namespace orbvex;

// The served receiver and a connected client wired in as the port, through this, which
// can make every round trip longer by a fixed lag.
class RemoteLink final : public PortBackend {
public:
    explicit RemoteLink(const sim::ReceiverConfig& config = {}) : receiver_(config) {
        net::Endpoint where;
        where.host = "127.0.0.1";
        static_cast<void>(listener_.Open(where));  // a listener that failed shows as a link that does
        server_ = std::thread([this] {
            ServeRemoteBitbang(listener_, receiver_, &stop_, [](ServerEvent e) { return !ClientGone(e); });
        });
        Result<net::Socket> socket = net::Connect(listener_.Bound());
        client_ = std::make_unique<RemoteBitbangClient>(socket ? std::move(socket).Value() : net::Socket());
        link_.emplace(*access_, this);
    }
    ~RemoteLink() override {
        link_.reset();
        client_->Quit();
        stop_ = true;
        server_.join();
    }
    RemoteBitbangClient& Client() { return *client_; }
    orbvex::Link& Link() { return link_->Link(); }
    void SetLag(std::int64_t microseconds) { lag_ = std::chrono::microseconds(microseconds); }
    // Only while the client waits for nothing: the server's thread is idle then.
    sim::ReceiverCounters ReceiverCounters() const { return receiver_.Counters(); }
    void SetFlash(const std::vector<std::uint8_t>& image) { receiver_.SetFlash(image); }  // as the counters

    std::uint8_t Read(std::uint16_t port) override { return Lagged(client_->Read(port)); }
    void Write(std::uint16_t port, std::uint8_t value) override { client_->Write(port, value); }
    bool DefersReads() const override { return true; }
    void RequestRead(std::uint16_t port) override { client_->RequestRead(port); }
    std::uint8_t TakeRead() override { return Lagged(client_->TakeRead()); }
    void Flush() override { client_->Flush(); }

private:
    std::uint8_t Lagged(std::uint8_t answer) {
        for (auto until = std::chrono::steady_clock::now() + lag_; trips_ != client_->RoundTrips();)
            if (std::chrono::steady_clock::now() >= until) trips_ = client_->RoundTrips();
        return answer;
    }

    sim::VirtualReceiver receiver_;
    net::Listener listener_;
    std::atomic<bool> stop_{false};
    std::thread server_;
    std::unique_ptr<RemoteBitbangClient> client_;
    std::chrono::microseconds lag_{0};
    std::uint64_t trips_ = 0;
    std::unique_ptr<PortAccess> access_ = MakeUnrestrictedPortAccess();
    std::optional<LinkSession> link_;
};

// A START and an erase after it.
void BM_RemoteStart(benchmark::State& state) {
    RemoteLink link;
    QuietWindow window;
    std::uint64_t trips = 0, eraseTrips = 0;
    for (auto _ : state) {
        std::uint64_t before = link.Client().RoundTrips();
        if (!RunStart(link.Link(), window, VirtualStart())) state.SkipWithError(("START failed: " + window.lastLine).c_str());
        trips += link.Client().RoundTrips() - before;
        before = link.Client().RoundTrips();
        if (!RunErase(link.Link(), window, {kLpt1Base, kFlash1M})) state.SkipWithError(("erase failed: " + window.lastLine).c_str());
        eraseTrips += link.Client().RoundTrips() - before;
    }
    state.counters["round_trips"] = benchmark::Counter(static_cast<double>(trips), benchmark::Counter::kAvgIterations);
    state.counters["erase_round_trips"] = benchmark::Counter(static_cast<double>(eraseTrips), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_RemoteStart)->Unit(benchmark::kMillisecond)->Iterations(3);

// In round trips of the batched link, over the first bytes of a 1 MB flash (Arg: how
// many; the whole megabyte takes many minutes here).
void BM_RemoteChecksumsAgainstToday(benchmark::State& state) {
    RemoteLink link;
    QuietWindow window;
    if (!RunStart(link.Link(), window, VirtualStart())) return state.SkipWithError("START failed");
    const std::string rom = "bench_remote_1m.rom", back = "bench_remote_back.bin";
    const auto kLength = static_cast<std::uint32_t>(state.range(0));
    std::string image(kLength, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 2654435761u >> 13);
    std::ofstream(rom, std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));
    CompareWithToday(
        state, link.Link(), window, rom, back, kLength, [&link] { return link.Client().RoundTrips(); },
        [&window, &link] { RunErase(link.Link(), window, {kLpt1Base, kFlash1M}); });
    std::remove(rom.c_str());
    std::remove(back.c_str());
}
BENCHMARK(BM_RemoteChecksumsAgainstToday)->Arg(0x20000)->Arg(0x100000)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_RemoteRead(benchmark::State& state) {
    RemoteLink link;
    QuietWindow window;
    if (!RunStart(link.Link(), window, VirtualStart())) state.SkipWithError("START failed");
    link.SetLag(state.range(1));
    const auto length = static_cast<std::uint32_t>(state.range(0));
    std::vector<std::uint8_t> data;
    std::uint64_t trips = 0, bytes = 0;
    for (auto _ : state) {
        std::uint64_t before = link.Client().RoundTrips();
        if (!ReadTargetRange(0x7FF00000, length, data).ok) state.SkipWithError("read failed");
        trips += link.Client().RoundTrips() - before;
        bytes += length;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.counters["round_trips_per_byte"] = static_cast<double>(trips) / static_cast<double>(bytes);
}
BENCHMARK(BM_RemoteRead)->ArgNames({"bytes", "lag_us"})->Args({4096, 0})->Args({1024, 100})->Args({1024, 1000})->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_RemoteWrite(benchmark::State& state) {
    RemoteLink link;
    QuietWindow window;
    if (!RunStart(link.Link(), window, VirtualStart())) state.SkipWithError("START failed");
    const auto length = static_cast<std::size_t>(state.range(0));
    const std::string path = "bench_remote_image.rom";
    std::ofstream(path, std::ios::binary).write(std::string(length, '\x5A').data(), static_cast<std::streamsize>(length));
    const WriteInputs write{kLpt1Base, Answer(path, kFlash1M)};
    std::uint64_t trips = 0, bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        RunErase(link.Link(), window, {kLpt1Base, kFlash1M});
        state.ResumeTiming();
        std::uint64_t before = link.Client().RoundTrips();
        if (!RunWrite(link.Link(), window, write)) state.SkipWithError(("write failed: " + window.lastLine).c_str());
        trips += link.Client().RoundTrips() - before;
        bytes += length;
    }
    std::remove(path.c_str());
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.counters["round_trips_per_byte"] = static_cast<double>(trips) / static_cast<double>(bytes);
}
BENCHMARK(BM_RemoteWrite)->Arg(4096)->Unit(benchmark::kMillisecond)->Iterations(2);

// One read of the trap program's command word, as an erase or a write polls it: a word
// read on a block reply whose length the DCU chooses. Argument: the data bytes the
// DCU returns outside the flash window, 256 (as for flash) or 4 (a word).
void BM_RemoteCommandWordPoll(benchmark::State& state) {
    sim::ReceiverConfig config;
    if (state.range(0) != config.replyBlockLength) config.replyLengthOutsideFlash = static_cast<int>(state.range(0));
    RemoteLink link(config);
    JtagSetTrst(true);
    TapReset();
    SelectDcu();
    std::uint32_t word = 0;
    std::uint64_t trips = 0, clocks = 0, polls = 0;
    for (auto _ : state) {
        const std::uint64_t tripsBefore = link.Client().RoundTrips(), clocksBefore = link.ReceiverCounters().tckCycles;
        if (!DcuReadWord(0x80000100, word)) state.SkipWithError("the word read failed");
        trips += link.Client().RoundTrips() - tripsBefore;
        clocks += link.ReceiverCounters().tckCycles - clocksBefore;
        ++polls;
    }
    state.counters["round_trips_per_poll"] = static_cast<double>(trips) / static_cast<double>(polls);
    state.counters["tck_per_poll"] = static_cast<double>(clocks) / static_cast<double>(polls);
}
BENCHMARK(BM_RemoteCommandWordPoll)->Arg(256)->Arg(4)->Unit(benchmark::kMillisecond)->Iterations(20);

#if !defined(_WIN32)
// A server program started for a benchmark, killed with it; its first line names where it listens.
class ServerProgram {
public:
    explicit ServerProgram(std::vector<std::string> argv) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], 1);
            std::vector<char*> args;
            for (std::string& a : argv) args.push_back(a.data());
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        std::FILE* out = ::fdopen(fds[0], "r");
        char line[256] = {};
        if (out && std::fgets(line, sizeof line, out)) address_ = line;
        const std::string prefix = "listening on ";
        address_ = address_.rfind(prefix, 0) == 0 ? address_.substr(prefix.size(), address_.size() - prefix.size() - 1) : "";
        out_ = out;
    }
    ~ServerProgram() {
        if (pid_ > 0) ::kill(pid_, SIGTERM), ::waitpid(pid_, nullptr, 0);
        if (out_) std::fclose(out_);
    }
    const std::string& Address() const { return address_; }

private:
    pid_t pid_ = -1;
    std::FILE* out_ = nullptr;
    std::string address_;
};

// A cable from the table, opened on a server program and wired in as the link's port.
struct CableLink {
    CableLink(const std::string& option, const std::string& address) {
        for (const cables::CableType* type : cables::CableTypes())
            if (option == type->option) {
                auto choice = type->parse(address);
                cables::CableSettings settings;
                settings.remoteTimeoutSeconds = 600;
                if (!choice) continue;
                auto opened = choice.Value()->Open(settings);
                if (opened) cable = std::move(opened).Value();
            }
        if (cable) link.emplace(cable->Access(), cable->Backend());
    }
    ~CableLink() {
        link.reset();
        if (cable) static_cast<void>(cable->Finish());
    }
    // The host's waits for an answer so far.
    std::uint64_t RoundTrips() const {
        if (auto* remote = dynamic_cast<RemoteBitbangClient*>(cable->Backend())) return remote->RoundTrips();
        return dynamic_cast<probe::ProbeClient&>(*cable->Backend()).RoundTrips();
    }
    std::unique_ptr<cables::Cable> cable;
    std::optional<LinkSession> link;
    orbvex::Link& Link() { return link->Link(); }
};

// A checked backup, a verify and a checked write of length bytes, the same on both sides:
// orbvex_probe --virtual and orbvex_receiver each serve the virtual receiver on loopback.
// Counted: the host's waits for an answer, and the backup's wall time.
void BM_ProbeAgainstRemoteBitbang(benchmark::State& state) {
    const auto length = static_cast<std::uint32_t>(state.range(0));
    const std::string rom = "bench_probe.rom", back = "bench_probe_back.bin";
    std::string image(length, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 2654435761u >> 13);
    std::ofstream(rom, std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));
    const std::string bin = ORBVEX_BIN_DIR;
    struct Side {
        const char* name;
        std::vector<std::string> program;
        const char* option;
    };
    const Side sides[] = {{"remote", {bin + "/orbvex_receiver", "--quiet"}, "--remote"},
                          {"probe", {bin + "/orbvex_probe", "--virtual", "--quiet"}, "--probe"}};
    for (auto _ : state) {
        double trips[2][3] = {}, backupSeconds[2] = {};
        for (int side = 0; side < 2; ++side) {
            ServerProgram server(sides[side].program);
            CableLink link(sides[side].option, server.Address());
            QuietWindow window;
            if (!link.cable || !RunStart(link.Link(), window, VirtualStart())) return state.SkipWithError("START failed");
            const auto cost = [&](auto operation) {
                const std::uint64_t before = link.RoundTrips();
                if (!operation()) state.SkipWithError(window.lastLine.c_str());
                return static_cast<double>(link.RoundTrips() - before);
            };
            RunErase(link.Link(), window, {kLpt1Base, kFlash1M});
            WriteInputs write{kLpt1Base, Answer(rom, kFlash1M)};
            write.trapChecks = true;
            trips[side][0] = cost([&] { return RunWrite(link.Link(), window, write); });
            VerifyInputs verify{kLpt1Base, kFlash1M.base, std::nullopt, kFlash1M.End(), rom};
            verify.checksumBase = kFlash1M.base;
            trips[side][1] = cost([&] { return RunVerify(link.Link(), window, verify).same; });
            RangeReadInputs read{kLpt1Base, kFlash1M.base, length, back};
            read.checksumBase = kFlash1M.base;
            const auto began = std::chrono::steady_clock::now();
            trips[side][2] = cost([&] { return RunReadRange(link.Link(), window, read); });
            backupSeconds[side] = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        }
        const char* what[] = {"checked_write", "verify", "checked_backup"};
        for (int op = 0; op < 3; ++op) {
            state.counters[std::string("remote_") + what[op]] = trips[0][op];
            state.counters[std::string("probe_") + what[op]] = trips[1][op];
            state.counters[std::string(what[op]) + "_share"] = trips[1][op] / trips[0][op];
        }
        state.counters["remote_backup_s"] = backupSeconds[0];
        state.counters["probe_backup_s"] = backupSeconds[1];
    }
    std::remove(rom.c_str());
    std::remove(back.c_str());
}
BENCHMARK(BM_ProbeAgainstRemoteBitbang)->Arg(0x20000)->Arg(0x100000)->Unit(benchmark::kSecond)->Iterations(1);
#endif

// In round trips: update, and writes and backups that leave out blank chunks and pages,
// against today's way on a 1 MB image (many minutes here).
void BM_RemoteFewerBytesAgainstToday(benchmark::State& state) {
    RemoteLink link;
    QuietWindow window;
    if (!RunStart(link.Link(), window, VirtualStart())) return state.SkipWithError("START failed");
    const std::string rom = "bench_remote_fewer.rom", back = "bench_remote_fewer_back.bin";
    CompareFewerBytes(
        state, link.Link(), window, rom, back, [&link] { return link.Client().RoundTrips(); },
        [&link](const std::vector<std::uint8_t>& image) { link.SetFlash(image); });
    std::remove(rom.c_str());
    std::remove(back.c_str());
}
BENCHMARK(BM_RemoteFewerBytesAgainstToday)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();

// SPDX-License-Identifier: GPL-2.0-or-later
// Whole-flash write and read on the virtual receiver: host time, TCK cycles and port
// accesses per flash byte, and what a real port at 1 us per access would take.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "link/jtag.h"
#include "link/dcu.h"
#include "ops/operations.h"
#include "port/kqportio.h"
#include "port/port_access.h"
#include "sim/virtual_receiver.h"
#include "against_today.h"
#include "fewer_bytes.h"
#include "quiet_window.h"

namespace {

std::uint32_t FastTicks() {
    static std::uint32_t now = 0;
    return now += 100;
}

struct Session {
    explicit Session(std::uint32_t flashSize) {
        orbvex::sim::ReceiverConfig config;
        config.flashSize = flashSize;
        receiver = std::make_unique<orbvex::sim::VirtualReceiver>(config);
        SetTickSource(&FastTicks);
        link.emplace(*access, receiver.get());
        const orbvex::FlashRange flash = flashSize == 0x200000 ? orbvex::kFlash2M : orbvex::kFlash1M;
        folder = std::filesystem::temp_directory_path() / ("orbvex-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        const std::string romPath = (folder / "image.rom").string();
        write = {orbvex::kLpt1Base, Answer(romPath, flash)};
        read = {orbvex::kLpt1Base, Answer((folder / "back.bin").string(), flash)};
        std::vector<char> rom(flashSize);
        std::mt19937 random(7);
        for (auto& b : rom) b = static_cast<char>(random());
        std::ofstream(romPath, std::ios::binary).write(rom.data(), static_cast<std::streamsize>(rom.size()));
        ok = orbvex::RunStart(link->Link(), window, VirtualStart());
    }
    ~Session() {
        link.reset();
        SetTickSource(nullptr);
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }

    std::unique_ptr<orbvex::sim::VirtualReceiver> receiver;
    std::unique_ptr<orbvex::PortAccess> access = orbvex::MakeUnrestrictedPortAccess();
    std::optional<orbvex::LinkSession> link;
    QuietWindow window;
    orbvex::WriteInputs write;
    orbvex::ReadInputs read;
    std::filesystem::path folder;
    bool ok = false;
};

void Report(benchmark::State& state, const orbvex::sim::ReceiverCounters& c, double bytes) {
    double accesses = static_cast<double>(c.portReads + c.portWrites);
    state.counters["tck_per_byte"] = static_cast<double>(c.tckCycles) / bytes;
    state.counters["port_accesses_per_byte"] = accesses / bytes;
    state.counters["real_port_s_at_1us"] = accesses * 1e-6;
    // DCU bytes sent per flash byte: about 1 per read of the range (with the length bytes).
    state.counters["reads_of_range"] = static_cast<double>(c.dcuBytesSent) / bytes;
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
}

// Runs operation once per iteration, after prepare, on freshly reset receiver counters.
template <typename Prepare, typename Operation>
void Measure(benchmark::State& state, std::uint32_t size, Prepare prepare, Operation operation) {
    Session session(size);
    if (!session.ok) {
        state.SkipWithError("START failed");
        return;
    }
    orbvex::sim::ReceiverCounters counters;
    for (auto _ : state) {
        state.PauseTiming();
        prepare(session);
        session.receiver->ResetCounters();
        state.ResumeTiming();
        if (!operation(session)) state.SkipWithError(session.window.lastLine.c_str());
        counters = session.receiver->Counters();
    }
    Report(state, counters, size);
    state.counters["tck"] = static_cast<double>(counters.tckCycles);
    state.counters["port_accesses"] = static_cast<double>(counters.portReads + counters.portWrites);
}

void BM_WriteFlash(benchmark::State& state) {
    Measure(
        state, static_cast<std::uint32_t>(state.range(0)), [](Session& s) { s.receiver->SetFlash({}); },
        [](Session& s) { return orbvex::RunWrite(s.link->Link(), s.window, s.write); });
}

// Arguments: flash size, passes, and whether one reply byte is turned on the way (the
// second pass then finds it and the block is read again).
void BM_ReadFlash(benchmark::State& state) {
    const int passes = static_cast<int>(state.range(1));
    const bool noisy = state.range(2) != 0;
    Measure(
        state, static_cast<std::uint32_t>(state.range(0)),
        [noisy](Session& s) { s.receiver->Faults().corruptReplyByte = noisy ? 100000 : -1; },
        [passes](Session& s) {
            s.read.passes = passes;
            return orbvex::RunRead(s.link->Link(), s.window, s.read);
        });
}

// In port accesses, on a 1 MB flash.
void BM_ChecksumsAgainstToday(benchmark::State& state) {
    Session s(0x100000);
    if (!s.ok) return state.SkipWithError("START failed");
    const auto accesses = [&s] { return s.receiver->Counters().portReads + s.receiver->Counters().portWrites; };
    CompareWithToday(state, s.link->Link(), s.window, (s.folder / "image.rom").string(), (s.folder / "back.bin").string(), 0x100000, accesses,
                     [&s] { s.receiver->SetFlash({}); });
}

// In port accesses: update, and writes and backups that leave out blank chunks and pages.
void BM_FewerBytesAgainstToday(benchmark::State& state) {
    Session s(0x100000);
    if (!s.ok) return state.SkipWithError("START failed");
    const auto accesses = [&s] { return s.receiver->Counters().portReads + s.receiver->Counters().portWrites; };
    CompareFewerBytes(state, s.link->Link(), s.window, (s.folder / "image.rom").string(), (s.folder / "back.bin").string(), accesses,
                      [&s](const std::vector<std::uint8_t>& image) { s.receiver->SetFlash(image); });
}

BENCHMARK(BM_FewerBytesAgainstToday)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// START alone: halt, upload the trap program, start it; its image's size sets most of
// the port accesses.
void BM_Start(benchmark::State& state) {
    orbvex::sim::ReceiverCounters counters;
    for (auto _ : state) {
        Session session(0x100000);
        if (!session.ok) state.SkipWithError("START failed");
        counters = session.receiver->Counters();
    }
    state.counters["port_accesses"] = static_cast<double>(counters.portReads + counters.portWrites);
    state.counters["tck"] = static_cast<double>(counters.tckCycles);
    std::ifstream image(ORBVEX_VIRTUAL_TRAP_IMAGE, std::ios::binary | std::ios::ate);
    state.counters["image_bytes"] = static_cast<double>(image.tellg());
}

BENCHMARK(BM_Start)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_ChecksumsAgainstToday)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_WriteFlash)->Arg(0x100000)->Arg(0x200000)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_ReadFlash)
    ->Args({0x100000, 1, 0})
    ->Args({0x200000, 1, 0})
    ->Args({0x100000, 2, 0})
    ->Args({0x100000, 3, 0})
    ->Args({0x100000, 2, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

// SPDX-License-Identifier: GPL-2.0-or-later
// The ATmega328P probe board, simulated cycle by cycle with its firmware, against the
// parallel port: a checked 1 MB backup and a checked 1 MB write (on erased flash), each
// with its START. The board's figure is its simulated time (cycles at 16 MHz, serial
// line held to 1,000,000 baud); the port's is its count of port accesses at 1 us each.
// What bounds the board: the pins (drains, start waits and data clocks) or the line (the
// bytes of requests and answers at ten bits each).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "ops/flash_range.h"
#include "ops/operations.h"
#include "port/kqportio.h"
#include "port/port_access.h"
#include "probe/probe_client.h"
#include "probe/sim/avr_board.h"
#include "sim/virtual_receiver.h"
#include "support/board_stream.h"
#include "quiet_window.h"

namespace {

using namespace orbvex;

constexpr std::uint32_t kMegabyte = 0x100000;
constexpr double kLineBytesPerSecond = 100000.0;  // 1,000,000 baud, ten bits a byte

std::string Rom() {
    const std::string path = "bench_probe_board.rom";
    std::string image(kMegabyte, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 2654435761u >> 13);
    std::ofstream(path, std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));
    return path;
}

// One operation on a fresh receiver after START, by a cost of the cable that drives it.
struct Measured {
    double seconds = 0;
    bool ok = false;
};

template <class Operation>
Measured OnPort(Operation operation) {
    sim::VirtualReceiver receiver;
    auto access = MakeUnrestrictedPortAccess();
    LinkSession link(*access, &receiver);
    QuietWindow window;
    const auto accesses = [&] { return receiver.Counters().portReads + receiver.Counters().portWrites; };
    const std::uint64_t before = accesses();
    Measured m;
    m.ok = RunStart(link.Link(), window, VirtualStart()) && operation(link.Link(), window);
    m.seconds = static_cast<double>(accesses() - before) * 1e-6;
    return m;
}

template <class Operation>
Measured OnBoard(Operation operation, std::uint64_t& lineBytes) {
    sim::VirtualReceiver receiver;
    probe::AvrBoard board(receiver);
    if (!board.Load(ORBVEX_PROBE_ELF)) return {};
    probe::ProbeClient client(std::make_unique<test::BoardStream>(board), 60000);
    if (!client.Hello()) return {};
    auto access = MakeUnrestrictedPortAccess();
    LinkSession link(*access, &client);
    QuietWindow window;
    const std::uint64_t before = board.Cycles(), sentBefore = board.BytesToHost(), heardBefore = board.BytesFromHost();
    Measured m;
    m.ok = RunStart(link.Link(), window, VirtualStart()) && operation(link.Link(), window);
    client.Sync();
    m.seconds = static_cast<double>(board.Cycles() - before) / probe::AvrBoard::kClockHz;
    lineBytes = board.BytesToHost() - sentBefore + board.BytesFromHost() - heardBefore;
    return m;
}

void Report(benchmark::State& state, const Measured& port, const Measured& board, std::uint64_t lineBytes) {
    if (!port.ok || !board.ok) state.SkipWithError("the operation failed");
    state.counters["board_s"] = board.seconds;
    state.counters["port_s_at_1us"] = port.seconds;
    // The line alone, both directions counted as if they could not overlap: when this
    // is near board_s, the line bounds the board; when far below, the pins do.
    state.counters["line_s"] = static_cast<double>(lineBytes) / kLineBytesPerSecond;
}

// START and a 1 MB backup checked block by block by the trap's checksums.
void BM_CheckedBackup1M(benchmark::State& state) {
    const std::string back = "bench_probe_board.bin";
    const auto backup = [&](Link& link, WindowServices& window) {
        RangeReadInputs read{kLpt1Base, kFlash1M.base, kMegabyte, back};
        read.passes = 1;
        read.checksumBase = kFlash1M.base;
        return RunReadRange(link, window, read);
    };
    for (auto _ : state) {
        std::uint64_t lineBytes = 0;
        const Measured board = OnBoard(backup, lineBytes);
        Report(state, OnPort(backup), board, lineBytes);
    }
    std::remove(back.c_str());
}
BENCHMARK(BM_CheckedBackup1M)->Unit(benchmark::kSecond)->Iterations(1);

// START and a 1 MB write on erased flash, each chunk checked by the trap's checksums.
void BM_CheckedWrite1M(benchmark::State& state) {
    const std::string rom = Rom();
    const auto write = [&](Link& link, WindowServices& window) {
        WriteInputs inputs{kLpt1Base, Answer(rom, kFlash1M)};
        inputs.trapChecks = true;
        return RunWrite(link, window, inputs);
    };
    for (auto _ : state) {
        std::uint64_t lineBytes = 0;
        const Measured board = OnBoard(write, lineBytes);
        Report(state, OnPort(write), board, lineBytes);
    }
    std::remove(rom.c_str());
}
BENCHMARK(BM_CheckedWrite1M)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();

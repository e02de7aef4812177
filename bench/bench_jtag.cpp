// SPDX-License-Identifier: GPL-2.0-or-later
// Host work per JTAG clock: the bit engine on a port backend that does nothing, so
// what is measured is the engine itself (plus one virtual call per port access, which
// the direct path replaces with a single in/out instruction).
#include <benchmark/benchmark.h>

#include "link/jtag.h"
#include "ops/link_session.h"
#include "port/port_access.h"
#include "port/kqportio.h"

namespace {

class NullPort final : public orbvex::PortBackend {
public:
    std::uint8_t Read(std::uint16_t) override {
        ++reads;
        return 0;
    }
    void Write(std::uint16_t, std::uint8_t) override { ++writes; }
    std::uint64_t reads = 0;
    std::uint64_t writes = 0;
};

// The link wired to the port as the programs wire it, with the reset line high.
struct Wired {
    explicit Wired(NullPort& port) : link(*access, &port) {
        ResetLineLevel = true;
        LastDataValue = 255;
    }
    std::unique_ptr<orbvex::PortAccess> access = orbvex::MakeUnrestrictedPortAccess();
    orbvex::LinkSession link;
};

void Report(benchmark::State& state, const NullPort& port) {
    const double clocks = static_cast<double>(state.iterations());
    state.counters["accesses/clock"] = static_cast<double>(port.reads + port.writes) / clocks;
    state.counters["writes/clock"] = static_cast<double>(port.writes) / clocks;
    state.counters["reads/clock"] = static_cast<double>(port.reads) / clocks;
    state.counters["clocks/s"] = benchmark::Counter(clocks, benchmark::Counter::kIsRate);
}

// The long start and acknowledge waits: same TMS/TDI every clock, TDO sampled.
void BM_ClockRepeatedSampled(benchmark::State& state) {
    NullPort port;
    Wired wired(port);
    for (auto _ : state) benchmark::DoNotOptimize(JtagStep(false, false, true));
    Report(state, port);
}
BENCHMARK(BM_ClockRepeatedSampled);

// Data bits that change every clock: three writes and a read.
void BM_ClockChangingSampled(benchmark::State& state) {
    NullPort port;
    Wired wired(port);
    bool tdi = false;
    for (auto _ : state) {
        tdi = !tdi;
        benchmark::DoNotOptimize(JtagStep(false, tdi, true));
    }
    Report(state, port);
}
BENCHMARK(BM_ClockChangingSampled);

// TAP walks and framing clocks: no sample.
void BM_ClockChangingUnsampled(benchmark::State& state) {
    NullPort port;
    Wired wired(port);
    bool tms = false;
    for (auto _ : state) {
        tms = !tms;
        JtagStep(tms, false, false);
    }
    Report(state, port);
}
BENCHMARK(BM_ClockChangingUnsampled);

// The engine without its spin (ClockDelay negative): what the spin itself costs.
void BM_ClockChangingSampledNoSpin(benchmark::State& state) {
    NullPort port;
    Wired wired(port);
    ClockDelay = -1;
    bool tdi = false;
    for (auto _ : state) {
        tdi = !tdi;
        benchmark::DoNotOptimize(JtagStep(false, tdi, true));
    }
    ClockDelay = 1;
    Report(state, port);
}
BENCHMARK(BM_ClockChangingSampledNoSpin);

}  // namespace

BENCHMARK_MAIN();

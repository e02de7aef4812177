// Host work per JTAG clock on the cables the kernel drives, each over its test stand-in
// (so the kernel's own time is not in the figure), and the system calls per clock that a
// real run pays on top: ppdev makes one ioctl per port access; GPIO makes one multi-line
// set per data-register write that changes a line and one read per TDO sample.
#include <benchmark/benchmark.h>

#include <string>

#include "link/jtag.h"
#include "port/gpio_cable.h"
#include "port/kqportio.h"
#include "port/ppdev_cable.h"
#include "support/gpiod_standin.h"
#include "support/ppdev_standin.h"

namespace {

using namespace orbvex;

// The clock patterns of the direct-path benchmark: the long waits repeat TMS/TDI and
// sample; data transfers change TDI and sample; TAP walks change TMS without sampling.
enum class Pattern { RepeatedSampled, ChangingSampled, ChangingUnsampled };

void RunClocks(benchmark::State& state, PortBackend& cable, Pattern pattern) {
    LptBase = 0x378;
    ClockDelay = 1;
    ResetLineLevel = true;
    LastDataValue = 255;
    SetPortBackend(&cable);
    bool flip = false;
    for (auto _ : state) {
        flip = !flip;
        switch (pattern) {
            case Pattern::RepeatedSampled: benchmark::DoNotOptimize(JtagStep(false, false, true)); break;
            case Pattern::ChangingSampled: benchmark::DoNotOptimize(JtagStep(false, flip, true)); break;
            case Pattern::ChangingUnsampled: JtagStep(flip, false, false); break;
        }
    }
    SetPortBackend(nullptr);
}

double PerClock(const benchmark::State& state, std::uint64_t count) {
    return static_cast<double>(count) / static_cast<double>(state.iterations());
}

void BM_PpdevClock(benchmark::State& state, Pattern pattern) {
    PpdevStandIn device;
    device.record = false;
    std::string error;
    auto cable = PpdevCable::Open(device, device.device, error);
    if (!cable) {
        state.SkipWithError(error.c_str());
        return;
    }
    const std::uint64_t opening = device.ioctls;
    RunClocks(state, *cable, pattern);
    state.counters["syscalls/clock"] = PerClock(state, device.ioctls - opening);
}

void BM_GpioClock(benchmark::State& state, Pattern pattern) {
    GpiodStandIn gpio;
    gpio.record = false;
    gpio.AddChip("gpiochip0", 28);
    std::string error;
    auto cable = GpioCable::Open(gpio, {"gpiochip0", 11, 25, 10, 9, 24u}, error);
    if (!cable) {
        state.SkipWithError(error.c_str());
        return;
    }
    RunClocks(state, *cable, pattern);
    state.counters["syscalls/clock"] = PerClock(state, gpio.sets + gpio.gets);
    state.counters["line_sets/clock"] = PerClock(state, gpio.sets);
    state.counters["tdo_reads/clock"] = PerClock(state, gpio.gets);
}

BENCHMARK_CAPTURE(BM_PpdevClock, RepeatedSampled, Pattern::RepeatedSampled);
BENCHMARK_CAPTURE(BM_PpdevClock, ChangingSampled, Pattern::ChangingSampled);
BENCHMARK_CAPTURE(BM_PpdevClock, ChangingUnsampled, Pattern::ChangingUnsampled);
BENCHMARK_CAPTURE(BM_GpioClock, RepeatedSampled, Pattern::RepeatedSampled);
BENCHMARK_CAPTURE(BM_GpioClock, ChangingSampled, Pattern::ChangingSampled);
BENCHMARK_CAPTURE(BM_GpioClock, ChangingUnsampled, Pattern::ChangingUnsampled);

}  // namespace

BENCHMARK_MAIN();

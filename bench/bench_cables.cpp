// SPDX-License-Identifier: GPL-2.0-or-later
// Host work per JTAG clock on the cables the kernel drives, each over its test stand-in
// (so the kernel's own time is not in the figure), and the system calls per clock that a
// real run pays on top: ppdev makes one ioctl per port access; GPIO makes one multi-line
// set per data-register write that changes a line and one read per TDO sample. Then
// the USB transfers each operation costs on an FTDI cable in either mode.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

#include "link/jtag.h"
#include "port/ftdi_cable.h"
#include "port/gpio_cable.h"
#include "port/kqportio.h"
#include "port/ppdev_cable.h"
#include "sim/virtual_receiver.h"
#include "support/ftdi_standin.h"
#include "support/gpiod_standin.h"
#include "support/ppdev_standin.h"
#include "quiet_window.h"

namespace {

using namespace orbvex;

// The clock patterns of the direct-path benchmark: the long waits repeat TMS/TDI and
// sample; data transfers change TDI and sample; TAP walks change TMS without sampling.
enum class Pattern { RepeatedSampled,
                     ChangingSampled,
                     ChangingUnsampled };

void RunClocks(benchmark::State& state, PortBackend& cable, Pattern pattern) {
    LptBase = 0x378;
    ClockDelay = 1;
    ResetLineLevel = true;
    LastDataValue = 255;
    PortHook = &cable;
    bool flip = false;
    for (auto _ : state) {
        flip = !flip;
        switch (pattern) {
        case Pattern::RepeatedSampled: benchmark::DoNotOptimize(JtagStep(false, false, true)); break;
        case Pattern::ChangingSampled: benchmark::DoNotOptimize(JtagStep(false, flip, true)); break;
        case Pattern::ChangingUnsampled: JtagStep(flip, false, false); break;
        }
    }
    PortHook = nullptr;
}

double PerClock(const benchmark::State& state, std::uint64_t count) {
    return static_cast<double>(count) / static_cast<double>(state.iterations());
}

void BM_PpdevClock(benchmark::State& state, Pattern pattern) {
    PpdevStandIn device;
    device.record = false;
    auto opened = PpdevCable::Open(device, device.device);
    if (!opened) {
        state.SkipWithError(opened.Error().c_str());
        return;
    }
    auto& cable = opened.Value();
    const std::uint64_t opening = device.ioctls;
    RunClocks(state, *cable, pattern);
    state.counters["syscalls/clock"] = PerClock(state, device.ioctls - opening);
}

void BM_GpioClock(benchmark::State& state, Pattern pattern) {
    GpiodStandIn gpio;
    gpio.record = false;
    gpio.AddChip("gpiochip0", 28);
    auto opened = GpioCable::Open(gpio, {"gpiochip0", 11, 25, 10, 9, 24u});
    if (!opened) {
        state.SkipWithError(opened.Error().c_str());
        return;
    }
    auto& cable = opened.Value();
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

// USB transfers per operation on an FTDI cable, the chip played by the stand-in over the
// virtual receiver: transfers out (each a batch of commands or pin states) and reads
// that brought answers (each a round trip the link waited for).
void BM_FtdiTransfers(benchmark::State& state, FtdiChip chip) {
    sim::VirtualReceiver receiver;
    FtdiStandIn usb;
    usb.devices = {{{0x0403, 0x6014, "bench", "B1"}, chip}};
    usb.WireTo(receiver);
    auto opened = FtdiCable::Open(usb, {});
    if (!opened) return state.SkipWithError(opened.Error().c_str());
    auto& cable = opened.Value();
    auto access = MakeUnrestrictedPortAccess();
    LinkSession link(*access, cable.get());
    QuietWindow window;
    constexpr std::uint32_t kBytes = 4096;
    const std::string rom = "/tmp/orbvex-bench-ftdi.rom", back = "/tmp/orbvex-bench-ftdi.bin";
    std::ofstream(rom, std::ios::binary) << std::string(kBytes, '\x5A');
    auto count = [&](const std::string& name, double per, const std::function<bool()>& operation) {
        const std::uint64_t writes = usb.writes, reads = usb.reads;
        if (!operation()) state.SkipWithError((name + " failed: " + window.lastLine).c_str());
        state.counters[name + "_out"] = static_cast<double>(usb.writes - writes) / per;
        state.counters[name + "_in"] = static_cast<double>(usb.reads - reads) / per;
    };
    for (auto _ : state) {
        count("start", 1, [&] { return RunStart(link.Link(), window, VirtualStart()); });
        count("erase", 1, [&] { return RunErase(link.Link(), window, {kLpt1Base, kFlash1M}); });
        count("written_byte", kBytes, [&] { return RunWrite(link.Link(), window, {kLpt1Base, Answer(rom, kFlash1M)}); });
        count("read_byte", kBytes, [&] { return RunReadRange(link.Link(), window, {kLpt1Base, kFlash1M.base, kBytes, back}); });
    }
    std::remove(rom.c_str());
    std::remove(back.c_str());
}

BENCHMARK_CAPTURE(BM_FtdiTransfers, Mpsse, FtdiChip::Ft232H)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FtdiTransfers, SyncBitbang, FtdiChip::Ft232R)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

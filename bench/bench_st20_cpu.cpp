// SPDX-License-Identifier: GPL-2.0-or-later
// The ST20 interpreter's speed in instructions per second, on two loops that stand for
// what the receiver's CPU spends its time on: a trap's idle loop polling its command
// word, and a copy loop with 16-bit device stores like a program loop's.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "sim/st20_cpu.h"

namespace {

constexpr std::uint32_t kRam = 0x80000000;

class RamBus : public orbvex::sim::St20Bus {
public:
    std::vector<std::uint8_t> ram = std::vector<std::uint8_t>(0x10000, 0);
    std::uint16_t device = 0;

    std::uint8_t ReadByte(std::uint32_t) override { return 0; }
    void WriteByte(std::uint32_t, std::uint8_t) override {}
    std::uint16_t ReadHalf(std::uint32_t) override { return device; }
    void WriteHalf(std::uint32_t, std::uint16_t v) override { device = v; }
    std::uint32_t ReadWord(std::uint32_t) override { return 0; }
    void WriteWord(std::uint32_t, std::uint32_t) override {}
    orbvex::sim::St20RamWindow Ram() override { return {kRam, ram.data(), static_cast<std::uint32_t>(ram.size())}; }
};

void RunLoop(benchmark::State& state, const std::vector<std::uint8_t>& code) {
    RamBus bus;
    std::copy(code.begin(), code.end(), bus.ram.begin());
    bus.ram[0x8005] = 0x10;  // word 1 of the workspace: 0x80001000
    bus.ram[0x8007] = 0x80;
    orbvex::sim::St20Cpu cpu(&bus);
    cpu.Start(kRam, kRam + 0x8000);
    for (auto _ : state) {
        // As the receiver runs it: 20 instructions per clock.
        for (int i = 0; i < 50000; ++i) cpu.Run(20);
    }
    if (cpu.Stopped()) state.SkipWithError("the loop stopped");
    state.SetItemsProcessed(static_cast<std::int64_t>(cpu.Executed()));
}

// idle: ldl 0; cj idle  (the command word stays 0)
void BM_IdleLoop(benchmark::State& state) { RunLoop(state, {0x70, 0x60, 0xAD}); }

// loop: ldl 1 (a pointer into the buffer); lb; ldc #100; devss; ldl 1; adc 1; stl 1; j loop
void BM_DeviceStoreLoop(benchmark::State& state) {
    RunLoop(state, {0x71, 0xF1, 0x21, 0x20, 0x40, 0x2F, 0xF3, 0x71, 0x81, 0xD1, 0x60, 0x04});
}

BENCHMARK(BM_IdleLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeviceStoreLoop)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

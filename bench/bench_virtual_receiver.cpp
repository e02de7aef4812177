// SPDX-License-Identifier: GPL-2.0-or-later
// Cost of the virtual receiver per port access, driven the way a host drives the cable
// (status read before the rising edge, data write only when TMS/TDI change, TCK up and
// down), over the two messages that dominate a flash write and read-back.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "port/port_backend.h"
#include "sim/virtual_receiver.h"

namespace {

using orbvex::sim::VirtualReceiver;

class BenchCable {
public:
    explicit BenchCable(orbvex::PortBackend& port) : port_(port) {}

    bool Step(bool tms, bool tdi, bool sample) {
        const bool tdo = sample && (port_.Read(0x379) & 0x10) != 0;
        const std::uint8_t v = static_cast<std::uint8_t>((tms ? 1 : 0) | (tdi ? 4 : 0) | 8);
        if (v != last_) {
            port_.Write(0x378, v);
            last_ = v;
        }
        port_.Write(0x378, static_cast<std::uint8_t>(v | 2));
        port_.Write(0x378, v);
        return tdo;
    }

    void SelectDcu() {
        for (int i = 0; i < 5; ++i) Step(true, false, false);
        Step(false, false, false);
        for (bool tms : {true, true, false, false}) Step(tms, false, false);
        for (int i = 0; i < 5; ++i) Step(i == 4, i == 4, false);
        for (bool tms : {true, true, false, false}) Step(tms, false, false);
    }

    bool Send(std::uint8_t b) {
        Step(false, false, false);
        Step(false, true, false);
        Step(false, true, false);
        bool prev = false, ack = false;
        for (int i = 0; i < 8; ++i) {
            const bool s = Step(false, (b >> i) & 1, true);
            ack = ack || (s && !prev);
            prev = s;
        }
        unsigned w = 0;
        for (int i = 0; !ack && i < 64; ++i) {
            w = ((w << 1) | Step(false, false, true)) & 7;
            ack = w == 2;
        }
        Step(false, false, false);
        return ack;
    }

    bool Receive(std::uint8_t* b) {
        unsigned w = 0;
        for (int n = 0; n < 2024 && w != 3; ++n) w = ((w << 1) | Step(false, false, true)) & 7;
        if (w != 3) return false;
        *b = 0;
        for (int i = 0; i < 8; ++i) *b = static_cast<std::uint8_t>(*b | (Step(false, i == 4, true) << i));
        return true;
    }

    void Drain() {
        std::uint8_t b;
        while (Receive(&b)) {
        }
    }

    int ReadBlock(std::uint32_t a, std::uint8_t* out) {
        Drain();
        Send(1);
        for (int i = 0; i < 4; ++i) Send(static_cast<std::uint8_t>(a >> (8 * i)));
        std::uint8_t len = 0;
        Receive(&len);
        const int n = (len & 0xFC) ? (len & 0xFC) : 256;
        for (int i = 0; i < n; ++i) Receive(out + i);
        return n;
    }

    void WriteBlock(std::uint32_t a, const std::uint8_t* data, int n) {
        Drain();
        Step(false, false, false);
        Step(false, true, false);
        Step(false, false, false);
        Send(static_cast<std::uint8_t>(n & 0xFC));
        for (int i = 0; i < 4; ++i) Send(static_cast<std::uint8_t>(a >> (8 * i)));
        for (int i = 0; i < n; ++i) Send(data[i]);
    }

private:
    orbvex::PortBackend& port_;
    std::uint8_t last_ = 0xFF;
};

void SetAccessCounters(benchmark::State& state, VirtualReceiver& r, double bytesPerMessage) {
    const auto c = r.Counters();
    const double accesses = static_cast<double>(c.portReads + c.portWrites);
    state.counters["accesses_per_msg"] = benchmark::Counter(accesses / static_cast<double>(state.iterations()));
    state.counters["ns_per_access"] =
        benchmark::Counter(accesses, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["bytes"] = benchmark::Counter(bytesPerMessage * static_cast<double>(state.iterations()),
                                                 benchmark::Counter::kIsRate);
}

void BM_VirtualBlockRead256(benchmark::State& state) {
    VirtualReceiver r;
    BenchCable cable(r);
    cable.SelectDcu();
    std::vector<std::uint8_t> buf(256);
    r.ResetCounters();
    for (auto _ : state) benchmark::DoNotOptimize(cable.ReadBlock(0x80001000, buf.data()));
    SetAccessCounters(state, r, 256);
}
BENCHMARK(BM_VirtualBlockRead256);

void BM_VirtualBlockWrite252(benchmark::State& state) {
    VirtualReceiver r;
    BenchCable cable(r);
    cable.SelectDcu();
    std::vector<std::uint8_t> buf(252, 0x5A);
    r.ResetCounters();
    for (auto _ : state) cable.WriteBlock(0x80001000, buf.data(), 252);
    SetAccessCounters(state, r, 252);
}
BENCHMARK(BM_VirtualBlockWrite252);

}  // namespace

BENCHMARK_MAIN();

// Block reads and writes over the DCU protocol: TCK cycles and port accesses per
// block next to what the protocol itself calls for, and host time per byte moved.
#include <benchmark/benchmark.h>

#include <vector>

#include "link/dcu.h"
#include "link/jtag.h"
#include "port/kqportio.h"
#include "tests/link/dcu_responder.h"

namespace {

// What the protocol calls for, clock by clock, with a target that acknowledges every
// byte during its data clocks and starts each reply byte at once (start wait 0,1,1).
class ProtocolModel {
public:
    void Drain() { Idle(StartWaitLimit); }  // nothing pending: one failed receive
    void Preamble() { Raw({0, 1, 0}); }
    void Send(const std::vector<std::uint8_t>& bytes) {
        for (std::uint8_t byte : bytes) {
            Raw({0, 1, 1});
            for (int b = 0; b < 8; ++b) clocks_.push_back({((byte >> b) & 1u) != 0, true});
            Raw({0});
        }
    }
    void Receive(int count) {
        for (int i = 0; i < count; ++i) {
            Idle(3);
            for (int b = 0; b < 8; ++b) clocks_.push_back({b == 4, true});
        }
    }

    std::size_t Clocks() const { return clocks_.size(); }
    // One status read per sampled clock; two data writes per clock, plus one wherever
    // TDI differs from the clock before (TMS and the reset line stay put in Shift-DR).
    std::size_t Accesses() const {
        std::size_t reads = 0, changes = 0;
        bool previous = false;
        for (const ClockSpec& c : clocks_) {
            reads += c.sampled;
            changes += c.tdi != previous;
            previous = c.tdi;
        }
        return reads + 2 * clocks_.size() + changes;
    }

private:
    struct ClockSpec {
        bool tdi;
        bool sampled;
    };
    void Raw(std::initializer_list<int> tdi) {
        for (int b : tdi) clocks_.push_back({b != 0, false});
    }
    void Idle(int n) {
        for (int i = 0; i < n; ++i) clocks_.push_back({false, true});
    }

    std::vector<ClockSpec> clocks_;
};

class CountingTap final : public orbvex::PortBackend {
public:
    explicit CountingTap(orbvex::PortBackend& target) : target_(target) {}
    std::uint8_t Read(std::uint16_t port) override {
        ++reads;
        return target_.Read(port);
    }
    void Write(std::uint16_t port, std::uint8_t value) override {
        ++writes;
        if (!(last_ & 0x02) && (value & 0x02)) ++clocks;
        last_ = value;
        target_.Write(port, value);
    }
    std::uint64_t reads = 0, writes = 0, clocks = 0;

private:
    orbvex::PortBackend& target_;
    std::uint8_t last_ = 0;
};

void PrepareLink(orbvex::PortBackend& backend) {
    LptBase = 0x378;
    ClockDelay = 1;
    StartWaitLimit = 2024;
    orbvex::SetPortBackend(&backend);
    JtagSetTrst(true);
    SelectDcu();
}

void ReportPerBlock(benchmark::State& state, const CountingTap& tap, const ProtocolModel& model,
                    std::size_t bytesPerBlock) {
    const double blocks = static_cast<double>(state.iterations());
    state.counters["tck/block"] = static_cast<double>(tap.clocks) / blocks;
    state.counters["tck/block(protocol)"] = static_cast<double>(model.Clocks());
    state.counters["accesses/block"] = static_cast<double>(tap.reads + tap.writes) / blocks;
    state.counters["accesses/block(protocol)"] = static_cast<double>(model.Accesses());
    state.counters["bytes"] = benchmark::Counter(blocks * static_cast<double>(bytesPerBlock),
                                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    orbvex::SetPortBackend(nullptr);
}

std::vector<std::uint8_t> LittleEndian(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

void BM_BlockRead256(benchmark::State& state) {
    linktest::DcuResponder target;
    target.recordClocks = false;
    CountingTap tap(target);
    PrepareLink(tap);
    std::uint8_t buffer[256];
    const std::uint32_t address = 0x7FF00000;
    tap.reads = tap.writes = tap.clocks = 0;
    for (auto _ : state) {
        if (DcuReadBlock(address, buffer) != 256) state.SkipWithError("read failed");
    }
    std::vector<std::uint8_t> request = {0x01};
    for (auto b : LittleEndian(address)) request.push_back(b);
    ProtocolModel model;
    model.Drain();
    model.Send(request);
    model.Receive(1 + 256);
    ReportPerBlock(state, tap, model, 256);
}
BENCHMARK(BM_BlockRead256);

void BM_BlockWrite252(benchmark::State& state) {
    linktest::DcuResponder target;
    target.recordClocks = false;
    CountingTap tap(target);
    PrepareLink(tap);
    std::vector<std::uint8_t> data(252);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 13);
    const std::uint32_t address = 0x80001000;
    tap.reads = tap.writes = tap.clocks = 0;
    for (auto _ : state) {
        if (DcuWriteBlock(address, data.data(), 252) != 252) state.SkipWithError("write failed");
    }
    std::vector<std::uint8_t> message = {252};
    for (auto b : LittleEndian(address)) message.push_back(b);
    message.insert(message.end(), data.begin(), data.end());
    ProtocolModel model;
    model.Drain();
    model.Preamble();
    model.Send(message);
    ReportPerBlock(state, tap, model, 252);
}
BENCHMARK(BM_BlockWrite252);

}  // namespace

BENCHMARK_MAIN();

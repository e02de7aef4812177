// SPDX-License-Identifier: GPL-2.0-or-later
// Block reads and writes over the DCU protocol against the virtual receiver: TCK
// cycles and port accesses per block next to what the protocol itself calls for (they
// must be equal: the host adds nothing of its own), and time per byte moved (host and
// virtual receiver together).
#include <benchmark/benchmark.h>

#include <vector>

#include "link/dcu.h"
#include "link/jtag.h"
#include "ops/link_session.h"
#include "port/kqportio.h"
#include "port/port_access.h"
#include "sim/dcu_link.h"
#include "sim/virtual_receiver.h"

namespace {

// What the protocol calls for, clock by clock, with a target that acknowledges every
// byte during its data clocks and starts each reply byte at once (start wait 0,1,1),
// after a turnaround of a few quiet clocks between request and reply.
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
    void Receive(int count, int startWait = 3) {
        for (int i = 0; i < count; ++i) {
            Idle(startWait);
            for (int b = 0; b < 8; ++b) clocks_.push_back({b == 4, true});
        }
    }

    std::size_t Clocks() const { return clocks_.size(); }
    // One status read per sampled clock; two data writes per clock, plus one wherever
    // TDI differs from the clock before (TMS and the reset line stay put in Shift-DR).
    std::size_t Accesses() const {
        std::size_t reads = 0, changes = 0;
        bool previous = false;
        for (const PlannedClock& c : clocks_) {
            reads += c.sampled;
            changes += c.tdi != previous;
            previous = c.tdi;
        }
        return reads + 2 * clocks_.size() + changes;
    }

private:
    struct PlannedClock {
        bool tdi;
        bool sampled;
    };
    void Raw(std::initializer_list<int> tdi) {
        for (int b : tdi) clocks_.push_back({b != 0, false});
    }
    void Idle(int n) {
        for (int i = 0; i < n; ++i) clocks_.push_back({false, true});
    }

    std::vector<PlannedClock> clocks_;
};

// The link wired to the target as the programs wire it, reset line high, DCU selected.
struct Wired {
    explicit Wired(orbvex::PortBackend& backend) : link(*access, &backend) {
        JtagSetTrst(true);
        SelectDcu();
    }
    std::unique_ptr<orbvex::PortAccess> access = orbvex::MakeUnrestrictedPortAccess();
    orbvex::LinkSession link;
};

// The receiver's own counters, against the model.
void ReportPerBlock(benchmark::State& state, const orbvex::sim::VirtualReceiver& target,
                    const ProtocolModel& model, std::size_t bytesPerBlock) {
    const double blocks = static_cast<double>(state.iterations());
    const orbvex::sim::ReceiverCounters counted = target.Counters();
    state.counters["tck/block"] = static_cast<double>(counted.tckCycles) / blocks;
    state.counters["tck/block(protocol)"] = static_cast<double>(model.Clocks());
    state.counters["accesses/block"] =
        static_cast<double>(counted.portReads + counted.portWrites) / blocks;
    state.counters["accesses/block(protocol)"] = static_cast<double>(model.Accesses());
    state.counters["time/byte"] = benchmark::Counter(blocks * static_cast<double>(bytesPerBlock),
                                                     benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

std::vector<std::uint8_t> LittleEndian(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

void BM_BlockRead256(benchmark::State& state) {
    orbvex::sim::VirtualReceiver target;
    Wired wired(target);
    std::uint8_t buffer[256];
    const std::uint32_t address = 0x7FF00000;
    target.ResetCounters();
    for (auto _ : state) {
        if (DcuReadBlock(address, buffer) != 256) {
            state.SkipWithError("read failed");
            break;
        }
    }
    std::vector<std::uint8_t> request = {0x01};
    for (auto b : LittleEndian(address)) request.push_back(b);
    ProtocolModel model;
    model.Drain();
    model.Send(request);
    // The turnaround's first quiet clock falls on the host's trailing clock.
    model.Receive(1, 3 + orbvex::sim::DcuLink::kTurnaroundClocks - 1);
    model.Receive(256);
    ReportPerBlock(state, target, model, 256);
}
BENCHMARK(BM_BlockRead256);

void BM_BlockWrite252(benchmark::State& state) {
    orbvex::sim::VirtualReceiver target;
    Wired wired(target);
    std::vector<std::uint8_t> data(252);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 13);
    const std::uint32_t address = 0x80001000;
    target.ResetCounters();
    for (auto _ : state) {
        if (DcuWriteBlock(address, data.data(), 252) != 252) {
            state.SkipWithError("write failed");
            break;
        }
    }
    std::vector<std::uint8_t> message = {252};
    for (auto b : LittleEndian(address)) message.push_back(b);
    message.insert(message.end(), data.begin(), data.end());
    ProtocolModel model;
    model.Drain();
    model.Preamble();
    model.Send(message);
    ReportPerBlock(state, target, model, 252);
}
BENCHMARK(BM_BlockWrite252);

}  // namespace

BENCHMARK_MAIN();

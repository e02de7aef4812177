// SPDX-License-Identifier: GPL-2.0-or-later
// A cable with a round trip gets its clocks driven ahead of their samples. The target
// must see exactly the pins of a cable that answers at once, whatever it does, in a
// fifth of the round trips, and be held in reset for the whole 100 ms of each JtagInit.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

#include "ops/receiver_fixture.h"
#include "support/deferring_cable.h"
#include "support/ftdi_standin.h"
#include "support/probe_loopback.h"
#ifdef ORBVEX_PROBE_ELF
#include "support/board_stream.h"
#endif

namespace orbvex::test {
namespace {

using namespace std::chrono_literals;

class SameSession : public ReceiverTest {};

TEST_F(SameSession, ClocksDrivenAheadReachTheTargetAsTheSequentialPinsInAFifthOfTheRoundTrips) {
    ChooseRom(RandomBytes(1001, 3));
    auto session = [this](PortBackend& cable) {  // START, erase, an odd-sized write, START again, a ranged read
        link.emplace(*access, &cable);
        Start();
        Erase();
        Write();
        Start();
        RunReadRange(link->Link(), window, {kLpt1Base, 0x7FF00321, 777, PathIn("range.bin")});
        link.reset();
    };
    const std::function<void(sim::VirtualReceiver&)> rows[] = {
        [](sim::VirtualReceiver&) {},  // healthy, and in real time
        [](sim::VirtualReceiver& r) { r.Config().ack = sim::AckTiming::Late; },
        [](sim::VirtualReceiver& r) { r.Config().busyPulsesBeforeReply = 2; },
        [](sim::VirtualReceiver& r) { r.Faults().tdoStuck = sim::TdoStuck::High; },
        [](sim::VirtualReceiver& r) { r.Faults().tdoStuck = sim::TdoStuck::Low; },
        [](sim::VirtualReceiver& r) { r.Faults().noAckAfterBytes = 2000; },
        [](sim::VirtualReceiver& r) { r.Faults().shortReplyAfter = 100; },
    };
    for (const auto& set : rows) {
        const auto row = "row " + std::to_string(&set - rows);
        sim::VirtualReceiver atOnceTarget, aheadTarget, probeTarget;
        set(atOnceTarget);
        set(aheadTarget);
        set(probeTarget);
        PinRecorder atOnce(atOnceTarget), aheadPins(aheadTarget), probePins(probeTarget);
        DeferringCable ahead(aheadPins);
        InProcessProbe probe(probePins);  // the messages run next to the target
        ASSERT_TRUE(probe.hello) << probe.helloError;
        session(atOnce);
        session(probe.client);
        EXPECT_EQ(probePins.changes, atOnce.changes) << row << " through the probe";
        EXPECT_EQ(probePins.fingerprint, atOnce.fingerprint) << row << " through the probe";
#ifdef ORBVEX_PROBE_ELF
        {  // the probe's firmware on the simulated ATmega328P board
            sim::VirtualReceiver boardTarget;
            set(boardTarget);
            PinRecorder boardPins(boardTarget);
            probe::AvrBoard board(boardPins);
            const Status loaded = board.Load(ORBVEX_PROBE_ELF);
            ASSERT_TRUE(loaded) << loaded.Error();
            probe::ProbeClient client(std::make_unique<BoardStream>(board), 10000);
            const Status hello = client.Hello();
            ASSERT_TRUE(hello) << hello.Error();
            session(client);
            client.Sync();  // the release, sent ahead, has reached the pins
            EXPECT_EQ(boardPins.changes, atOnce.changes) << row << " through the board";
            EXPECT_EQ(boardPins.fingerprint, atOnce.fingerprint) << row << " through the board";
        }
#endif
        const bool timed = &set == &rows[0];
        if (timed) SetTickSource(nullptr);
        session(ahead);
        SetTickSource(&FastTicks);

        EXPECT_EQ(aheadPins.changes, atOnce.changes) << row;
        EXPECT_EQ(aheadPins.fingerprint, atOnce.fingerprint) << row;
        EXPECT_LE(ahead.roundTrips * 5, atOnceTarget.Counters().portReads) << row;
        if (!timed) continue;
        EXPECT_EQ(ahead.resetMoves.size(), 11u);  // five JtagInit, then the release
        for (std::size_t up = 1; up < ahead.resetMoves.size(); up += 2)
            EXPECT_GE(ahead.resetMoves[up] - ahead.resetMoves[up - 1], 100ms) << "reset " << up / 2;
    }
}

}  // namespace
}  // namespace orbvex::test

// SPDX-License-Identifier: GPL-2.0-or-later
// The probe firmware in the simulated board: the four DCU messages drive the pins the
// host's sequential engine drives for the same calls, with the same results, healthy or
// faulty; damaged, unknown and malformed requests get error answers; a host at another
// rate is followed.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <string>

#include "link/dcu.h"
#include "link/jtag.h"
#include "ops/link_session.h"
#include "remote/remote_bitbang_client.h"
#include "remote/remote_bitbang_server.h"
#include "port/port_access.h"
#include "avr/probe_board.h"
#include "sim/virtual_receiver.h"
#include "support/ftdi_standin.h"

namespace orbvex::test {
namespace {

const std::uint32_t kRam = 0x80000200;

struct Results {
    bool halted = false;
    std::uint32_t control = 0;
    std::int32_t written = 0;
    std::int32_t read = 0;
    Bytes block;
    bool operator==(const Results& o) const {
        return halted == o.halted && control == o.control && written == o.written && read == o.read && block == o.block;
    }
};

Bytes Data() {
    Bytes data(13);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(0x31 * i + 7);
    return data;
}

// The script through the host's own engine, sample by sample.
Results BySequentialEngine(PortBackend& target) {
    auto access = MakeUnrestrictedPortAccess();
    LinkSession link(*access, &target);
    Results r;
    JtagSetTrst(true);
    r.halted = DcuWriteWord(0x3004, 0x80000000);
    DcuReadWord(0x3004, r.control);
    const Bytes data = Data();
    r.written = DcuWriteBlock(kRam, data.data(), static_cast<std::uint8_t>(data.size()));
    r.block.assign(256, 0);
    r.read = DcuReadBlock(kRam, r.block.data());
    r.block.resize(static_cast<std::size_t>(r.read));
    link.Close();
    return r;
}

// The same calls handed to the probe whole.
Results ByProbe(PortBackend& target, std::uint32_t tckHz) {
    ProbeBoard probe(target);
    Results r;
    EXPECT_TRUE(probe.Ask(0x01, {}).whole);
    if (tckHz) {  // a slower clock: the same pins, spaced out
        Bytes rate;
        PutU32(rate, tckHz);
        const Answer clock = probe.Ask(0x02, rate);
        EXPECT_TRUE(clock.whole && clock.body.size() == 4);
        const std::uint32_t now = clock.body[0] | (clock.body[1] << 8) | (clock.body[2] << 16) | (std::uint32_t{clock.body[3]} << 24);
        EXPECT_LE(now, tckHz);
        EXPECT_GT(now, tckHz / 2);
    }
    EXPECT_TRUE(probe.Ask(0x03, {1, 0, 0}).whole);
    Bytes word = Head(true, 0x3004);
    PutU32(word, 0x80000000);
    r.halted = probe.Ask(0x13, word).body.at(0) == 1;
    const Answer control = probe.Ask(0x11, Head(false, 0x3004));
    if (control.body.at(0)) r.control = control.body[1] | (control.body[2] << 8) | (control.body[3] << 16) | (std::uint32_t{control.body[4]} << 24);
    Bytes block = Head(false, kRam);
    const Bytes data = Data();
    block.push_back(static_cast<std::uint8_t>(data.size()));
    block.insert(block.end(), data.begin(), data.end());
    r.written = probe.Ask(0x12, block).body.at(0);
    const Answer read = probe.Ask(0x10, Head(false, kRam));
    EXPECT_TRUE(read.whole);
    const std::size_t slots = read.body.size() - 5;
    r.read = read.U16(1 + slots + 2);
    if (r.read) r.block.assign(read.body.begin() + 1, read.body.begin() + 1 + r.read);
    probe.Ask(0x03, {0, 0, 0});  // the release that closes the engine's session
    EXPECT_EQ(probe.board.Overruns(), 0u);
    return r;
}

TEST(ProbeFirmware, DrivesTheSequentialEnginesPinsWithItsResultsHealthyOrFaulty) {
    const std::function<void(sim::VirtualReceiver&)> rows[] = {
        [](sim::VirtualReceiver&) {},
        [](sim::VirtualReceiver& r) { r.Config().ack = sim::AckTiming::Late; },
        [](sim::VirtualReceiver& r) { r.Config().busyPulsesBeforeReply = 2; },
        [](sim::VirtualReceiver& r) { r.Config().replyLengthOutsideFlash = 4; },
        [](sim::VirtualReceiver& r) { r.Faults().tdoStuck = sim::TdoStuck::High; },
        [](sim::VirtualReceiver& r) { r.Faults().tdoStuck = sim::TdoStuck::Low; },
        [](sim::VirtualReceiver& r) { r.Faults().noAckAfterBytes = 20; },
        [](sim::VirtualReceiver& r) { r.Faults().shortReplyAfter = 100; },
        [](sim::VirtualReceiver& r) { r.Faults().dcuSilent = true; },
    };
    for (const auto& set : rows) {
        const auto row = "row " + std::to_string(&set - rows);
        sim::VirtualReceiver engineTarget, probeTarget;
        set(engineTarget);
        set(probeTarget);
        PinRecorder enginePins(engineTarget), probePins(probeTarget);
        const Results engine = BySequentialEngine(enginePins);
        const Results probe = ByProbe(probePins, 0);
        EXPECT_TRUE(engine == probe) << row;
        EXPECT_EQ(probePins.changes, enginePins.changes) << row;
        EXPECT_EQ(probePins.fingerprint, enginePins.fingerprint) << row;
        sim::VirtualReceiver slowTarget;  // and at 400 kHz
        set(slowTarget);
        PinRecorder slowPins(slowTarget);
        EXPECT_TRUE(engine == ByProbe(slowPins, 400000)) << row << " at 400 kHz";
        EXPECT_EQ(slowPins.fingerprint, enginePins.fingerprint) << row << " at 400 kHz";
        if (&set == &rows[0]) {
            EXPECT_TRUE(probe.halted);
            EXPECT_EQ(probe.read, 256);
            const Bytes data = Data();  // the whole words of it: the command announces 12
            EXPECT_TRUE(std::equal(data.begin(), data.begin() + 12, probe.block.begin()));
        }
    }
}

TEST(ProbeFirmware, AnswersWhatItCannotServeWithAnErrorAndServesOnAfterIt) {
    sim::VirtualReceiver target;
    ProbeBoard probe(target);
    const Answer hello = probe.Ask(0x01, {});
    ASSERT_TRUE(hello.whole);
    EXPECT_EQ(hello.type, 0x81);
    EXPECT_EQ(hello.body.at(0), 1);            // version
    EXPECT_GE(hello.U16(2), 270);              // receive buffer
    EXPECT_GE(hello.U16(4), 262);              // largest body
    EXPECT_EQ(hello.body.at(8) & 0x0B, 0x0B);  // RAW, RESET, the messages
    EXPECT_EQ(hello.body.size(), 14u + hello.body.at(13));

    struct Case {
        const char* what;
        Bytes bytes;
        std::uint8_t code;
    };
    Bytes damaged = Frame(1, 0x01, {});
    damaged[6] ^= 0x40;  // the check
    Bytes shortWrite = Head(false, kRam);
    shortWrite.push_back(8);  // announces 8 data bytes, carries none
    const Case cases[] = {
        {"check", damaged, 1},
        {"start byte", {0x5A, 1, 1, 1, 0, 0, 0, 0}, 1},
        {"version", Frame(1, 0x01, {}, 2), 2},
        {"type", Frame(1, 0x42, {}), 3},
        {"length", Frame(1, 0x12, shortWrite), 4},
        {"reset level", Frame(1, 0x03, {3, 0, 0}), 4},
    };
    for (const auto& c : cases) {
        const Answer error = ParseAnswer(probe.Exchange(c.bytes));
        ASSERT_TRUE(error.whole) << c.what;
        EXPECT_EQ(error.type, 0xFF) << c.what;
        EXPECT_EQ(error.body.at(0), c.code) << c.what;
        // The probe still serves, at the same rate.
        const Answer again = probe.Ask(0x01, {});
        EXPECT_TRUE(again.whole && again.type == 0x81) << c.what;
    }
}

TEST(ProbeFirmware, TheWatchdogBringsBackABoardThatLocksUpMidMessage) {
    sim::VirtualReceiver target;
    ProbeBoard probe(target);
    ASSERT_TRUE(probe.Ask(0x01, {}).whole);
    const std::uint64_t resets = probe.board.Resets();
    const Bytes read = Frame(1, 0x10, Head(true, 0x80000000));
    probe.board.HostSend(read.data(), read.size());
    probe.board.Run(16000 * 5);  // 5 ms in: draining
    ASSERT_FALSE(probe.board.Idle());
    probe.board.HangHere();
    const std::uint64_t hung = probe.board.Cycles();
    probe.board.Run(16000000ull * 5);  // the board asleep again, waiting for a host
    EXPECT_TRUE(probe.board.Idle());
    EXPECT_EQ(probe.board.Resets(), resets + 1);
    EXPECT_LT(probe.board.Cycles() - hung, 16000000ull);  // within a second
    probe.board.TakeReceived();
    const Answer hello = ParseAnswer(probe.Exchange(Frame(0, 0x01, {})));
    EXPECT_TRUE(hello.whole && hello.type == 0x81);
}

TEST(ProbeFirmware, FollowsAHostAtAnotherRateAndStaysSilentUntilThen) {
    sim::VirtualReceiver target;
    ProbeBoard probe(target);
    probe.board.SetHostBaud(115200);
    int tries = 0;
    Answer hello;
    while (!hello.whole && tries < 6) {  // the host says HELLO again until it is answered
        ++tries;
        const std::string heard = probe.Exchange(Frame(0, 0x01, {}));
        EXPECT_TRUE(heard.empty() || (hello = ParseAnswer(heard)).whole) << "try " << tries;
    }
    EXPECT_TRUE(hello.whole);
    EXPECT_EQ(tries, 3);  // 1,000,000, then 500,000, then 115,200
    EXPECT_EQ(probe.board.FirmwareBaud(), 117647u);
}

// ReadIdcode as one raw run through the probe: TAP reset, instruction 2, Shift-DR, 32
// bits out; the IDCODE it captured.
std::uint32_t RawIdcode(ProbeBoard& probe) {
    probe.Ask(0x03, {1, 0, 0});
    const std::string tms =
        "111110"
        "1100"
        "00001"
        "1"
        "100" +
        std::string(31, '0') + "1" + "1";
    const std::string tdi =
        "000000"
        "0000"
        "01000"
        "0"
        "000" +
        std::string(32, '0') + "0";
    const std::string capture =
        "000000"
        "0000"
        "11111"
        "0"
        "000" +
        std::string(32, '1') + "0";
    const std::size_t clocks = tms.size();
    Bytes body{static_cast<std::uint8_t>(clocks), static_cast<std::uint8_t>(clocks >> 8), 0};
    for (const std::string* field : {&tms, &tdi, &capture}) {
        Bytes bits((clocks + 7) / 8);
        for (std::size_t i = 0; i < clocks; ++i)
            if ((*field)[i] == '1') bits[i / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
        body.insert(body.end(), bits.begin(), bits.end());
    }
    const Answer raw = probe.Ask(0x04, body);
    probe.Ask(0x03, {0, 0, 0});
    EXPECT_TRUE(raw.whole);
    EXPECT_EQ(raw.body.size(), 5u);  // 37 samples
    std::uint64_t samples = 0;
    for (std::size_t i = 0; i < raw.body.size() && i < 8; ++i) samples |= std::uint64_t{raw.body[i]} << (8 * i);
    return static_cast<std::uint32_t>(samples >> 5);
}

TEST(ProbeFirmware, RunsRawClocksCapturingWhereAsked) {
    sim::VirtualReceiver engineTarget, probeTarget;
    PinRecorder enginePins(engineTarget), probePins(probeTarget);
    std::uint32_t idcode = 0;
    {
        auto access = MakeUnrestrictedPortAccess();
        LinkSession link(*access, &enginePins);
        JtagSetTrst(true);
        idcode = ReadIdcode();
    }
    ProbeBoard probe(probePins);
    EXPECT_EQ(RawIdcode(probe), idcode);
    EXPECT_EQ(idcode, engineTarget.Config().idcode);
    EXPECT_EQ(probePins.fingerprint, enginePins.fingerprint);
}

// The board's pins on a remote bit-bang server: a write for each change of the lines,
// an 'R' for each read of TDO.
TEST(ProbeFirmware, DrivesARemoteBitbangTarget) {
    sim::VirtualReceiver served;
    sim::ReceiverConfig config;
    config.idcode = 0x2A5B6C7D;
    served.Config() = config;
    net::Listener listener;
    net::Endpoint where;
    where.host = "127.0.0.1";
    const Status listening = listener.Open(where);
    ASSERT_TRUE(listening) << listening.Error();
    std::atomic<bool> stop{false};
    std::thread server([&] { ServeRemoteBitbang(listener, served, &stop, [](ServerEvent e) { return !ClientGone(e); }); });
    {
        RemoteBitbangClient client(net::Connect(listener.Bound()).Value());
        ProbeBoard probe(client);
        EXPECT_EQ(RawIdcode(probe), 0x2A5B6C7Du);
        client.Quit();
    }
    stop = true;
    server.join();
    EXPECT_EQ(served.Counters().portReads, 37u);
}

}  // namespace
}  // namespace orbvex::test

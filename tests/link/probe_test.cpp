// SPDX-License-Identifier: GPL-2.0-or-later
// The probe protocol between the host's cable and a probe in this process: what each side
// does with a frame it cannot trust, and that no fault on the way back becomes a byte in
// a file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "ops/receiver_fixture.h"
#include "support/probe_loopback.h"

namespace orbvex::test {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using namespace probe;

TEST(ProbeFrames, TheCheckIsTheDocumentedCrc) {
    const char* text = "123456789";
    EXPECT_EQ(Crc16(reinterpret_cast<const std::uint8_t*>(text), 9), 0x29B1);
}

// Every frame in bytes rebuilt after change has had its way with it (the check made anew).
void Reframe(std::vector<std::uint8_t>& bytes, const std::function<void(Frame&)>& change) {
    FrameReader reader;
    std::vector<std::uint8_t> out;
    std::size_t at = 0;
    while (at < bytes.size()) {
        std::size_t used = 0;
        if (reader.Feed(bytes.data() + at, bytes.size() - at, used) != FrameReader::Status::Complete) break;
        at += used;
        Frame frame = reader.Current();
        change(frame);
        AppendFrame(frame, out);
    }
    bytes = out;
}

struct WayBackFault {
    const char* name;
    LoopbackStream::Tamper tamper;  // applied to the answers from the tenth block read on
    const char* cause;
};

class ProbeFaults : public ReceiverTest {};

TEST_F(ProbeFaults, AFaultOnTheWayBackFailsTheReadWithItsCauseAndSavesNothing) {
    const WayBackFault rows[] = {
        {"a flipped bit", [](std::vector<std::uint8_t>& a, std::size_t) { a[a.size() / 2] ^= 0x10; },
         "the probe's answer is damaged"},
        {"noise", [](std::vector<std::uint8_t>& a, std::size_t) { std::fill(a.begin(), a.end(), 0x5A); },
         "the probe's answer is damaged"},
        {"another version", [](std::vector<std::uint8_t>& a, std::size_t) { Reframe(a, [](Frame& f) { f.version = 2; }); },
         "the probe speaks protocol version 2, this program speaks version 1"},
        {"an answer cut short", [](std::vector<std::uint8_t>& a, std::size_t) { a.resize(a.size() / 2); },
         "the probe stopped in the middle of an answer"},
        {"a count that disagrees",
         [](std::vector<std::uint8_t>& a, std::size_t) { Reframe(a, [](Frame& f) { f.body.back() ^= 4; }); },
         "the probe's answer is damaged"},
        {"an answer out of turn",
         [](std::vector<std::uint8_t>& a, std::size_t) { Reframe(a, [](Frame& f) { ++f.sequence; }); },
         "the probe's answer is damaged"},
    };
    for (const WayBackFault& row : rows) {
        int blockReads = 0;
        sim::VirtualReceiver target;
        InProcessProbe probe(
            target,
            [&](std::vector<std::uint8_t>& answer, std::size_t passed) {
                if (answer.size() > 3 && answer[3] == (kReadBlock | kAnswerBit) && ++blockReads >= 10) row.tamper(answer, passed);
            },
            300);
        ASSERT_TRUE(probe.hello) << probe.helloError;
        link.emplace(*access, &probe.client);
        ASSERT_TRUE(Start()) << row.name;
        const auto began = std::chrono::steady_clock::now();
        EXPECT_FALSE(RunReadRange(link->Link(), window, {kLpt1Base, 0x7FF00000, 0x4000, PathIn("range.bin")})) << row.name;
        EXPECT_LT(std::chrono::steady_clock::now() - began, 5s) << row.name;
        EXPECT_TRUE(probe.client.Failed()) << row.name;
        EXPECT_THAT(probe.client.FailureReason(), HasSubstr(row.cause)) << row.name;
        EXPECT_FALSE(std::filesystem::exists(PathIn("range.bin"))) << row.name;
        link.reset();
    }
}

TEST_F(ProbeFaults, AProbeThatLostItsCableSaysSoAndTheWriteStops) {
    bool armed = false;
    int requests = 0;
    sim::VirtualReceiver target;
    InProcessProbe probe(target, {}, 10000, [&]() -> Status {
        if (armed && ++requests > 50) return Failure("the FTDI chip went away");
        return {};
    });
    link.emplace(*access, &probe.client);
    ASSERT_TRUE(Start());
    armed = true;
    ChooseRom(RandomBytes(0x10000, 7));
    EXPECT_FALSE(Write());
    EXPECT_EQ(probe.client.FailureReason(), "the probe lost its cable: the FTDI chip went away");
    link.reset();
}

// Requests whose answers decide nothing go ahead of their answers, never more than the
// probe's window: a board with room for one request must never be sent a second.
TEST_F(ProbeFaults, RequestsGoAheadUpToTheWindowAndNoFurther) {
    for (const std::uint8_t window : {1, 2, 8}) {
        Abilities abilities = InProcessProbeAbilities();
        abilities.window = window;
        sim::VirtualReceiver target;
        InProcessProbe probe(target, {}, 10000, {}, abilities);
        link.emplace(*access, &probe.client);
        EXPECT_TRUE(Start());
        link.reset();
        EXPECT_LE(probe.stream->mostInFlight, window) << "window " << int{window};
        EXPECT_GE(probe.stream->mostInFlight, std::min<std::size_t>(window, 2)) << "window " << int{window};
    }
}

// Samples asked for with no clock between them each come back, in order.
TEST(ProbeSamples, SamplesWithoutClocksBetweenThemEachComeBack) {
    sim::VirtualReceiver target;
    target.Faults().tdoStuck = sim::TdoStuck::Low;
    InProcessProbe probe(target);
    for (int i = 0; i < 3; ++i) probe.client.RequestRead(kLpt1Base + 1);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(probe.client.TakeRead(), 0) << "sample " << i;
    EXPECT_EQ(probe.client.Read(kLpt1Base + 1), 0);
    EXPECT_FALSE(probe.client.Failed()) << probe.client.FailureReason();
}

TEST(ProbeHello, AProbeOfAnotherVersionIsRefusedNamingBoth) {
    sim::VirtualReceiver target;
    InProcessProbe probe(target, [](std::vector<std::uint8_t>& a, std::size_t) { Reframe(a, [](Frame& f) { f.version = 3; }); });
    EXPECT_FALSE(probe.hello);
    EXPECT_EQ(probe.helloError, "the probe speaks protocol version 3, this program speaks version 1");
}

// Only our board's own firmware, at a version below this program's, is said to be old.
TEST(ProbeHello, OnlyOurBoardsOlderFirmwareIsToldToBeReplaced) {
    const std::string ours = PROBE_FIRMWARE_NAME " ";
    const int now = PROBE_FIRMWARE_VERSION;
    EXPECT_EQ(probe::OlderFirmwareNotice(ours + std::to_string(now - 1)).rfind("the probe runs firmware version " + std::to_string(now - 1) + ", older than this program's " + std::to_string(now) + ": put this program's " PROBE_FIRMWARE_NAME ".hex on the board", 0),
              0u);
    for (const std::string& name : {ours + std::to_string(now), ours + std::to_string(now + 1), ours, ours + "x",
                                    ours + "00000", std::string("orbvex_probe --virtual"), std::string()})
        EXPECT_EQ(probe::OlderFirmwareNotice(name), "") << name;
}

// What a probe answers to requests it must not run, and whether it keeps the connection.
TEST(ProbeServerRefusals, EachRequestItCannotTrustIsAnsweredWithItsErrorAndRunsNothing) {
    struct Row {
        const char* name;
        std::function<void(std::vector<std::uint8_t>&)> request;  // a frame's bytes, to change
        std::uint8_t code;
        bool keepsConnection;
    };
    auto frame = [](std::uint8_t type, std::vector<std::uint8_t> body, std::uint8_t version = kProtocolVersion) {
        std::vector<std::uint8_t> bytes;
        AppendFrame(Frame{version, 7, type, std::move(body)}, bytes);
        return bytes;
    };
    std::vector<std::uint8_t> tooLong(1 + 4 + 4 + 1 + 253, 0);
    tooLong[9] = 253;
    const Row rows[] = {
        {"an unknown type", [&](auto& b) { b = frame(0x55, {}); }, kUnknownRequest, true},
        {"a run past the largest", [&](auto& b) { b = frame(kRaw, {0x01, 0x10, 0, 0, 0, 0}); }, kBadRequest, true},
        {"a block write of 253 bytes", [&](auto& b) { b = frame(kWriteBlock, tooLong); }, kBadRequest, true},
        {"a short block read", [&](auto& b) { b = frame(kReadBlock, {0, 0xE8, 0x07, 0, 0}); }, kBadRequest, true},
        {"a reset to level 3", [&](auto& b) { b = frame(kReset, {3, 0, 0}); }, kBadRequest, true},
        {"a damaged check", [&](auto& b) { b = frame(kHello, {}), b.back() ^= 1; }, kDamaged, false},
        {"another version", [&](auto& b) { b = frame(kHello, {}, 2); }, kOtherVersion, false},
    };
    for (const Row& row : rows) {
        sim::VirtualReceiver target;
        ProbeServer server(EngineOn(target), InProcessProbeAbilities());
        std::vector<std::uint8_t> request, answer;
        row.request(request);
        EXPECT_EQ(server.Take(request.data(), request.size(), answer), row.keepsConnection) << row.name;
        FrameReader reader;
        std::size_t used = 0;
        ASSERT_EQ(reader.Feed(answer.data(), answer.size(), used), FrameReader::Status::Complete) << row.name;
        EXPECT_EQ(reader.Current().type, kError) << row.name;
        EXPECT_EQ(reader.Current().body.at(0), row.code) << row.name;
        EXPECT_EQ(target.Counters().portReads, 0u) << row.name;
    }
}

}  // namespace
}  // namespace orbvex::test

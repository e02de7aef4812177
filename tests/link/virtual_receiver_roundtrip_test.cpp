// The link against the virtual receiver, two sides written apart: whatever one side
// gets wrong about the framing shows here as a failed or garbled round trip.
#include <gtest/gtest.h>

#include <random>

#include "link/dcu.h"
#include "link/jtag.h"
#include "port/kqportio.h"
#include "sim/virtual_receiver.h"

namespace {

using orbvex::sim::AckTiming;
using orbvex::sim::TdoStuck;
using orbvex::sim::VirtualReceiver;

class RoundTrip : public ::testing::TestWithParam<AckTiming> {
protected:
    void SetUp() override {
        target.Config().ack = GetParam();
        LptBase = 0x378;
        ClockDelay = 1;
        StartWaitLimit = 2024;
        JtagSelected = false;
        orbvex::SetPortBackend(&target);
        JtagSetTrst(true);
    }
    void TearDown() override { orbvex::SetPortBackend(nullptr); }

    VirtualReceiver target;
};

TEST_P(RoundTrip, IdcodeThenWordsAndBlocksThroughTheDcu) {
    EXPECT_EQ(ReadIdcode(), target.Config().idcode);

    EXPECT_TRUE(DcuWriteWord(0x80000100, 0xA1B2C3D4));
    EXPECT_EQ(target.PeekWord(0x80000100), 0xA1B2C3D4u);
    std::uint32_t word = 0;
    EXPECT_TRUE(DcuReadWord(0x80000100, word));
    EXPECT_EQ(word, 0xA1B2C3D4u);

    std::mt19937 random(20261207);
    std::vector<std::uint8_t> data(252);
    for (auto& b : data) b = static_cast<std::uint8_t>(random());
    EXPECT_EQ(DcuWriteBlock(0x80002000, data.data(), 252), 252);
    std::uint8_t back[256] = {};
    ASSERT_EQ(DcuReadBlock(0x80002000, back), 256);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), back));
}

TEST_P(RoundTrip, BusyPulsesBeforeTheReplyAreWaitedOut) {
    target.Config().busyPulsesBeforeReply = 3;
    target.PokeWord(0x80000010, 0x0BADCAFE);
    std::uint32_t word = 0;
    EXPECT_TRUE(DcuReadWord(0x80000010, word));
    EXPECT_EQ(word, 0x0BADCAFEu);
}

TEST_P(RoundTrip, NoCableFailsEveryMessage) {
    for (TdoStuck stuck : {TdoStuck::Low, TdoStuck::High}) {
        target.Faults().tdoStuck = stuck;
        EXPECT_EQ(ReadIdcode(), stuck == TdoStuck::High ? 0xFFFFFFFFu : 0u);
        std::uint32_t word = 1;
        EXPECT_FALSE(DcuReadWord(0x80000000, word));
        EXPECT_EQ(word, 0u);
        EXPECT_FALSE(DcuWriteWord(0x80000000, 5));
    }
}

INSTANTIATE_TEST_SUITE_P(BothAckTimings, RoundTrip, ::testing::Values(AckTiming::Early, AckTiming::Late),
                         [](const auto& info) { return info.param == AckTiming::Early ? "Early" : "Late"; });

}  // namespace

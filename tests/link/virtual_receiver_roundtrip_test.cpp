// SPDX-License-Identifier: GPL-2.0-or-later
// The link against the virtual receiver, two sides written apart: whatever one side
// gets wrong about the framing shows here as a failed or garbled round trip.
#include <gtest/gtest.h>

#include <random>

#include "sim/virtual_receiver.h"
#include "test_cable.h"

namespace {

using orbvex::sim::AckTiming;

class RoundTrip : public linktest::LinkTest<orbvex::sim::VirtualReceiver>,
                  public ::testing::WithParamInterface<AckTiming> {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        target.Config().ack = GetParam();
        JtagSetTrst(true);
    }
};

TEST_P(RoundTrip, IdcodeThenWordsAndBlocksThroughTheDcuBusyOrNot) {
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
    target.Config().busyPulsesBeforeReply = 3;  // a busy DCU pulses 0,1,0 before its reply
    std::uint8_t back[256] = {};
    ASSERT_EQ(DcuReadBlock(0x80002000, back), 256);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), back));
}

INSTANTIATE_TEST_SUITE_P(BothAckTimings, RoundTrip, ::testing::Values(AckTiming::Early, AckTiming::Late),
                         [](const auto& info) { return info.param == AckTiming::Early ? "Early" : "Late"; });

}  // namespace

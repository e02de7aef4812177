// The DCU's byte framing and messages, driven by the tests' own cable.
#include <gtest/gtest.h>

#include <vector>

#include "test_cable.h"

namespace {

using orbvex::sim::AckTiming;
using orbvex::sim::DcuMessageRecord;
using orbvex::sim::ReceiverConfig;
using orbvex::sim::VirtualReceiver;
using simtest::TestCable;

constexpr std::uint32_t kRam = 0x80000000;

class DcuBothAckTimings : public ::testing::TestWithParam<AckTiming> {
protected:
    DcuBothAckTimings() : receiver_(Config()), cable_(receiver_) { cable_.SelectDcu(); }
    static ReceiverConfig Config() {
        ReceiverConfig c;
        c.ack = GetParam();
        return c;
    }
    VirtualReceiver receiver_;
    TestCable cable_;
};

TEST_P(DcuBothAckTimings, ByteFramingCostsTwelveClocksEarlyFifteenLate) {
    cable_.Drain();
    bool early = false;
    const long before = cable_.clocks;
    EXPECT_TRUE(cable_.SendByte(0x01, &early));
    EXPECT_EQ(early, GetParam() == AckTiming::Early);
    EXPECT_EQ(cable_.clocks - before, GetParam() == AckTiming::Early ? 12 : 15);
}

TEST_P(DcuBothAckTimings, WordWriteAndReadRoundTrip) {
    EXPECT_TRUE(cable_.WriteWord(kRam + 0x100, 0xCAFEF00D));
    EXPECT_EQ(receiver_.PeekWord(kRam + 0x100), 0xCAFEF00Du);
    std::uint32_t word = 0;
    EXPECT_TRUE(cable_.ReadWord(kRam + 0x100, &word));
    EXPECT_EQ(word, 0xCAFEF00Du);
}

TEST_P(DcuBothAckTimings, BlockWriteOf252AndBlockReadOf256) {
    std::vector<std::uint8_t> data(252);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 3);
    EXPECT_TRUE(cable_.WriteBlock(kRam + 0x1000, data));
    std::vector<std::uint8_t> back;
    EXPECT_EQ(cable_.ReadBlock(kRam + 0x1000, &back), 256);
    ASSERT_EQ(back.size(), 256u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin()));
}

TEST_P(DcuBothAckTimings, BusyPulsesBeforeTheReplyRestartTheHostsWait) {
    receiver_.Config().busyPulsesBeforeReply = 3;
    receiver_.PokeWord(kRam, 0x11223344);
    std::uint32_t word = 0;
    EXPECT_TRUE(cable_.ReadWord(kRam, &word));
    EXPECT_EQ(word, 0x11223344u);
    EXPECT_EQ(cable_.busyPulses, 3);
}

TEST_P(DcuBothAckTimings, LongBusyGapsKeepTheReplyPending) {
    // Each gap is shorter than the host's start budget, their sum much longer.
    receiver_.Config().busyPulsesBeforeReply = 2;
    receiver_.Config().busyGapClocks = 2000;
    receiver_.PokeWord(kRam, 0x55AA55AA);
    std::uint32_t word = 0;
    EXPECT_TRUE(cable_.ReadWord(kRam, &word));
    EXPECT_EQ(word, 0x55AA55AAu);
    EXPECT_EQ(cable_.busyPulses, 2);
}

INSTANTIATE_TEST_SUITE_P(Ack, DcuBothAckTimings, ::testing::Values(AckTiming::Early, AckTiming::Late),
                         [](const ::testing::TestParamInfo<AckTiming>& info) {
                             return info.param == AckTiming::Early ? "Early" : "Late";
                         });

class Dcu : public ::testing::Test {
protected:
    Dcu() : cable_(receiver_) { cable_.SelectDcu(); }
    VirtualReceiver receiver_;
    TestCable cable_;
};

TEST_F(Dcu, ReplyLengthByteFollowsTheSetting) {
    for (int length : {4, 8, 252, 256}) {
        receiver_.Config().replyBlockLength = length;
        cable_.Drain();
        cable_.SendByte(0x01);
        for (int i = 0; i < 4; ++i) cable_.SendByte(0);
        std::uint8_t lengthByte = 0xAA;
        ASSERT_TRUE(cable_.ReceiveByte(&lengthByte));
        EXPECT_EQ(lengthByte, length & 0xFF);
        std::vector<std::uint8_t> block;
        EXPECT_EQ(cable_.ReadBlock(kRam, &block), length);
    }
}

TEST_F(Dcu, BlockWriteStoresOnlyTheAnnouncedMultipleOfFour) {
    receiver_.RecordMessages(true);
    EXPECT_TRUE(cable_.WriteBlock(kRam + 0x200, {1, 2, 3, 4, 5, 6})) << "the extra bytes are acknowledged";
    EXPECT_EQ(receiver_.PeekWord(kRam + 0x200), 0x04030201u);
    EXPECT_EQ(receiver_.PeekWord(kRam + 0x204), 0u) << "bytes past length & 0xFC are dropped";

    EXPECT_TRUE(cable_.WriteBlock(kRam + 0x300, {9, 9, 9}));
    EXPECT_EQ(receiver_.PeekWord(kRam + 0x300), 0u);

    const auto& m = receiver_.Messages();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].kind, DcuMessageRecord::Kind::Write);
    EXPECT_EQ(m[0].address, kRam + 0x200);
    EXPECT_EQ(m[0].command, 0x04);
    EXPECT_EQ(m[0].dataBytes, 6u);
    EXPECT_EQ(m[1].command, 0x00);
    EXPECT_EQ(m[1].dataBytes, 3u);
}

TEST_F(Dcu, DroppedBytesNeverBecomeTheNextCommand) {
    // The extra byte 0x01 looks like a read command; after the host's drain it must not be one.
    EXPECT_TRUE(cable_.WriteBlock(kRam + 0x400, {0xEF, 0xBE, 0xAD, 0xDE, 0x01}));
    receiver_.PokeWord(kRam + 0x500, 0x5A5A5A5A);
    std::uint32_t word = 0;
    EXPECT_TRUE(cable_.ReadWord(kRam + 0x500, &word));
    EXPECT_EQ(word, 0x5A5A5A5Au);
    EXPECT_EQ(receiver_.PeekWord(kRam + 0x400), 0xDEADBEEFu);
}

TEST_F(Dcu, WriteWithoutPreambleIsRefused) {
    EXPECT_FALSE(cable_.WriteWord(kRam + 0x40, 0x12345678, /*preamble=*/false));
    EXPECT_EQ(receiver_.PeekWord(kRam + 0x40), 0u);
    EXPECT_TRUE(cable_.WriteWord(kRam + 0x40, 0x12345678));
    EXPECT_EQ(receiver_.PeekWord(kRam + 0x40), 0x12345678u);
}

TEST_F(Dcu, StrayBytesAreForgottenAfterALongQuietTdi) {
    // Half a read request, then silence longer than any gap inside a message.
    cable_.SendByte(0x01);
    cable_.SendByte(0x40);
    cable_.Idle(1100);
    receiver_.PokeWord(kRam + 0x80, 0x0BADCAFE);
    std::uint32_t word = 0;
    EXPECT_TRUE(cable_.ReadWord(kRam + 0x80, &word));
    EXPECT_EQ(word, 0x0BADCAFEu);
}

TEST_F(Dcu, ShortGapsInsideAMessageAreNotAResync) {
    cable_.Drain();
    cable_.Preamble();
    cable_.SendByte(0x04);
    cable_.Idle(200);
    for (std::uint8_t b : {0x10, 0x00, 0x00, 0x80}) cable_.SendByte(b);
    cable_.Idle(200);
    for (std::uint8_t b : {0x78, 0x56, 0x34, 0x12}) EXPECT_TRUE(cable_.SendByte(b));
    EXPECT_EQ(receiver_.PeekWord(kRam + 0x10), 0x12345678u);
}

TEST_F(Dcu, UnreadReplyIsDrainedByTheNextMessage) {
    receiver_.PokeWord(kRam + 0x20, 0xA1B2C3D4);
    cable_.Drain();
    cable_.SendByte(0x01);
    for (std::uint8_t b : {0x00, 0x00, 0x00, 0x80}) cable_.SendByte(b);
    std::uint8_t length;
    ASSERT_TRUE(cable_.ReceiveByte(&length));
    std::uint8_t first;
    ASSERT_TRUE(cable_.ReceiveByte(&first));
    // The host walks away mid-reply; the next message starts with a drain.
    std::uint32_t word = 0;
    EXPECT_TRUE(cable_.ReadWord(kRam + 0x20, &word));
    EXPECT_EQ(word, 0xA1B2C3D4u);
}

TEST_F(Dcu, ResetLineDropsAPendingReplyButLeavesTheCpuAlone) {
    cable_.WriteWord(0x3004, 0x80000000);
    cable_.WriteWord(kRam + 4, 0x13579BDF);
    cable_.Drain();
    cable_.SendByte(0x01);
    for (int i = 0; i < 4; ++i) cable_.SendByte(0);
    cable_.SetReset(false);
    cable_.SetReset(true);
    cable_.SelectDcu();
    EXPECT_EQ(cable_.Drain(), 0);
    EXPECT_TRUE(receiver_.CpuHalted());
    EXPECT_EQ(receiver_.PeekWord(kRam + 4), 0x13579BDFu);
}

TEST_F(Dcu, ReadsOfRegistersAndUnmappedSpace) {
    std::uint32_t word = 0xFFFFFFFF;
    EXPECT_TRUE(cable_.ReadWord(0x3000, &word));
    EXPECT_TRUE(cable_.ReadWord(0x10000000, &word));
    EXPECT_EQ(word, 0u) << "unmapped space reads zeros and the DCU keeps answering";
    EXPECT_TRUE(cable_.WriteWord(0x10000000, 0x1234));
    EXPECT_TRUE(cable_.ReadWord(0x10000000, &word));
    EXPECT_EQ(word, 0u);
}

TEST_F(Dcu, HaltBitTakesAndReadsBack) {
    EXPECT_FALSE(receiver_.CpuHalted());
    EXPECT_TRUE(cable_.WriteWord(0x3004, 0x80000000));
    EXPECT_TRUE(receiver_.CpuHalted());
    std::uint32_t word = 0;
    EXPECT_TRUE(cable_.ReadWord(0x3004, &word));
    EXPECT_EQ(word, 0x80000000u);
}

TEST_F(Dcu, ReadRequestAndWriteAreRecorded) {
    receiver_.RecordMessages(true);
    std::uint32_t word;
    cable_.ReadWord(0x3000, &word);
    cable_.WriteWord(0x2030, 0x16D1);
    const auto& m = receiver_.Messages();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].kind, DcuMessageRecord::Kind::Read);
    EXPECT_EQ(m[0].address, 0x3000u);
    EXPECT_EQ(m[0].command, 0x01);
    EXPECT_EQ(m[0].dataBytes, 256u);
    EXPECT_EQ(m[1].kind, DcuMessageRecord::Kind::Write);
    EXPECT_EQ(m[1].dataBytes, 4u);
    receiver_.ClearMessages();
    EXPECT_TRUE(receiver_.Messages().empty());
    receiver_.RecordMessages(false);
    cable_.ReadWord(0x3000, &word);
    EXPECT_TRUE(receiver_.Messages().empty());
}

// Fault switches.

TEST_F(Dcu, SilentDcuNeitherAcknowledgesNorReplies) {
    receiver_.Faults().dcuSilent = true;
    std::uint32_t word = 1;
    EXPECT_FALSE(cable_.ReadWord(0x3000, &word));
    EXPECT_FALSE(cable_.WriteWord(kRam, 0x1));
    EXPECT_EQ(receiver_.PeekWord(kRam), 0u);
    receiver_.Faults().dcuSilent = false;
    EXPECT_TRUE(cable_.WriteWord(kRam, 0x1));
}

TEST_F(Dcu, NoAcknowledgeAfterNBytes) {
    receiver_.ResetCounters();
    receiver_.Faults().noAckAfterBytes = 7;
    cable_.Drain();
    int acked = 0;
    cable_.Preamble();
    for (std::uint8_t b : {0x04, 0x00, 0x00, 0x00, 0x80, 1, 2, 3, 4}) acked += cable_.SendByte(b);
    EXPECT_EQ(acked, 7);
    EXPECT_EQ(receiver_.PeekWord(kRam), 0x0201u) << "the bytes taken are stored, none after the first refused";
}

TEST_F(Dcu, CorruptedReplyByte) {
    receiver_.PokeWord(kRam, 0x44332211);
    receiver_.ResetCounters();
    receiver_.Faults().corruptReplyByte = 2;  // length byte is 0, then 0x11, 0x22 ...
    std::uint32_t word = 0;
    EXPECT_TRUE(cable_.ReadWord(kRam, &word));
    EXPECT_EQ(word, 0x4433DD11u);
    EXPECT_TRUE(cable_.ReadWord(kRam, &word));
    EXPECT_EQ(word, 0x44332211u) << "only that one byte";
}

TEST_F(Dcu, RefusedWriteAddressAndReadRange) {
    receiver_.Faults().refusedWriteAddresses = {kRam + 8};
    receiver_.Faults().refusedReadRanges = {{0x3080, 0x3083}};
    EXPECT_FALSE(cable_.WriteWord(kRam + 8, 0x77));
    EXPECT_EQ(receiver_.PeekWord(kRam + 8), 0u);
    EXPECT_TRUE(cable_.WriteWord(kRam + 12, 0x77));
    std::uint32_t word = 1;
    EXPECT_FALSE(cable_.ReadWord(0x3080, &word));
    EXPECT_TRUE(cable_.ReadWord(0x3000, &word)) << "a read that merely covers the range still answers";
}

TEST_F(Dcu, HaltIgnored) {
    receiver_.Faults().haltIgnored = true;
    EXPECT_TRUE(cable_.WriteWord(0x3004, 0x80000000));
    std::uint32_t word = 1;
    EXPECT_TRUE(cable_.ReadWord(0x3004, &word));
    EXPECT_EQ(word, 0u);
    EXPECT_FALSE(receiver_.CpuHalted());
}

TEST_F(Dcu, JtiptrOverride) {
    receiver_.Faults().jtiptrValue = 0x80000300;
    std::uint32_t word = 0;
    EXPECT_TRUE(cable_.ReadWord(0x3080, &word));
    EXPECT_EQ(word, 0x80000300u);
}

TEST_F(Dcu, CountsBytesBothWays) {
    receiver_.ResetCounters();
    std::uint32_t word;
    cable_.ReadWord(kRam, &word);
    EXPECT_EQ(receiver_.Counters().dcuBytesReceived, 5u);
    EXPECT_EQ(receiver_.Counters().dcuBytesSent, 257u);
}

}  // namespace

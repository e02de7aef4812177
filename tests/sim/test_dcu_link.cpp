// SPDX-License-Identifier: GPL-2.0-or-later
// The DCU's byte framing and messages, driven by the tests' own cable.
#include <tuple>

#include "sim_test.h"

namespace {

using namespace simtest;
using orbvex::sim::AckTiming;
using orbvex::sim::DcuMessageRecord;

class DcuBothAckTimings : public DcuTest, public ::testing::WithParamInterface<AckTiming> {
protected:
    DcuBothAckTimings() { receiver_.Config().ack = GetParam(); }
};

TEST_P(DcuBothAckTimings, ByteFramingCostsTwelveClocksEarlyFifteenLate) {
    cable_.Drain();
    bool early = false;
    const long before = cable_.clocks;
    EXPECT_TRUE(cable_.SendByte(0x01, &early));
    EXPECT_EQ(early, GetParam() == AckTiming::Early);
    EXPECT_EQ(cable_.clocks - before, GetParam() == AckTiming::Early ? 12 : 15);
}

TEST_P(DcuBothAckTimings, WordAndBlockRoundTripUpToTheTopOfRam) {
    EXPECT_TRUE(cable_.WriteWord(0x803FFFFC, 0xCAFEF00D)) << "at least 4 MB of RAM";
    EXPECT_EQ(receiver_.PeekWord(0x803FFFFC), 0xCAFEF00Du);
    EXPECT_EQ(cable_.ReadWord(0x803FFFFC), 0xCAFEF00Du);

    const Bytes data = Pattern(252, 3);
    EXPECT_TRUE(cable_.WriteBlock(kRam + 0x1000, data));
    Bytes back;
    ASSERT_EQ(cable_.ReadBlock(kRam + 0x1000, &back), 256);
    EXPECT_EQ(Bytes(back.begin(), back.begin() + 252), data);
}

TEST_P(DcuBothAckTimings, BusyPulsesBeforeTheReplyRestartTheHostsWait) {
    // The long gaps are each shorter than the host's start budget, their sum much longer.
    const struct {
        int pulses, gapClocks;
    } cases[] = {{3, 16}, {2, 2000}};
    for (const auto& c : cases) {
        receiver_.Config().busyPulsesBeforeReply = c.pulses;
        receiver_.Config().busyGapClocks = c.gapClocks;
        receiver_.PokeWord(kRam, 0x11223344u + static_cast<std::uint32_t>(c.gapClocks));
        cable_.busyPulses = 0;
        EXPECT_EQ(cable_.ReadWord(kRam), 0x11223344u + static_cast<std::uint32_t>(c.gapClocks));
        EXPECT_EQ(cable_.busyPulses, c.pulses) << "gap " << c.gapClocks;
    }
}

INSTANTIATE_TEST_SUITE_P(Ack, DcuBothAckTimings, ::testing::Values(AckTiming::Early, AckTiming::Late),
                         [](const auto& info) { return info.param == AckTiming::Early ? "Early" : "Late"; });

using Dcu = DcuTest;

TEST_F(Dcu, ReplyLengthByteFollowsTheSetting) {
    for (int length : {4, 8, 252, 256}) {
        receiver_.Config().replyBlockLength = length;
        Bytes block;
        std::uint8_t lengthByte = 0xAA;
        EXPECT_EQ(cable_.ReadBlock(kRam, &block, &lengthByte), length);
        EXPECT_EQ(lengthByte, length & 0xFF);
    }
    // Outside the flash window a reply of its own length, when one is set.
    receiver_.Config().replyLengthOutsideFlash = 4;
    Bytes block;
    EXPECT_EQ(cable_.ReadBlock(kRam, &block), 4);
    EXPECT_EQ(cable_.ReadBlock(0x3000, &block), 4);
    EXPECT_EQ(cable_.ReadBlock(0x7FF00000, &block), 256);
    EXPECT_EQ(cable_.ReadBlock(0x7FFFFFFC, &block), 256);
}

TEST_F(Dcu, BlockWriteStoresOnlyTheAnnouncedMultipleOfFour) {
    // The dropped 0x01 looks like a read command; after the host's drain it must not be one.
    EXPECT_TRUE(cable_.WriteBlock(kRam + 0x200, {1, 2, 3, 4, 0x01, 6})) << "the extra bytes are acknowledged";
    EXPECT_EQ(receiver_.PeekWord(kRam + 0x200), 0x04030201u);
    EXPECT_EQ(receiver_.PeekWord(kRam + 0x204), 0u) << "bytes past length & 0xFC are dropped";
    receiver_.PokeWord(kRam + 0x500, 0x5A5A5A5A);
    EXPECT_EQ(cable_.ReadWord(kRam + 0x500), 0x5A5A5A5Au);

    EXPECT_TRUE(cable_.WriteBlock(kRam + 0x300, {9, 9, 9}));
    EXPECT_EQ(receiver_.PeekWord(kRam + 0x300), 0u);
}

TEST_F(Dcu, MessagesAreRecordedAsUnderstoodWhileRecordingIsOn) {
    receiver_.RecordMessages(true);
    cable_.WriteBlock(kRam + 0x200, {1, 2, 3, 4, 5, 6});
    cable_.ReadWord(0x3000);
    using Kind = DcuMessageRecord::Kind;
    std::vector<std::tuple<Kind, std::uint32_t, int, std::uint32_t>> seen;
    for (const auto& m : receiver_.Messages()) seen.emplace_back(m.kind, m.address, m.command, m.dataBytes);
    EXPECT_EQ(seen, (decltype(seen){{Kind::Write, kRam + 0x200, 0x04, 6}, {Kind::Read, 0x3000, 0x01, 256}}));
    receiver_.ClearMessages();
    EXPECT_TRUE(receiver_.Messages().empty());
    receiver_.RecordMessages(false);
    cable_.ReadWord(0x3000);
    EXPECT_TRUE(receiver_.Messages().empty());
}

TEST_F(Dcu, WriteWithoutPreambleIsRefused) {
    EXPECT_FALSE(cable_.WriteWord(kRam + 0x40, 0x12345678, /*preamble=*/false));
    EXPECT_EQ(receiver_.PeekWord(kRam + 0x40), 0u);
    EXPECT_TRUE(cable_.WriteWord(kRam + 0x40, 0x12345678));
    EXPECT_EQ(receiver_.PeekWord(kRam + 0x40), 0x12345678u);
}

TEST_F(Dcu, StrayBytesAreForgottenAfterALongQuietTdi) {
    cable_.SendBytes({0x01, 0x40});  // half a read request, then more silence than any gap inside a message
    cable_.Idle(1100);
    receiver_.PokeWord(kRam + 0x80, 0x0BADCAFE);
    EXPECT_EQ(cable_.ReadWord(kRam + 0x80), 0x0BADCAFEu);
}

TEST_F(Dcu, ShortGapsInsideAMessageAreNotAResync) {
    cable_.Drain();
    cable_.Preamble();
    cable_.SendByte(0x04);
    cable_.Idle(200);
    cable_.SendBytes(Le32(kRam + 0x10));
    cable_.Idle(200);
    EXPECT_EQ(cable_.SendBytes(Le32(0x12345678)), 4);
    EXPECT_EQ(receiver_.PeekWord(kRam + 0x10), 0x12345678u);
}

TEST_F(Dcu, UnreadReplyIsDrainedByTheNextMessage) {
    receiver_.PokeWord(kRam + 0x20, 0xA1B2C3D4);
    cable_.Drain();
    cable_.RequestRead(kRam);
    std::uint8_t lengthAndFirst[2];
    ASSERT_TRUE(cable_.ReceiveByte(&lengthAndFirst[0]) && cable_.ReceiveByte(&lengthAndFirst[1]));
    // The host walks away mid-reply; the next message starts with a drain.
    EXPECT_EQ(cable_.ReadWord(kRam + 0x20), 0xA1B2C3D4u);
}

TEST_F(Dcu, ResetLineDropsAPendingReplyButLeavesTheCpuAlone) {
    cable_.WriteWord(0x3004, 0x80000000);
    cable_.WriteWord(kRam + 4, 0x13579BDF);
    cable_.Drain();
    cable_.RequestRead(0);
    cable_.SetReset(false);
    cable_.SetReset(true);
    cable_.SelectDcu();
    EXPECT_EQ(cable_.Drain(), 0);
    EXPECT_TRUE(receiver_.CpuHalted());
    EXPECT_EQ(receiver_.PeekWord(kRam + 4), 0x13579BDFu);
}

TEST_F(Dcu, ReadsOfRegistersAndUnmappedSpace) {
    EXPECT_TRUE(cable_.ReadWord(0x3000));
    EXPECT_EQ(cable_.ReadWord(0x10000000), 0u) << "unmapped space reads zeros and the DCU keeps answering";
    EXPECT_TRUE(cable_.WriteWord(0x10000000, 0x1234));
    EXPECT_EQ(cable_.ReadWord(0x10000000), 0u);
}

TEST(DcuHalt, HaltBitTakesAndReadsBackUnlessIgnored) {
    for (bool ignored : {false, true}) {
        VirtualReceiver receiver;
        TestCable cable(receiver);
        cable.SelectDcu();
        receiver.Faults().haltIgnored = ignored;
        EXPECT_FALSE(receiver.CpuHalted());
        EXPECT_TRUE(cable.WriteWord(0x3004, 0x80000000)) << "acknowledged even when ignored";
        EXPECT_EQ(receiver.CpuHalted(), !ignored);
        EXPECT_EQ(cable.ReadWord(0x3004), ignored ? 0u : 0x80000000u);
    }
}

// Fault switches.

TEST_F(Dcu, SilentDcuNeitherAcknowledgesNorReplies) {
    receiver_.Faults().dcuSilent = true;
    EXPECT_EQ(cable_.ReadWord(0x3000), std::nullopt);
    EXPECT_FALSE(cable_.WriteWord(kRam, 0x1));
    EXPECT_EQ(receiver_.PeekWord(kRam), 0u);
    receiver_.Faults().dcuSilent = false;
    EXPECT_TRUE(cable_.WriteWord(kRam, 0x1));
}

TEST_F(Dcu, NoAcknowledgeAfterNBytes) {
    receiver_.ResetCounters();
    receiver_.Faults().noAckAfterBytes = 7;
    cable_.Drain();
    cable_.Preamble();
    EXPECT_EQ(cable_.SendBytes({0x04, 0x00, 0x00, 0x00, 0x80, 1, 2, 3, 4}), 7);
    EXPECT_EQ(receiver_.PeekWord(kRam), 0x0201u) << "the bytes taken are stored, none after the first refused";
}

TEST_F(Dcu, CorruptedReplyByte) {
    receiver_.PokeWord(kRam, 0x44332211);
    receiver_.ResetCounters();
    receiver_.Faults().corruptReplyByte = 2;  // length byte is 0, then 0x11, 0x22 ...
    EXPECT_EQ(cable_.ReadWord(kRam), 0x4433DD11u);
    EXPECT_EQ(cable_.ReadWord(kRam), 0x44332211u) << "only that one byte";
}

// The bytes of `replies` block reads of a known RAM pattern that came back turned, as
// (reply, position in it), the length byte at position 0.
std::vector<std::pair<int, int>> TurnedReplyBytes(VirtualReceiver& receiver, TestCable& cable, int replies) {
    const Bytes pattern = Pattern(256, 5);
    for (std::uint32_t i = 0; i < 256; i += 4)
        receiver.PokeWord(kRam + i, pattern[i] | pattern[i + 1] << 8 | pattern[i + 2] << 16 |
                                        static_cast<std::uint32_t>(pattern[i + 3]) << 24);
    receiver.ResetCounters();
    std::vector<std::pair<int, int>> turned;
    for (int r = 0; r < replies; ++r) {
        Bytes block;
        std::uint8_t length = 0;
        cable.ReadBlock(kRam, &block, &length);
        if (length != 0) turned.push_back({r, 0});
        for (std::size_t i = 0; i < block.size(); ++i)
            if (block[i] != pattern[i]) turned.push_back({r, static_cast<int>(i) + 1});
    }
    return turned;
}

TEST_F(Dcu, CorruptedReplyBytesAtARate) {
    receiver_.Faults().corruptReplyEvery = 64;  // bytes 63, 127, ... of all the DCU sends
    EXPECT_EQ(TurnedReplyBytes(receiver_, cable_, 2),
              (std::vector<std::pair<int, int>>{{0, 63}, {0, 127}, {0, 191}, {0, 255}, {1, 62}, {1, 126}, {1, 190}, {1, 254}}));

    receiver_.Faults().corruptReplyEvery = 0;
    receiver_.Faults().corruptReplyOneIn = 100;
    receiver_.Faults().corruptReplySeed = 7;
    const auto first = TurnedReplyBytes(receiver_, cable_, 40);  // 10,280 bytes: about 103 hits
    EXPECT_GT(first.size(), 50u);
    EXPECT_LT(first.size(), 160u);
    EXPECT_EQ(TurnedReplyBytes(receiver_, cable_, 40), first) << "the same seed turns the same bytes";
    receiver_.Faults().corruptReplySeed = 8;
    EXPECT_NE(TurnedReplyBytes(receiver_, cable_, 40), first);
}

TEST_F(Dcu, RefusedWriteAddressAndReadRange) {
    receiver_.Faults().refusedWriteAddresses = {kRam + 8};
    receiver_.Faults().refusedReadRanges = {{0x3080, 0x3083}};
    EXPECT_FALSE(cable_.WriteWord(kRam + 8, 0x77));
    EXPECT_EQ(receiver_.PeekWord(kRam + 8), 0u);
    EXPECT_TRUE(cable_.WriteWord(kRam + 12, 0x77));
    EXPECT_EQ(cable_.ReadWord(0x3080), std::nullopt);
    EXPECT_TRUE(cable_.ReadWord(0x3000)) << "a read that merely covers the range still answers";
}

TEST_F(Dcu, JtiptrOverride) {
    receiver_.Faults().jtiptrValue = 0x80000300;
    EXPECT_EQ(cable_.ReadWord(0x3080), 0x80000300u);
}

TEST_F(Dcu, CountsBytesBothWays) {
    receiver_.ResetCounters();
    cable_.ReadWord(kRam);
    EXPECT_EQ(receiver_.Counters().dcuBytesReceived, 5u);
    EXPECT_EQ(receiver_.Counters().dcuBytesSent, 257u);
}

}  // namespace

// The DCU byte framing, the start and acknowledge waits, the drain and the four
// messages, against a scripted DCU.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dcu_responder.h"

using linktest::Ack;
using linktest::Bits;
using linktest::DcuResponder;
using linktest::TestCable;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

// Tests that talk to the scripted DCU: the TAP is taken as already parked in Shift-DR.
class DcuLink : public ::testing::Test {
protected:
    void SetUp() override {
        linktest::ResetLink(&dcu, nullptr);
        JtagSelected = true;
    }
    void TearDown() override { linktest::DetachLink(); }

    DcuResponder dcu;
};

// Tests that script TDO clock by clock.
class DcuWaits : public ::testing::Test {
protected:
    void SetUp() override {
        linktest::ResetLink(&cable, nullptr);
        cable.recordAccesses = false;
        JtagSelected = true;
    }
    void TearDown() override { linktest::DetachLink(); }

    TestCable cable;
};

// ---- Sending a byte -------------------------------------------------------------

TEST_F(DcuLink, SendByteFramesStartDataLsbFirstAndTrailingClock) {
    EXPECT_TRUE(DcuSendByte(0x04));
    EXPECT_EQ(dcu.clockCount, 12u);
    EXPECT_EQ(dcu.TdiTrace(), Bits({0, 1, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0}));
    std::vector<bool> sampled;
    for (const auto& c : dcu.clocks) sampled.push_back(c.sampled);
    EXPECT_EQ(sampled, Bits({0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0}));
    for (const auto& c : dcu.clocks) EXPECT_FALSE(c.tms) << "TMS stays low in Shift-DR";
    EXPECT_THAT(dcu.hostBytes, ElementsAre(0x04));
}

TEST_F(DcuLink, SendByteAcceptsEachAcknowledgeTiming) {
    dcu.ack = Ack::FirstSample;
    EXPECT_TRUE(DcuSendByte(0xA5));
    EXPECT_EQ(dcu.clockCount, 12u) << "a first sample of 1 is an acknowledge: no wait";

    dcu.Forget();
    dcu.ack = Ack::Late;
    EXPECT_TRUE(DcuSendByte(0xA5));
    EXPECT_EQ(dcu.clockCount, 12u + 3u) << "acknowledge wait of 0,1,0";

    dcu.Forget();
    dcu.ack = Ack::None;
    EXPECT_FALSE(DcuSendByte(0xA5));
    EXPECT_EQ(dcu.clockCount, 12u + 64u);
}

TEST_F(DcuWaits, SendByteWithTdoStuckHighIsAcknowledgedButStuckLowIsNot) {
    // Stuck at 1: the first data sample already reads as an acknowledge.
    cable.tdo = [](std::size_t) { return true; };
    EXPECT_TRUE(DcuSendByte(0x00));
    cable.tdo = [](std::size_t) { return false; };
    EXPECT_FALSE(DcuSendByte(0x00));
}

TEST_F(DcuLink, SendWordSendsAllFourBytesLeastSignificantFirst) {
    dcu.ackFor = [](std::size_t i) { return i == 1 ? Ack::None : Ack::Early; };
    EXPECT_FALSE(DcuSendWord(0x80003004));
    EXPECT_THAT(dcu.hostBytes, ElementsAre(0x04, 0x30, 0x00, 0x80));
}

// ---- Waiting for a start or an acknowledge ---------------------------------------

TEST_F(DcuWaits, StartPatternIsZeroOneOneOrTwoOnesAtTheBeginning) {
    cable.tdo = [](std::size_t c) { return c == 5 || c == 6; };
    EXPECT_TRUE(WaitStart(2024));
    EXPECT_EQ(cable.clockCount, 7u);

    cable.Forget();
    cable.tdo = [](std::size_t) { return true; };
    EXPECT_TRUE(WaitStart(2024));
    EXPECT_EQ(cable.clockCount, 2u) << "the window starts at 000";
}

TEST_F(DcuWaits, StartWaitGivesUpAfterItsBudgetAndNonPositiveBudgetsDoNothing) {
    EXPECT_FALSE(WaitStart(2024));
    EXPECT_EQ(cable.clockCount, 2024u);
    cable.Forget();
    EXPECT_FALSE(WaitStart(0));
    EXPECT_FALSE(WaitStart(-5));
    EXPECT_EQ(cable.clockCount, 0u);
}

TEST_F(DcuWaits, BusyPulseRestartsTheStartBudget) {
    // A 0,1,0 pulse completes on clock 2999; the start pattern completes 2000 clocks later.
    const std::size_t pulseEnd = 2999;
    const std::size_t startEnd = pulseEnd + 2000;
    cable.tdo = [=](std::size_t c) { return c == pulseEnd - 1 || c == startEnd - 1 || c == startEnd; };
    // Earlier pulses every 1000 clocks keep the wait alive until then.
    auto base = cable.tdo;
    cable.tdo = [=](std::size_t c) { return base(c) || c == 999 || c == 1999; };
    EXPECT_TRUE(WaitStart(2024));
    EXPECT_EQ(cable.clockCount, startEnd + 1);
}

TEST_F(DcuWaits, BusyPulseBudgetStillRunsOut) {
    const std::size_t pulseEnd = 100;
    // The start pattern would complete one clock after the renewed budget ran out.
    cable.tdo = [=](std::size_t c) { return c == pulseEnd - 1 || c >= pulseEnd + 2023; };
    EXPECT_FALSE(WaitStart(2024));
    EXPECT_EQ(cable.clockCount, pulseEnd + 2024);
}

TEST_F(DcuWaits, BabblingLineCannotHoldTheStartWaitForever) {
    cable.recordClocks = false;
    cable.tdo = [](std::size_t c) { return c % 3 == 1; };  // 0,1,0 without end
    EXPECT_FALSE(WaitStart(2024));
    EXPECT_EQ(cable.clockCount, static_cast<std::size_t>(kStartWaitClockCap));
}

TEST_F(DcuWaits, AckWaitLooksForZeroOneZeroWithinItsLimit) {
    cable.tdo = [](std::size_t c) { return c == 61; };
    EXPECT_TRUE(WaitAck(64));
    EXPECT_EQ(cable.clockCount, 63u);

    cable.Forget();
    cable.tdo = [](std::size_t c) { return c == 0; };
    EXPECT_TRUE(WaitAck(64));
    EXPECT_EQ(cable.clockCount, 2u) << "the window starts at 000, so 1,0 completes 0,1,0";

    cable.Forget();
    cable.tdo = [](std::size_t) { return true; };
    EXPECT_FALSE(WaitAck(64));
    EXPECT_EQ(cable.clockCount, 64u);
}

// ---- Receiving a byte --------------------------------------------------------------

TEST_F(DcuLink, ReceiveByteReadsLsbFirstAndAcknowledgesOnTheFifthDataClock) {
    dcu.QueueBytes(1, 0xC3);
    std::uint8_t byte = 0;
    EXPECT_TRUE(DcuReceiveByte(byte));
    EXPECT_EQ(byte, 0xC3);
    EXPECT_EQ(dcu.clockCount, 3u + 8u);
    EXPECT_EQ(dcu.TdiTrace(3), Bits({0, 0, 0, 0, 1, 0, 0, 0}));
}

TEST_F(DcuLink, FailedReceiveClearsTheByte) {
    std::uint8_t byte = 0x77;
    EXPECT_FALSE(DcuReceiveByte(byte));
    EXPECT_EQ(byte, 0);
    EXPECT_EQ(dcu.clockCount, 2024u);
}

// ---- Drain --------------------------------------------------------------------------

TEST_F(DcuLink, ReadDrainEats1023PendingBytesButGivesUpAt1024) {
    dcu.QueueBytes(1023);
    dcu.SetWord(0x80000000, 0x12345678);
    std::uint32_t word = 0;
    EXPECT_TRUE(DcuReadWord(0x80000000, word));
    EXPECT_EQ(word, 0x12345678u);

    dcu.hostBytes.clear();
    dcu.QueueBytes(1024);
    EXPECT_FALSE(DcuReadWord(0x80000000, word));
    EXPECT_EQ(word, 0u);
    EXPECT_TRUE(dcu.hostBytes.empty()) << "nothing is sent after the drain gives up";
}

TEST_F(DcuLink, WriteDrainEats1022PendingBytesButGivesUpAt1023) {
    dcu.QueueBytes(1022);
    EXPECT_TRUE(DcuWriteWord(0x80000000, 1));
    dcu.hostBytes.clear();
    dcu.QueueBytes(1023);
    EXPECT_FALSE(DcuWriteWord(0x80000000, 2));
    EXPECT_TRUE(dcu.hostBytes.empty());
    const std::uint8_t data[4] = {1, 2, 3, 4};
    dcu.Forget();
    dcu.QueueBytes(1023);
    EXPECT_EQ(DcuWriteBlock(0x80000000, data, 4), 0);
    EXPECT_TRUE(dcu.hostBytes.empty());
}

TEST_F(DcuLink, DrainGivesUpAfterOneMoreReceiveThanItsLimit) {
    dcu.QueueBytes(2000);
    std::uint8_t buffer[256];
    EXPECT_EQ(DcuReadBlock(0x80000000, buffer), 0);
    EXPECT_EQ(dcu.clockCount, 1025u * 11u) << "1024 discarded, one more received";
}

TEST_F(DcuWaits, EveryMessageFailsWithTdoStuck) {
    std::uint8_t buffer[256];
    std::uint32_t word = 0xDEAD;
    for (bool level : {true, false}) {
        cable.tdo = [level](std::size_t) { return level; };
        EXPECT_EQ(DcuReadBlock(0x80000000, buffer), 0);
        EXPECT_FALSE(DcuReadWord(0x80000000, word));
        EXPECT_EQ(word, 0u);
        EXPECT_FALSE(DcuWriteWord(0x3004, 0x80000000));
        EXPECT_EQ(DcuWriteBlock(0x80000000, buffer, 8), 0);
    }
}

// ---- Reads --------------------------------------------------------------------------

TEST_F(DcuLink, ReadRequestIsCommandOneAndAddressLeastSignificantFirst) {
    std::uint8_t buffer[256];
    EXPECT_EQ(DcuReadBlock(0x7FF01234, buffer), 256);
    EXPECT_THAT(dcu.hostBytes, ElementsAre(0x01, 0x34, 0x12, 0xF0, 0x7F));
}

TEST_F(DcuLink, ReplyLengthByteSetsTheBlockLength) {
    for (std::uint32_t i = 0; i < 256; ++i) dcu.memory[0x80000000 + i] = static_cast<std::uint8_t>(i * 7 + 1);
    const std::pair<std::uint8_t, int> cases[] = {
        {0x00, 256}, {0x01, 256}, {0x02, 256}, {0x03, 256}, {0x05, 4}, {0xFF, 252}, {0x04, 4}, {0x80, 128}};
    for (const auto& [lengthByte, expected] : cases) {
        dcu.lengthByte = lengthByte;
        std::uint8_t buffer[256] = {};
        ASSERT_EQ(DcuReadBlock(0x80000000, buffer), expected) << int(lengthByte);
        for (int i = 0; i < expected; ++i) ASSERT_EQ(buffer[i], dcu.Byte(0x80000000 + i)) << i;
    }
}

TEST_F(DcuLink, ReadWordTakesTheFirstFourBytesOfAFullBlock) {
    dcu.SetWord(0x3004, 0x80000000);
    dcu.SetWord(0x3008, 0xFFFFFFFF);
    std::uint32_t word = 0;
    EXPECT_TRUE(DcuReadWord(0x3004, word));
    EXPECT_EQ(word, 0x80000000u);
}

TEST_F(DcuLink, ReadWorksWithLateAcknowledges) {
    dcu.ack = Ack::Late;
    dcu.SetWord(0x3000, 0xCAFEF00D);
    std::uint32_t word = 0;
    EXPECT_TRUE(DcuReadWord(0x3000, word));
    EXPECT_EQ(word, 0xCAFEF00Du);
}

TEST_F(DcuLink, UnansweredReadFailsWithZeroWord) {
    dcu.answersRead = [](std::uint32_t) { return false; };
    std::uint32_t word = 0xDEAD;
    EXPECT_FALSE(DcuReadWord(0x3000, word));
    EXPECT_EQ(word, 0u);
}

TEST_F(DcuLink, RefusedRequestByteFailsTheReadAfterOneMoreReceive) {
    dcu.SetWord(0x3000, 0x11223344);
    for (std::size_t refused = 0; refused < 5; ++refused) {
        dcu.hostBytes.clear();
        dcu.ackFor = [refused](std::size_t i) { return i == refused ? Ack::None : Ack::Early; };
        std::uint8_t buffer[256] = {};
        EXPECT_EQ(DcuReadBlock(0x3000, buffer), 0) << refused;
        EXPECT_EQ(buffer[0], 0) << "the one receive is not stored";
        EXPECT_EQ(dcu.hostBytes.size(), 5u);
    }
}

// ---- Writes -------------------------------------------------------------------------

TEST_F(DcuLink, WriteWordSendsPreambleThenNineBytes) {
    EXPECT_TRUE(DcuWriteWord(0x3004, 0x80000000));
    EXPECT_THAT(dcu.hostBytes, ElementsAre(0x04, 0x04, 0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80));
    // After the drain's failed receive (2024 clocks): preamble 0,1,0, then the command's start.
    const std::vector<bool> afterDrain = dcu.TdiTrace(2024);
    ASSERT_EQ(afterDrain.size(), 3u + 9u * 12u);
    EXPECT_EQ(std::vector<bool>(afterDrain.begin(), afterDrain.begin() + 6), Bits({0, 1, 0, 0, 1, 1}));
    EXPECT_EQ(dcu.Word(0x3004), 0x80000000u);
}

TEST_F(DcuLink, WriteWordSendsItsValueEvenWhenTheCommandIsRefused) {
    dcu.ackFor = [](std::size_t i) { return i == 0 ? Ack::None : Ack::Early; };
    EXPECT_FALSE(DcuWriteWord(0x3004, 0x80000000));
    EXPECT_THAT(dcu.hostBytes, ElementsAre(0x04, 0x04, 0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80));
}

TEST_F(DcuLink, WriteWordFailsWhenTheLastValueByteIsRefused) {
    dcu.ackFor = [](std::size_t i) { return i == 8 ? Ack::None : Ack::Late; };
    EXPECT_FALSE(DcuWriteWord(0x3004, 0x80000000));
}

TEST_F(DcuLink, WriteBlockAnnouncesLengthRoundedDownToFour) {
    const std::uint8_t data[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(DcuWriteBlock(0x80000100, data, 6), 6);
    EXPECT_THAT(dcu.hostBytes, ElementsAre(0x04, 0x00, 0x01, 0x00, 0x80, 1, 2, 3, 4, 5, 6));

    dcu.hostBytes.clear();
    EXPECT_EQ(DcuWriteBlock(0x80000100, data, 3), 3);
    EXPECT_THAT(dcu.hostBytes, ElementsAre(0x00, 0x00, 0x01, 0x00, 0x80, 1, 2, 3));
}

TEST_F(DcuLink, FullBlockWriteArrives) {
    std::vector<std::uint8_t> data(252);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(255 - i);
    dcu.ack = Ack::Late;
    EXPECT_EQ(DcuWriteBlock(0x80001000, data.data(), 252), 252);
    ASSERT_EQ(dcu.messages.size(), 1u);
    EXPECT_EQ(dcu.messages[0].command, 252);
    for (std::size_t i = 0; i < data.size(); ++i) ASSERT_EQ(dcu.Byte(0x80001000 + i), data[i]);
}

TEST_F(DcuLink, WriteBlockStopsAtTheFirstRefusedDataByte) {
    const std::uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    dcu.ackFor = [](std::size_t i) { return i == 7 ? Ack::None : Ack::Early; };
    EXPECT_EQ(DcuWriteBlock(0x80000000, data, 8), 0);
    EXPECT_EQ(dcu.hostBytes.size(), 8u) << "command, address, three data bytes";
}

TEST_F(DcuLink, WriteBlockSendsNoDataWhenTheAddressIsRefused) {
    const std::uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    dcu.ackFor = [](std::size_t i) { return i == 2 ? Ack::None : Ack::Early; };
    EXPECT_EQ(DcuWriteBlock(0x80000000, data, 8), 0);
    EXPECT_EQ(dcu.hostBytes.size(), 5u);
}

TEST_F(DcuLink, MessagesSelectTheDcuFirstWhenItIsNotSelected) {
    JtagSelected = false;
    EXPECT_TRUE(DcuWriteWord(0x3004, 1));
    EXPECT_TRUE(JtagSelected);
    ASSERT_GE(dcu.clocks.size(), 19u);
    EXPECT_TRUE(dcu.clocks[0].tms) << "TAP reset first";
}

}  // namespace

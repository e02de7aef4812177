// SPDX-License-Identifier: GPL-2.0-or-later
// The DCU byte framing, the start and acknowledge waits, the drain and the four
// messages, against a scripted DCU (the TAP taken as already parked in Shift-DR).
#include <gmock/gmock.h>

#include <algorithm>

#include "test_cable.h"

namespace {

using linktest::Ack;
using linktest::Clock;
using ::testing::ElementsAre;

class DcuLink : public linktest::LinkTest<linktest::DcuResponder> {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        JtagSelected = true;
    }
    linktest::DcuResponder& dcu = target;
};

std::function<bool(std::size_t)> TdoAt(std::initializer_list<std::size_t> highClocks) {
    return [high = std::vector<std::size_t>(highClocks)](std::size_t c) {
        return std::find(high.begin(), high.end(), c) != high.end();
    };
}
bool Always(std::size_t) { return true; }
bool Never(std::size_t) { return false; }

TEST_F(DcuLink, SendByteFramesStartDataLsbFirstAndTrailingClock) {
    dcu.record = true;
    EXPECT_TRUE(DcuSendByte(0x04));
    EXPECT_EQ(dcu.Trace(&Clock::tdi), "011001000000");
    EXPECT_EQ(dcu.Trace(&Clock::sampled), "000111111110");
    EXPECT_EQ(dcu.Trace(&Clock::tms), "000000000000") << "TMS stays low in Shift-DR";
    EXPECT_THAT(dcu.hostBytes, ElementsAre(0x04));
}

TEST_F(DcuLink, SendByteTakesEveryAcknowledgeTimingAndWaitsAtMost64Clocks) {
    const struct {
        Ack ack;
        bool ok;
        std::size_t clocks;
    } cases[] = {
        {Ack::Early, true, 12}, {Ack::FirstSample, true, 12}, {Ack::Late, true, 12 + 3}, {Ack::None, false, 12 + 64}};
    for (const auto& c : cases) {
        dcu.Forget();
        dcu.ack = c.ack;
        EXPECT_EQ(DcuSendByte(0xA5), c.ok) << int(c.ack);
        EXPECT_EQ(dcu.clockCount, c.clocks) << int(c.ack);
    }
}

TEST_F(DcuLink, WaitsLookForTheirPatternWithinTheirBudget) {
    struct Case {
        const char* what;
        bool (*wait)(std::int32_t);
        std::int32_t limit;
        std::function<bool(std::size_t)> tdo;
        bool found;
        std::size_t clocks;
    };
    const Case cases[] = {
        {"start 0,1,1", WaitStart, 2024, TdoAt({5, 6}), true, 7},
        {"start window begins at 000", WaitStart, 2024, Always, true, 2},
        {"silence", WaitStart, 2024, Never, false, 2024},
        {"no budget", WaitStart, 0, Always, false, 0},
        {"negative budget", WaitStart, -5, Always, false, 0},
        // 0,1,0 pulses ending on clocks 1000, 2000, 2999 each renew the budget.
        {"busy pulses", WaitStart, 2024, TdoAt({999, 1999, 2998, 4998, 4999}), true, 5000},
        {"renewed budget runs out", WaitStart, 2024, [](std::size_t c) { return c == 99 || c >= 2123; }, false,
         2124},
        {"babbling line", WaitStart, 2024, [](std::size_t c) { return c % 3 == 1; }, false,
         static_cast<std::size_t>(kStartWaitClockCap)},
        {"ack 0,1,0", WaitAck, 64, TdoAt({61}), true, 63},
        {"ack window begins at 000", WaitAck, 64, TdoAt({0}), true, 2},
        {"no ack", WaitAck, 64, Always, false, 64},
    };
    for (const Case& c : cases) {
        dcu.Forget();
        dcu.tdo = c.tdo;
        EXPECT_EQ(c.wait(c.limit), c.found) << c.what;
        EXPECT_EQ(dcu.clockCount, c.clocks) << c.what;
    }
}

TEST_F(DcuLink, ReceiveByteReadsLsbFirstAcknowledgesOnTheFifthDataClockAndClearsOnFailure) {
    dcu.record = true;
    dcu.QueueBytes(1, 0xC3);
    std::uint8_t byte = 0;
    EXPECT_TRUE(DcuReceiveByte(byte));
    EXPECT_EQ(byte, 0xC3);
    EXPECT_EQ(dcu.Trace(&Clock::tdi),
              "000"
              "00001000");

    dcu.Forget();
    EXPECT_FALSE(DcuReceiveByte(byte));
    EXPECT_EQ(byte, 0);
    EXPECT_EQ(dcu.clockCount, 2024u);
}

TEST_F(DcuLink, DrainEatsPendingBytesBelowItsLimitAndGivesUpAfterOneMoreReceive) {
    dcu.SetWord(0x80000000, 0x12345678);
    std::uint32_t word = 0;
    const std::uint8_t data[4] = {1, 2, 3, 4};
    const struct {
        const char* message;
        std::size_t limit;
        std::function<bool()> send;
    } cases[] = {
        {"read", 1024, [&] { return DcuReadWord(0x80000000, word) && word == 0x12345678; }},
        {"word write", 1023, [] { return DcuWriteWord(0x80000000, 0x12345678); }},
        {"block write", 1023, [&] { return DcuWriteBlock(0x80000000, data, 4) == 4; }},
    };
    for (const auto& c : cases) {
        dcu.QueueBytes(c.limit - 1);
        EXPECT_TRUE(c.send()) << c.message;
        dcu.hostBytes.clear();
        dcu.Forget();
        dcu.QueueBytes(c.limit);
        EXPECT_FALSE(c.send()) << c.message;
        EXPECT_TRUE(dcu.hostBytes.empty()) << c.message << ": nothing is sent after the drain gives up";
        EXPECT_EQ(dcu.clockCount, c.limit * 11 + 2024) << c.message;
    }
}

TEST_F(DcuLink, EveryMessageFailsWithTdoStuck) {
    std::uint8_t buffer[256] = {};
    for (bool level : {true, false}) {
        dcu.tdo = [level](std::size_t) { return level; };
        EXPECT_EQ(ReadIdcode(), level ? 0xFFFFFFFFu : 0u);
        std::uint32_t word = 0xDEAD;
        EXPECT_FALSE(DcuReadWord(0x80000000, word));
        EXPECT_EQ(word, 0u);
        EXPECT_EQ(DcuReadBlock(0x80000000, buffer), 0);
        EXPECT_FALSE(DcuWriteWord(0x3004, 0x80000000));
        EXPECT_EQ(DcuWriteBlock(0x80000000, buffer, 8), 0);
    }
}

TEST_F(DcuLink, ReadIsCommandOneAndAddressLsbFirstAndItsWordTheFirstFourBytes) {
    dcu.SetWord(0x7FF01234, 0x80000000);
    dcu.SetWord(0x7FF01238, 0xFFFFFFFF);
    std::uint32_t word = 0;
    EXPECT_TRUE(DcuReadWord(0x7FF01234, word));
    EXPECT_EQ(word, 0x80000000u);
    EXPECT_THAT(dcu.hostBytes, ElementsAre(0x01, 0x34, 0x12, 0xF0, 0x7F));

    dcu.answersRead = [](std::uint32_t) { return false; };
    EXPECT_FALSE(DcuReadWord(0x7FF01234, word));
    EXPECT_EQ(word, 0u) << "an unanswered read leaves no stale word";
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

TEST_F(DcuLink, RefusedByteFailsTheMessageAfterWhatItStillSends) {
    std::uint8_t buffer[256];
    const std::uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const auto read = [&] { return DcuReadBlock(0x3000, buffer) != 0; };
    const auto writeWord = [] { return DcuWriteWord(0x3004, 0x80000000); };
    const auto writeBlock = [&] { return DcuWriteBlock(0x80000000, data, 8) != 0; };
    const struct {
        const char* what;
        std::function<bool()> send;
        std::size_t refused, sent;
    } cases[] = {
        {"read command", read, 0, 5},
        {"read address 1", read, 1, 5},
        {"read address 2", read, 2, 5},
        {"read address 3", read, 3, 5},
        {"read address 4", read, 4, 5},
        {"word send", [] { return DcuSendWord(0x80003004); }, 1, 4},
        {"word write command: all nine bytes still go", writeWord, 0, 9},
        {"word write last value byte", writeWord, 8, 9},
        {"block write address: no data", writeBlock, 2, 5},
        {"block write data: stops at it", writeBlock, 7, 8},
    };
    for (const auto& c : cases) {
        dcu.hostBytes.clear();
        dcu.ackFor = [&c](std::size_t i) { return i == c.refused ? Ack::None : Ack::Early; };
        EXPECT_FALSE(c.send()) << c.what;
        EXPECT_EQ(dcu.hostBytes.size(), c.sent) << c.what;
    }
}

TEST_F(DcuLink, WriteWordSendsPreambleThenNineBytes) {
    dcu.record = true;
    EXPECT_TRUE(DcuWriteWord(0x3004, 0x80000000));
    EXPECT_THAT(dcu.hostBytes, ElementsAre(0x04, 0x04, 0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80));
    // After the drain's failed receive (2024 clocks): preamble 0,1,0, then the command's start.
    EXPECT_EQ(dcu.Trace(&Clock::tdi, 2024).substr(0, 6), "010011");
    EXPECT_EQ(dcu.clockCount, 2024u + 3u + 9u * 12u);
    EXPECT_EQ(dcu.Word(0x3004), 0x80000000u);
}

TEST_F(DcuLink, WriteBlockAnnouncesLengthRoundedDownToFour) {
    const std::uint8_t data[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(DcuWriteBlock(0x80000100, data, 6), 6);
    EXPECT_THAT(dcu.hostBytes, ElementsAre(0x04, 0x00, 0x01, 0x00, 0x80, 1, 2, 3, 4, 5, 6));

    dcu.hostBytes.clear();
    EXPECT_EQ(DcuWriteBlock(0x80000100, data, 3), 3);
    EXPECT_THAT(dcu.hostBytes, ElementsAre(0x00, 0x00, 0x01, 0x00, 0x80, 1, 2, 3));
}

}  // namespace

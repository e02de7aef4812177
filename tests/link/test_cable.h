// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Stand-ins for the cable and the target in the link tests. TestCable records every port
// access and TCK cycle and answers TDO from a test's script. DcuResponder is a scripted
// DCU: it decodes the host's framed bytes, acknowledges them as told, answers block reads
// from a sparse memory and stores block writes (as many bytes as the command announces).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/dcu.h"
#include "link/jtag.h"
#include "link/link_log.h"
#include "ops/link_session.h"
#include "port/kqportio.h"
#include "port/port_access.h"

namespace linktest {

// One TCK cycle as the target saw it on its rising edge.
struct Clock {
    bool tms, tdi, reset;
    bool sampled;  // the host read TDO during this clock, before its rising edge
};

class TestCable : public orbvex::PortBackend {
public:
    explicit TestCable(std::uint16_t base = 0x378) : base_(base) {}

    // TDO for the clock about to happen, by its index from the first recorded clock.
    std::function<bool(std::size_t clock)> tdo;
    bool record = true;    // accesses and clocks; off where millions of clocks run
    std::string accesses;  // "r379 w378=05 w378=07 ..."
    std::vector<Clock> clocks;
    std::size_t clockCount = 0;

    std::uint8_t Read(std::uint16_t port) override {
        Note("r%03X", port);
        if (port != base_ + 1) return 0xFF;
        sampled_ = true;
        // The other status bits change from read to read: only bit 4 may count.
        noise_ = static_cast<std::uint8_t>(noise_ * 37 + 11);
        return static_cast<std::uint8_t>((noise_ & ~0x10) | (CurrentTdo() ? 0x10 : 0));
    }

    void Write(std::uint16_t port, std::uint8_t value) override {
        Note("w%03X=%02X", port, value);
        if (port != base_) return;
        const bool rising = !(data_ & 0x02) && (value & 0x02);
        data_ = value;
        if (!rising) return;
        const Clock clock{(value & 0x01) != 0, (value & 0x04) != 0, (value & 0x08) != 0, sampled_};
        if (record) clocks.push_back(clock);
        ++clockCount;
        sampled_ = false;
        OnRisingEdge(clock.tdi);
    }

    void Forget() {
        accesses.clear();
        clocks.clear();
        clockCount = 0;
    }

    // One line over the recorded clocks from `from` on, as a string of 0s and 1s.
    std::string Trace(bool Clock::*line, std::size_t from = 0) const {
        std::string bits;
        for (std::size_t i = from; i < clocks.size(); ++i) bits += clocks[i].*line ? '1' : '0';
        return bits;
    }

protected:
    virtual bool CurrentTdo() { return tdo && tdo(clockCount); }
    virtual void OnRisingEdge(bool /*tdi*/) {}

private:
    void Note(const char* format, unsigned port, unsigned value = 0) {
        if (!record) return;
        char text[16];
        std::snprintf(text, sizeof text, format, port, value);
        accesses += (accesses.empty() ? "" : " ") + std::string(text);
    }

    std::uint16_t base_;
    std::uint8_t data_ = 0;
    bool sampled_ = false;
    std::uint8_t noise_ = 0;
};

// How the DCU acknowledges one byte from the host.
enum class Ack {
    Early,        // 0 then 1 during the byte's data clocks
    FirstSample,  // 1 on the very first data clock
    Late,         // 0,1,0 only after the data clocks
    None,
};

struct DcuMessage {
    std::uint8_t command;
    std::uint32_t address;
    std::size_t dataBytes = 0;  // data bytes the host sent after the address
};

class DcuResponder : public TestCable {
public:
    Ack ack = Ack::Early;
    // Overrides ack for the host byte of this index (counted over the whole test).
    std::function<Ack(std::size_t hostByte)> ackFor;
    // The reply's length byte; the data that follows is as long as it implies.
    std::uint8_t lengthByte = 0x00;
    // False: the DCU does not answer a read at this address.
    std::function<bool(std::uint32_t address)> answersRead = [](std::uint32_t) { return true; };

    std::map<std::uint32_t, std::uint8_t> memory;
    std::vector<std::uint8_t> hostBytes;
    std::vector<DcuMessage> messages;

    DcuResponder() { record = false; }

    // Bytes the DCU has pending before the host asks anything (the drain must eat them).
    void QueueBytes(std::size_t count, std::uint8_t value = 0x5A) {
        for (std::size_t i = 0; i < count; ++i) QueueFrame(value);
    }

    void SetWord(std::uint32_t address, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) memory[address + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    std::uint32_t Word(std::uint32_t address) const {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(Byte(address + i)) << (8 * i);
        return value;
    }
    std::uint8_t Byte(std::uint32_t address) const {
        auto it = memory.find(address);
        return it == memory.end() ? 0 : it->second;
    }

    std::size_t ReadsAt(std::uint32_t address) const {
        std::size_t n = 0;
        for (const DcuMessage& m : messages) n += m.command == 0x01 && m.address == address;
        return n;
    }

protected:
    // A test's TDO script, where there is one, overrides the DCU.
    bool CurrentTdo() override { return tdo ? tdo(clockCount) : !tdoQueue_.empty() && tdoQueue_.front(); }

    void OnRisingEdge(bool tdi) override {
        if (!tdoQueue_.empty()) tdoQueue_.pop_front();
        ++clocksSinceByte_;
        if (collecting_) {
            if (tdi) byte_ = static_cast<std::uint8_t>(byte_ | (1u << bitIndex_));
            if (++bitIndex_ == 8) FinishByte();
            return;
        }
        window_ = ((window_ << 1) | (tdi ? 1u : 0u)) & 7u;
        if (window_ == 0b011) BeginByte();
    }

private:
    static constexpr std::size_t kMessageGap = 200;  // idle clocks that separate messages

    void QueueBits(std::initializer_list<int> bits) {
        for (int b : bits) tdoQueue_.push_back(b != 0);
    }
    void QueueFrame(std::uint8_t value) {
        QueueBits({0, 1, 1});
        for (int i = 0; i < 8; ++i) tdoQueue_.push_back(((value >> i) & 1u) != 0);
    }

    void BeginByte() {
        if (clocksSinceByte_ > kMessageGap) {
            message_.clear();
            refusedInMessage_ = false;
        }
        collecting_ = true;
        bitIndex_ = 0;
        byte_ = 0;
        mode_ = ackFor ? ackFor(hostBytes.size()) : ack;
        if (mode_ == Ack::Early) QueueBits({0, 1});
        if (mode_ == Ack::FirstSample) QueueBits({1});
    }

    void FinishByte() {
        collecting_ = false;
        window_ = 0;
        clocksSinceByte_ = 0;
        hostBytes.push_back(byte_);
        if (mode_ == Ack::Late) QueueBits({0, 1, 0});
        if (mode_ == Ack::None) refusedInMessage_ = true;
        message_.push_back(byte_);
        if (message_.size() == 5) BeginMessage();
        if (message_.size() > 5) TakeWriteData();
    }

    void BeginMessage() {
        std::uint32_t address = 0;
        for (int i = 0; i < 4; ++i) address |= static_cast<std::uint32_t>(message_[1 + i]) << (8 * i);
        messages.push_back({message_[0], address, 0});
        // A request with a byte the DCU did not take gets no reply.
        if (message_[0] == 0x01 && !refusedInMessage_ && answersRead(address)) QueueReply(address);
    }

    void QueueReply(std::uint32_t address) {
        QueueBits({0});  // the host's trailing clock of its last address byte
        QueueFrame(lengthByte);
        const int n = (lengthByte & 0xFC) == 0 ? 256 : (lengthByte & 0xFC);
        for (int i = 0; i < n; ++i) QueueFrame(Byte(address + i));
    }

    void TakeWriteData() {
        DcuMessage& m = messages.back();
        if (m.command == 0x01) return;
        const std::size_t index = m.dataBytes++;
        if (index < m.command) memory[m.address + index] = byte_;
    }

    std::deque<bool> tdoQueue_;
    unsigned window_ = 0;
    bool collecting_ = false;
    int bitIndex_ = 0;
    std::uint8_t byte_ = 0;
    Ack mode_ = Ack::Early;
    std::size_t clocksSinceByte_ = 1000;
    std::vector<std::uint8_t> message_;
    bool refusedInMessage_ = false;
};

class RecordingLog : public orbvex::LogSink {
public:
    void LogLine(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

// The link's globals in their start-up state, the port and the log routed to the test's
// target and log.
template <class Target>
class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        link.emplace(*access, &target);
        ResetLineLevel = false;
        LastDataValue = 0;
        JtagSelected = false;
        orbvex::SetLinkLog(&log);
    }
    void TearDown() override {
        link.reset();
        orbvex::SetLinkLog(nullptr);
        SetTickSource(nullptr);
    }

    Target target;
    RecordingLog log;
    std::unique_ptr<orbvex::PortAccess> access = orbvex::MakeUnrestrictedPortAccess();
    std::optional<orbvex::LinkSession> link;
};

}  // namespace linktest

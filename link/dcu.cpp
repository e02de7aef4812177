// SPDX-License-Identifier: GPL-2.0-or-later
#include "link/dcu.h"

#include "link/dcu_bytes.h"
#include "link/dcu_forms.h"
#include "link/jtag.h"

std::int32_t StartWaitLimit = 2024;

namespace {

using namespace orbvex::dcu;
constexpr std::uint8_t kReadCommand = 0x01;
constexpr std::uint8_t kWordWriteCommand = 0x04;
constexpr int kMaxReplyBytes = 256;

// The raw 0,1,0 on TDI that opens every write message.
void WritePreamble() {
    JtagStep(false, false, false);
    JtagStep(false, true, false);
    JtagStep(false, false, false);
}

// Throws away whatever the DCU still has to send. False when it kept sending past
// the limit (one more receive is tried after the limit-th byte, then it gives up).
template <class Bytes>
bool Drain(Bytes& bytes, int limit) {
    std::uint8_t discarded;
    int count = 0;
    while (bytes.Receive(discarded, count < limit) && count < limit) ++count;
    return count < limit;
}

template <class Bytes>
bool BeginMessage(Bytes& bytes, int drainLimit) {
    SelectDcu();
    return Drain(bytes, drainLimit);
}

template <class Bytes>
bool SendWord(Bytes& bytes, std::uint32_t value) {
    bool all = true;
    for (int shift = 0; shift < 32; shift += 8) {
        all = bytes.Send(static_cast<std::uint8_t>(value >> shift)) && all;
    }
    return all;
}

int ReplyLength(std::uint8_t lengthByte) {
    const int n = lengthByte & 0xFC;
    return n == 0 ? kMaxReplyBytes : n;
}

template <class Bytes>
std::int32_t ReadBlock(Bytes& bytes, std::uint32_t address, std::uint8_t* buffer) {
    if (!BeginMessage(bytes, kReadDrainLimit)) return 0;
    const bool commandOk = bytes.Send(kReadCommand);
    const bool addressOk = SendWord(bytes, address);
    std::uint8_t lengthByte = 0;
    // At least one data byte is received after the length byte, even for a failed request.
    const bool lengthOk = bytes.Receive(lengthByte, true);
    const bool requestOk = commandOk && addressOk && lengthOk;

    const int n = ReplyLength(lengthByte);
    int received = 0;
    while (received < n) {
        std::uint8_t byte;
        // A failed request still costs one receive attempt before it is given up.
        if (!bytes.Receive(byte, requestOk && received + 1 < n) || !requestOk) break;
        buffer[received++] = byte;
    }
    return received == n && requestOk ? n : 0;
}

template <class Bytes>
std::int32_t WriteBlock(Bytes& bytes, std::uint32_t address, const std::uint8_t* data, std::uint8_t length) {
    if (!BeginMessage(bytes, kWriteDrainLimit)) return 0;
    WritePreamble();
    const bool commandOk = bytes.Send(static_cast<std::uint8_t>(length & 0xFC));
    const bool addressOk = SendWord(bytes, address);
    bool dataOk = true;
    for (int j = 0; j < length && dataOk && commandOk && addressOk; ++j) {
        dataOk = bytes.Send(data[j]);
    }
    return dataOk && commandOk && addressOk ? length : 0;
}

template <class Bytes>
bool WriteWord(Bytes& bytes, std::uint32_t address, std::uint32_t value) {
    if (!BeginMessage(bytes, kWriteDrainLimit)) return false;
    WritePreamble();
    // All nine bytes go out whatever the acknowledges say.
    const bool commandOk = bytes.Send(kWordWriteCommand);
    const bool addressOk = SendWord(bytes, address);
    const bool valueOk = SendWord(bytes, value);
    return commandOk && addressOk && valueOk;
}

// Runs a message on the clocking that suits the cable: clocks driven ahead of their
// samples where each answer costs a round trip, each sample taken at once elsewhere.
// The byte layer lives for the whole message: it goes, flushing the cable, after it.
template <class Message>
auto OnThisCable(Message message) {
    return LinkDefersReads() ? message(FramedBytes<ClockAhead>()) : message(FramedBytes<ClockAtOnce>());
}

}  // namespace

// A wait on its own has nothing after it that could go out with it: it samples at once.
bool WaitStart(std::int32_t limit) {
    int dataAhead = 0;
    return FramedBytes<ClockAtOnce>().WaitStart(limit, dataAhead);
}

bool WaitAck(std::int32_t limit) {
    int ahead = 0;
    return FramedBytes<ClockAtOnce>().WaitAck(limit, ahead);
}

bool DcuReceiveByte(std::uint8_t& out) {
    return OnThisCable([&](auto&& bytes) { return bytes.Receive(out, false); });
}

bool DcuSendByte(std::uint8_t value) {
    return OnThisCable([&](auto&& bytes) { return bytes.Send(value); });
}

bool DcuSendWord(std::uint32_t value) {
    return OnThisCable([&](auto&& bytes) { return SendWord(bytes, value); });
}

std::int32_t DcuReadBlock(std::uint32_t address, std::uint8_t* buffer) {
    if (MessageProbe()) return HandOver([&](auto& probe, bool sel, auto limit) { return probe.ReadBlock(sel, limit, address, buffer); });
    return OnThisCable([&](auto&& bytes) { return ReadBlock(bytes, address, buffer); });
}

bool DcuReadWord(std::uint32_t address, std::uint32_t& out) {
    out = 0;
    if (MessageProbe()) return HandOver([&](auto& probe, bool sel, auto limit) { return probe.ReadWord(sel, limit, address, out); });
    std::uint8_t scratch[kMaxReplyBytes + 1] = {};
    if (DcuReadBlock(address, scratch) == 0) return false;
    out = static_cast<std::uint32_t>(scratch[0]) | (static_cast<std::uint32_t>(scratch[1]) << 8) |
          (static_cast<std::uint32_t>(scratch[2]) << 16) |
          (static_cast<std::uint32_t>(scratch[3]) << 24);
    return true;
}

std::int32_t DcuWriteBlock(std::uint32_t address, const std::uint8_t* data, std::uint8_t length) {
    if (MessageProbe()) return HandOver([&](auto& probe, bool sel, auto limit) { return probe.WriteBlock(sel, limit, address, data, length); });
    return OnThisCable([&](auto&& bytes) { return WriteBlock(bytes, address, data, length); });
}

bool DcuWriteWord(std::uint32_t address, std::uint32_t value) {
    if (MessageProbe()) return HandOver([&](auto& probe, bool sel, auto limit) { return probe.WriteWord(sel, limit, address, value); });
    return OnThisCable([&](auto&& bytes) { return WriteWord(bytes, address, value); });
}

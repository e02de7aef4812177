#include "link/dcu.h"

#include "link/jtag.h"

std::int32_t StartWaitLimit = 2024;

namespace {

constexpr unsigned kStartPattern = 0b011;
constexpr unsigned kAckPattern = 0b010;
constexpr std::int32_t kAckWaitLimit = 64;
constexpr std::uint8_t kReadCommand = 0x01;
constexpr std::uint8_t kWordWriteCommand = 0x04;
constexpr int kMaxReplyBytes = 256;

// Every DCU clock keeps TMS low, so the TAP stays in Shift-DR.
inline bool Clock(bool tdi, bool sample) { return JtagStep(false, tdi, sample); }

inline unsigned Shift(unsigned window, bool sample) {
    return ((window << 1) | (sample ? 1u : 0u)) & 7u;
}

// The raw 0,1,0 on TDI that opens every write message.
void WritePreamble() {
    Clock(false, false);
    Clock(true, false);
    Clock(false, false);
}

// Throws away whatever the DCU still has to send. False when it kept sending past
// the limit (one more receive is tried after the limit-th byte, then it gives up).
bool Drain(int limit) {
    std::uint8_t discarded;
    int count = 0;
    while (DcuReceiveByte(discarded) && count < limit) ++count;
    return count < limit;
}

bool BeginMessage(int drainLimit) {
    SelectDcu();
    return Drain(drainLimit);
}

int ReplyLength(std::uint8_t lengthByte) {
    const int n = lengthByte & 0xFC;
    return n == 0 ? kMaxReplyBytes : n;
}

}  // namespace

bool WaitStart(std::int32_t limit) {
    unsigned window = 0;
    std::int32_t n = 0;
    std::int32_t total = 0;
    while (n < limit && window != kStartPattern && total < kStartWaitClockCap) {
        window = Shift(window, Clock(false, true));
        if (window == kAckPattern) n = 0;  // the DCU is busy: its budget starts again
        ++n;
        ++total;
    }
    return window == kStartPattern;
}

bool WaitAck(std::int32_t limit) {
    unsigned window = 0;
    for (std::int32_t n = 0; n < limit && window != kAckPattern; ++n) {
        window = Shift(window, Clock(false, true));
    }
    return window == kAckPattern;
}

bool DcuReceiveByte(std::uint8_t& out) {
    if (!WaitStart(StartWaitLimit)) {
        out = 0;
        return false;
    }
    std::uint8_t byte = 0;
    for (int i = 0; i < 8; ++i) {
        // TDI 1 on the fifth data clock acknowledges the byte to the DCU.
        if (Clock(i == 4, true)) byte = static_cast<std::uint8_t>(byte | (1u << i));
    }
    out = byte;
    return true;
}

bool DcuSendByte(std::uint8_t value) {
    Clock(false, false);
    Clock(true, false);
    Clock(true, false);
    bool acknowledged = false;
    bool previous = false;
    for (int i = 0; i < 8; ++i) {
        const bool sample = Clock(((value >> i) & 1u) != 0, true);
        if (sample && !previous) acknowledged = true;
        previous = sample;
    }
    if (!acknowledged) acknowledged = WaitAck(kAckWaitLimit);
    Clock(false, false);
    return acknowledged;
}

bool DcuSendWord(std::uint32_t value) {
    bool all = true;
    for (int shift = 0; shift < 32; shift += 8) {
        all = DcuSendByte(static_cast<std::uint8_t>(value >> shift)) && all;
    }
    return all;
}

std::int32_t DcuReadBlock(std::uint32_t address, std::uint8_t* buffer) {
    if (!BeginMessage(kReadDrainLimit)) return 0;
    const bool commandOk = DcuSendByte(kReadCommand);
    const bool addressOk = DcuSendWord(address);
    std::uint8_t lengthByte = 0;
    const bool lengthOk = DcuReceiveByte(lengthByte);
    const bool requestOk = commandOk && addressOk && lengthOk;

    const int n = ReplyLength(lengthByte);
    int received = 0;
    while (received < n) {
        std::uint8_t byte;
        // A failed request still costs one receive attempt before it is given up.
        if (!DcuReceiveByte(byte) || !requestOk) break;
        buffer[received++] = byte;
    }
    return received == n && requestOk ? n : 0;
}

bool DcuReadWord(std::uint32_t address, std::uint32_t& out) {
    out = 0;
    std::uint8_t scratch[kMaxReplyBytes + 1] = {};
    if (DcuReadBlock(address, scratch) == 0) return false;
    out = static_cast<std::uint32_t>(scratch[0]) | (static_cast<std::uint32_t>(scratch[1]) << 8) |
          (static_cast<std::uint32_t>(scratch[2]) << 16) |
          (static_cast<std::uint32_t>(scratch[3]) << 24);
    return true;
}

std::int32_t DcuWriteBlock(std::uint32_t address, const std::uint8_t* data, std::uint8_t length) {
    if (!BeginMessage(kWriteDrainLimit)) return 0;
    WritePreamble();
    const bool commandOk = DcuSendByte(static_cast<std::uint8_t>(length & 0xFC));
    const bool addressOk = DcuSendWord(address);
    bool dataOk = true;
    for (int j = 0; j < length && dataOk && commandOk && addressOk; ++j) {
        dataOk = DcuSendByte(data[j]);
    }
    return dataOk && commandOk && addressOk ? length : 0;
}

bool DcuWriteWord(std::uint32_t address, std::uint32_t value) {
    if (!BeginMessage(kWriteDrainLimit)) return false;
    WritePreamble();
    // All nine bytes go out whatever the acknowledges say.
    const bool commandOk = DcuSendByte(kWordWriteCommand);
    const bool addressOk = DcuSendWord(address);
    const bool valueOk = DcuSendWord(value);
    return commandOk && addressOk && valueOk;
}

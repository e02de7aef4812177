#include "test_cable.h"

namespace simtest {

using orbvex::sim::kDataReset;
using orbvex::sim::kDataTck;
using orbvex::sim::kDataTdi;
using orbvex::sim::kDataTms;
using orbvex::sim::kStatusTdo;

bool TestCable::Clock(bool tms, bool tdi) {
    const bool tdo = (r_.Read(static_cast<std::uint16_t>(base_ + 1)) & kStatusTdo) != 0;
    const std::uint8_t v = static_cast<std::uint8_t>((tms ? kDataTms : 0) | (tdi ? kDataTdi : 0) |
                                                     (reset_ ? kDataReset : 0));
    r_.Write(base_, v);
    r_.Write(base_, static_cast<std::uint8_t>(v | kDataTck));
    r_.Write(base_, v);
    ++clocks;
    return tdo;
}

void TestCable::SetReset(bool high) {
    reset_ = high;
    Clock(false, false);
}

void TestCable::TapReset() {
    for (int i = 0; i < 5; ++i) Clock(true, false);
    Clock(false, false);
}

std::uint32_t TestCable::ShiftIr(std::uint32_t value) {
    Clock(true, false);
    Clock(true, false);
    Clock(false, false);
    Clock(false, false);
    std::uint32_t captured = 0;
    for (int i = 0; i < 5; ++i) {
        if (Clock(i == 4, (value >> i) & 1u)) captured |= 1u << i;
    }
    Clock(true, false);   // Update-IR
    Clock(false, false);  // Run-Test/Idle
    return captured;
}

std::uint64_t TestCable::ShiftDr(std::uint64_t value, int bits) {
    Clock(true, false);
    Clock(false, false);
    Clock(false, false);
    std::uint64_t captured = 0;
    for (int i = 0; i < bits; ++i) {
        if (Clock(i == bits - 1, (value >> i) & 1u)) captured |= std::uint64_t{1} << i;
    }
    Clock(true, false);
    Clock(false, false);
    return captured;
}

std::uint32_t TestCable::ReadIdcode() {
    TapReset();
    ShiftIr(0x02);
    return static_cast<std::uint32_t>(ShiftDr(0, 32));
}

void TestCable::SelectDcu() {
    TapReset();
    ShiftIr(0x10);
    Clock(true, false);
    Clock(false, false);
    Clock(false, false);
}

bool TestCable::SendByte(std::uint8_t value, bool* earlyAck) {
    Clock(false, false);
    Clock(false, true);
    Clock(false, true);
    bool previous = false;
    bool acked = false;
    for (int i = 0; i < 8; ++i) {
        const bool sample = Clock(false, (value >> i) & 1u);
        if (sample && !previous) acked = true;
        previous = sample;
    }
    if (earlyAck) *earlyAck = acked;
    if (!acked) {
        unsigned window = 0;
        for (int i = 0; i < 64 && window != 0b010; ++i) window = ((window << 1) | Clock(false, false)) & 7u;
        acked = window == 0b010;
    }
    Clock(false, false);
    return acked;
}

bool TestCable::ReceiveByte(std::uint8_t* value, int startLimit) {
    unsigned window = 0;
    int n = 0;
    while (n < startLimit && window != 0b011) {
        window = ((window << 1) | Clock(false, false)) & 7u;
        if (window == 0b010) {
            n = 0;
            ++busyPulses;
        }
        ++n;
    }
    *value = 0;
    if (window != 0b011) return false;
    for (int i = 0; i < 8; ++i) {
        if (Clock(false, i == 4)) *value = static_cast<std::uint8_t>(*value | (1u << i));
    }
    return true;
}

void TestCable::Idle(int count) {
    for (int i = 0; i < count; ++i) Clock(false, false);
}

void TestCable::Preamble() {
    Clock(false, false);
    Clock(false, true);
    Clock(false, false);
}

int TestCable::Drain() {
    int drained = 0;
    std::uint8_t b;
    while (drained < 1024 && ReceiveByte(&b)) ++drained;
    return drained;
}

int TestCable::ReadBlock(std::uint32_t address, std::vector<std::uint8_t>* out) {
    Drain();
    bool ok = SendByte(0x01);
    for (int i = 0; i < 4; ++i) ok = SendByte(static_cast<std::uint8_t>(address >> (8 * i))) && ok;
    std::uint8_t length = 0;
    ok = ReceiveByte(&length) && ok;
    const int n = (length & 0xFC) == 0 ? 256 : (length & 0xFC);
    out->clear();
    for (int i = 0; i < n && ok; ++i) {
        std::uint8_t b;
        ok = ReceiveByte(&b);
        if (ok) out->push_back(b);
    }
    return ok ? n : 0;
}

bool TestCable::ReadWord(std::uint32_t address, std::uint32_t* out) {
    std::vector<std::uint8_t> block;
    *out = 0;
    if (ReadBlock(address, &block) < 4) return false;
    *out = block[0] | (block[1] << 8) | (block[2] << 16) | (static_cast<std::uint32_t>(block[3]) << 24);
    return true;
}

bool TestCable::WriteBlock(std::uint32_t address, const std::vector<std::uint8_t>& data, bool preamble) {
    Drain();
    if (preamble) Preamble();
    bool ok = SendByte(static_cast<std::uint8_t>(data.size() & 0xFC));
    for (int i = 0; i < 4; ++i) ok = SendByte(static_cast<std::uint8_t>(address >> (8 * i))) && ok;
    for (std::size_t j = 0; j < data.size() && ok; ++j) ok = SendByte(data[j]);
    return ok;
}

bool TestCable::WriteWord(std::uint32_t address, std::uint32_t value, bool preamble) {
    return WriteBlock(address,
                      {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                       static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)},
                      preamble);
}

}  // namespace simtest

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A small host of the tests' own that drives the virtual receiver through its port
// registers, one clock at a time, the way a parallel-port JTAG cable is driven. It is
// written apart from the link code, so that the target is checked on its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "sim/virtual_receiver.h"

namespace simtest {

using Bytes = std::vector<std::uint8_t>;
using orbvex::sim::VirtualReceiver;

constexpr std::uint32_t kIdcode = 0x10006A5B;  // the receiver's default
constexpr std::uint32_t kRam = 0x80000000;

inline Bytes Le32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 24)};
}

inline Bytes Pattern(std::size_t size, unsigned seed) {
    Bytes v(size);
    for (std::size_t i = 0; i < size; ++i) v[i] = static_cast<std::uint8_t>((i * 131 + seed) ^ (i >> 8));
    return v;
}

inline std::string TempPath(const char* name) { return ::testing::TempDir() + name; }

inline Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const Bytes& data) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

class TestCable {
public:
    explicit TestCable(VirtualReceiver& receiver, std::uint16_t base = 0x378) : r_(receiver), base_(base) {}

    // One clock: TDO read while TCK is low, then TMS/TDI set, TCK up, TCK down.
    bool Clock(bool tms, bool tdi) {
        using namespace orbvex::sim;
        const bool tdo = (r_.Read(static_cast<std::uint16_t>(base_ + 1)) & kStatusTdo) != 0;
        const auto v = static_cast<std::uint8_t>((tms ? kDataTms : 0) | (tdi ? kDataTdi : 0) | (reset_ ? kDataReset : 0));
        r_.Write(base_, v);
        r_.Write(base_, static_cast<std::uint8_t>(v | kDataTck));
        r_.Write(base_, v);
        ++clocks;
        return tdo;
    }
    void Tms(const char* levels) {
        while (*levels) Clock(*levels++ == '1', false);
    }  // "1100", TDI low
    void Tdi(const char* levels) {
        while (*levels) Clock(false, *levels++ == '1');
    }  // "010", TMS low
    void Idle(int count) {
        while (count-- > 0) Clock(false, false);
    }
    void SetReset(bool high) {
        reset_ = high;
        Clock(false, false);
    }

    // In Shift-IR or Shift-DR: `bits` bits, the last with TMS high; returns what came out.
    std::uint64_t Shift(std::uint64_t value, int bits) {
        std::uint64_t out = 0;
        for (int i = 0; i < bits; ++i) out |= std::uint64_t{Clock(i == bits - 1, (value >> i) & 1u)} << i;
        return out;
    }
    void TapReset() { Tms("111110"); }  // ends in Run-Test/Idle, as the scans below start and end
    std::uint32_t ShiftIr(std::uint32_t value) {
        Tms("1100");
        const auto out = static_cast<std::uint32_t>(Shift(value, 5));
        Tms("10");
        return out;
    }
    std::uint64_t ShiftDr(std::uint64_t value, int bits) {
        Tms("100");
        const std::uint64_t out = Shift(value, bits);
        Tms("10");
        return out;
    }
    std::uint32_t ReadIdcode() {
        TapReset();
        ShiftIr(0x02);
        return static_cast<std::uint32_t>(ShiftDr(0, 32));
    }
    void SelectDcu() {
        TapReset();
        ShiftIr(0x10);
        Tms("100");
    }  // leaves the TAP in Shift-DR on the DCU

    // DCU framing: start 0,1,1 and eight bits on TDI, acknowledged by 0,1,0 on TDO.
    bool SendByte(std::uint8_t value, bool* earlyAck = nullptr) {
        Tdi("011");
        bool previous = false;
        bool acked = false;
        for (int i = 0; i < 8; ++i) {
            const bool sample = Clock(false, (value >> i) & 1u);
            acked = acked || (sample && !previous);
            previous = sample;
        }
        if (earlyAck) *earlyAck = acked;
        unsigned window = 0;
        for (int i = 0; i < 64 && !acked; ++i) {
            window = ((window << 1) | Clock(false, false)) & 7u;
            acked = window == 0b010;
        }
        Clock(false, false);
        return acked;
    }
    int SendBytes(const Bytes& bytes) {  // how many were acknowledged; stops at the first refused
        int acked = 0;
        while (acked < static_cast<int>(bytes.size()) && SendByte(bytes[static_cast<std::size_t>(acked)])) ++acked;
        return acked;
    }
    // The DCU's bytes: start 0,1,1 and eight bits on TDO, each acknowledged by a 0,1,0 on TDI.
    // A start must come within 2024 clocks; a busy pulse restarts the wait.
    bool ReceiveByte(std::uint8_t* value) {
        unsigned window = 0;
        int n = 0;
        while (n < 2024 && window != 0b011) {
            window = ((window << 1) | Clock(false, false)) & 7u;
            if (window == 0b010) {
                n = 0;
                ++busyPulses;
            }
            ++n;
        }
        *value = 0;
        if (window != 0b011) return false;
        for (int i = 0; i < 8; ++i) *value = static_cast<std::uint8_t>(*value | (Clock(false, i == 4) << i));
        return true;
    }
    void Preamble() { Tdi("010"); }
    int Drain() {
        int drained = 0;
        std::uint8_t b;
        while (drained < 1024 && ReceiveByte(&b)) ++drained;
        return drained;
    }

    // Messages as a host sends them, each after a drain.
    bool RequestRead(std::uint32_t address) {
        Bytes request = Le32(address);
        request.insert(request.begin(), 0x01);
        return SendBytes(request) == 5;
    }
    int ReadBlock(std::uint32_t address, Bytes* out, std::uint8_t* lengthByte = nullptr) {  // data bytes, or 0
        Drain();
        std::uint8_t length = 0;
        bool ok = RequestRead(address) && ReceiveByte(&length);
        if (lengthByte) *lengthByte = length;
        const int n = (length & 0xFC) == 0 ? 256 : (length & 0xFC);
        out->clear();
        for (std::uint8_t b; ok && static_cast<int>(out->size()) < n;) {
            ok = ReceiveByte(&b);
            if (ok) out->push_back(b);
        }
        return ok ? n : 0;
    }
    std::optional<std::uint32_t> ReadWord(std::uint32_t address) {
        Bytes b;
        if (ReadBlock(address, &b) < 4) return std::nullopt;
        return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
    }
    bool WriteBlock(std::uint32_t address, const Bytes& data, bool preamble = true) {
        Drain();
        if (preamble) Preamble();
        Bytes message = Le32(address);
        message.insert(message.begin(), static_cast<std::uint8_t>(data.size() & 0xFC));
        message.insert(message.end(), data.begin(), data.end());
        return SendBytes(message) == static_cast<int>(message.size());
    }
    bool WriteWord(std::uint32_t address, std::uint32_t value, bool preamble = true) {
        return WriteBlock(address, Le32(value), preamble);
    }
    void WriteChunks(std::uint32_t address, const Bytes& data) {  // in blocks of 252, as hosts do
        for (std::size_t off = 0; off < data.size(); off += 252) {
            const auto end = data.begin() + static_cast<std::ptrdiff_t>(std::min(data.size(), off + 252));
            WriteBlock(address + static_cast<std::uint32_t>(off), Bytes(data.begin() + static_cast<std::ptrdiff_t>(off), end));
        }
    }

    long clocks = 0;
    long busyPulses = 0;  // 0,1,0 pulses seen while waiting for a start

private:
    VirtualReceiver& r_;
    std::uint16_t base_;
    bool reset_ = true;
};

class SimTest : public ::testing::Test {
protected:
    VirtualReceiver receiver_;
    TestCable cable_{receiver_};
};

// The TAP already on the DCU's register.
class DcuTest : public SimTest {
protected:
    DcuTest() { cable_.SelectDcu(); }
};

}  // namespace simtest

#pragma once
// A stand-in for the cable and target in the link tests: it records every port
// access and every TCK cycle, and answers TDO from whatever a test supplies.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/dcu.h"
#include "link/jtag.h"
#include "link/link_log.h"
#include "port/kqportio.h"

namespace linktest {

struct Access {
    bool write;
    std::uint16_t port;
    std::uint8_t value;
};

// One TCK cycle as the target saw it on its rising edge.
struct Clock {
    bool tms;
    bool tdi;
    bool reset;
    bool sampled;  // the host read TDO during this clock, before its rising edge
};

class TestCable : public orbvex::PortBackend {
public:
    explicit TestCable(std::uint16_t base = 0x378) : base_(base) {}

    // TDO for the clock about to happen, by its index from the first recorded clock.
    std::function<bool(std::size_t clock)> tdo = [](std::size_t) { return false; };
    bool recordAccesses = true;
    bool recordClocks = true;

    std::vector<Access> accesses;
    std::vector<Clock> clocks;
    std::size_t clockCount = 0;

    std::uint8_t Read(std::uint16_t port) override {
        if (recordAccesses) accesses.push_back({false, port, 0});
        if (port != base_ + 1) return 0xFF;
        sampled_ = true;
        // The other status bits float; the host must look at bit 4 alone.
        return CurrentTdo() ? 0xFF : static_cast<std::uint8_t>(~0x10);
    }

    void Write(std::uint16_t port, std::uint8_t value) override {
        if (recordAccesses) accesses.push_back({true, port, value});
        if (port != base_) return;
        const bool rising = !(data_ & 0x02) && (value & 0x02);
        data_ = value;
        if (!rising) return;
        const Clock clock{(value & 0x01) != 0, (value & 0x04) != 0, (value & 0x08) != 0, sampled_};
        if (recordClocks) clocks.push_back(clock);
        ++clockCount;
        sampled_ = false;
        OnRisingEdge(clock.tdi);
    }

    void Forget() {
        accesses.clear();
        clocks.clear();
        clockCount = 0;
    }

    std::vector<bool> TdiTrace(std::size_t from = 0) const {
        std::vector<bool> bits;
        for (std::size_t i = from; i < clocks.size(); ++i) bits.push_back(clocks[i].tdi);
        return bits;
    }

    std::size_t Writes() const { return Count(true); }
    std::size_t Reads() const { return Count(false); }

protected:
    virtual bool CurrentTdo() { return tdo(clockCount); }
    virtual void OnRisingEdge(bool /*tdi*/) {}

private:
    std::size_t Count(bool write) const {
        std::size_t n = 0;
        for (const Access& a : accesses) n += a.write == write;
        return n;
    }

    std::uint16_t base_;
    std::uint8_t data_ = 0;
    bool sampled_ = false;
};

class RecordingLog : public orbvex::LogSink {
public:
    void LogLine(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

// Puts the link's globals in their start-up state and routes the port and the log
// to the test's objects.
inline void ResetLink(orbvex::PortBackend* backend, orbvex::LogSink* log) {
    LptBase = 0x378;
    ClockDelay = 1;
    StartWaitLimit = 2024;
    ResetLineLevel = false;
    LastDataValue = 255;
    JtagSelected = false;
    orbvex::SetPortBackend(backend);
    orbvex::SetLinkLog(log);
    SetTickSource(nullptr);
}

inline void DetachLink() {
    orbvex::SetPortBackend(nullptr);
    orbvex::SetLinkLog(nullptr);
    SetTickSource(nullptr);
}

inline std::vector<bool> Bits(std::initializer_list<int> bits) {
    std::vector<bool> out;
    for (int b : bits) out.push_back(b != 0);
    return out;
}

}  // namespace linktest

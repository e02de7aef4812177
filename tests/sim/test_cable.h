#pragma once
// A small host of the tests' own that drives the virtual receiver through its port
// registers, one clock at a time, the way a parallel-port JTAG cable is driven.
#include <cstdint>
#include <vector>

#include "sim/virtual_receiver.h"

namespace simtest {

class TestCable {
public:
    static constexpr std::uint16_t kBase = 0x378;

    explicit TestCable(orbvex::sim::VirtualReceiver& receiver, std::uint16_t base = kBase)
        : r_(receiver), base_(base) {}

    // One clock: TDO read while TCK is low, then TMS/TDI set, TCK up, TCK down.
    bool Clock(bool tms, bool tdi);
    void SetReset(bool high);
    bool ResetHigh() const { return reset_; }

    void TapReset();                      // to Run-Test/Idle
    std::uint32_t ShiftIr(std::uint32_t value);  // from Run-Test/Idle, back to Run-Test/Idle
    std::uint64_t ShiftDr(std::uint64_t value, int bits);  // from Run-Test/Idle, back to it
    std::uint32_t ReadIdcode();
    void SelectDcu();                     // leaves the TAP in Shift-DR on the DCU

    // DCU framing. Each of these counts the clocks it gave in `clocks`.
    bool SendByte(std::uint8_t value, bool* earlyAck = nullptr);
    bool ReceiveByte(std::uint8_t* value, int startLimit = 2024);
    void Idle(int clocks);
    void Preamble();
    int Drain();

    // Messages as a host sends them, after a drain.
    int ReadBlock(std::uint32_t address, std::vector<std::uint8_t>* out);
    bool ReadWord(std::uint32_t address, std::uint32_t* out);
    bool WriteBlock(std::uint32_t address, const std::vector<std::uint8_t>& data, bool preamble = true);
    bool WriteWord(std::uint32_t address, std::uint32_t value, bool preamble = true);

    long clocks = 0;
    long busyPulses = 0;  // 0,1,0 pulses seen while waiting for a start

private:
    orbvex::sim::VirtualReceiver& r_;
    std::uint16_t base_;
    bool reset_ = true;
};

}  // namespace simtest

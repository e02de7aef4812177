// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "port/port_backend.h"
#include "util/result.h"

struct avr_t;
struct avr_irq_t;

namespace orbvex::probe {

// An ATmega328P board at 16 MHz, simulated cycle by cycle by simavr, running the probe
// firmware. Its port B lines are the cable: each change of TMS, TCK, TDI or the reset
// line is one write of the parallel cable's data register to `target`, and each read of
// port B's input register one read of its status register, TDO on bit 4. The serial
// line runs at the rates both ends are set to, one byte per ten bit times of simulated
// time; bytes the firmware has no room for are lost, as on the chip.
//
// The board's clock stops while the firmware sleeps with nothing on the line: the
// simulated time is the time the board needed, whatever the host's pauses.
class AvrBoard {
public:
    static constexpr std::uint32_t kClockHz = 16000000;

    AvrBoard(PortBackend& target, std::uint16_t lptBase = 0x378);
    ~AvrBoard();
    AvrBoard(const AvrBoard&) = delete;
    AvrBoard& operator=(const AvrBoard&) = delete;

    // Loads the firmware ELF and starts the board, or says why not.
    Status Load(const std::string& elfPath);

    // The host's end of the serial line: its rate, the bytes it sends (delivered at
    // that rate) and those it has received.
    void SetHostBaud(std::uint32_t baud) { hostBaud_ = baud; }
    // Rates the board's USB bridge can carry; bytes at any other rate are lost. Empty: any.
    void SetBridgeRates(std::vector<std::uint32_t> rates) { bridgeRates_ = std::move(rates); }
    void HostSend(const std::uint8_t* data, std::size_t size);
    std::string TakeReceived();

    // Runs until the firmware sleeps with nothing left to do, or for at most `cycles`.
    void Run(std::uint64_t cycles);
    bool Idle() const;
    bool Stopped() const;  // crashed or ran off its program
    // The reset button (or the bridge's DTR pulse): the firmware starts again.
    void Reset();
    // A lock-up where the firmware is now: its next instruction jumps to itself, until
    // the chip resets (the instruction is back as it was then).
    void HangHere();
    std::uint64_t Resets() const { return resets_; }
    // RAM the firmware never touched between its static data and the deepest its stack
    // went (the ATmega328P has 2048 bytes from 0x100).
    int StackHeadroom() const { return lowestStack_ - staticEnd_; }

    std::uint64_t Cycles() const;
    double Seconds() const { return static_cast<double>(Cycles()) / kClockHz; }
    // The firmware's line rate, from its divider.
    std::uint32_t FirmwareBaud() const;
    std::uint64_t BytesToHost() const { return bytesToHost_; }
    std::uint64_t BytesFromHost() const { return bytesFromHost_; }
    std::uint64_t Overruns() const { return overruns_; }

private:
    static void OnPort(avr_irq_t* irq, std::uint32_t value, void* param);
    static void OnSerialOut(avr_irq_t* irq, std::uint32_t value, void* param);
    static std::uint8_t OnPinRead(avr_t* avr, std::uint16_t addr, void* param);
    static std::uint64_t DeliverNext(avr_t* avr, std::uint64_t when, void* param);

    void UpdateLines();
    bool RatesMeet() const;
    bool BridgeCarries() const;
    std::uint64_t ByteCycles() const;
    void KeepUartInStep();
    void ScheduleDelivery();
    void RestartDelivery();
    void Restarted();

    PortBackend& target_;
    std::uint16_t base_;
    avr_t* avr_ = nullptr;
    void* uart_ = nullptr;  // simavr's avr_uart_t for USART0
    avr_irq_t* serialIn_ = nullptr;
    std::uint8_t (*pinRead_)(avr_t*, std::uint16_t, void*) = nullptr;
    void* pinReadParam_ = nullptr;
    int lines_ = -1;
    std::uint32_t hostBaud_ = 1000000;
    std::vector<std::uint32_t> bridgeRates_;
    std::deque<std::uint8_t> toBoard_;
    bool delivering_ = false;
    std::string received_;
    std::uint64_t bytesToHost_ = 0;
    std::uint64_t bytesFromHost_ = 0;
    std::uint64_t resets_ = 0;
    int staticEnd_ = 0;
    int lowestStack_ = 0x8FF;
    std::int64_t hungAt_ = -1;  // the flash address of the instruction a lock-up replaced
    std::uint16_t hungWord_ = 0;
    std::uint64_t overruns_ = 0;
};

}  // namespace orbvex::probe

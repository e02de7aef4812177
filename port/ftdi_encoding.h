// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orbvex::ftdi {

// Where the JTAG signals sit on an FTDI chip's low byte (ADBUS0-4 in MPSSE, D0-D4 in
// bit-bang: TXD, RXD, RTS#, CTS#, DTR# on an FT232R). The same bits in both modes.
inline constexpr std::uint8_t kPinTck = 0x01;
inline constexpr std::uint8_t kPinTdi = 0x02;
inline constexpr std::uint8_t kPinTdo = 0x04;  // the only input
inline constexpr std::uint8_t kPinTms = 0x08;
inline constexpr std::uint8_t kPinReset = 0x10;
inline constexpr std::uint8_t kPinOutputs = kPinTck | kPinTdi | kPinTms | kPinReset;

// The MPSSE commands used.
inline constexpr std::uint8_t kMpsseDataOut = 0x1B;    // TDI bits out on -ve edge, LSB first
inline constexpr std::uint8_t kMpsseDataOutIn = 0x3B;  // ... and TDO in on +ve edge
inline constexpr std::uint8_t kMpsseTmsOut = 0x4B;     // TMS bits out on -ve edge, TDI from bit 7
inline constexpr std::uint8_t kMpsseTmsOutIn = 0x6B;   // ... and TDO in on +ve edge
inline constexpr std::uint8_t kMpsseSetLow = 0x80;     // value, direction of the low byte
inline constexpr std::uint8_t kMpsseGetLow = 0x81;     // reads the low byte
inline constexpr std::uint8_t kMpsseLoopbackOff = 0x85;
inline constexpr std::uint8_t kMpsseDivisor = 0x86;  // low, high
inline constexpr std::uint8_t kMpsseSendImmediate = 0x87;
inline constexpr std::uint8_t kMpsseNoDivideBy5 = 0x8A;   // 60 MHz master clock (H chips)
inline constexpr std::uint8_t kMpsseNoThreePhase = 0x8D;  // H chips
inline constexpr std::uint8_t kMpsseNoAdaptive = 0x97;    // H chips
inline constexpr std::uint8_t kMpsseBadCommand = 0xAA;    // answered with 0xFA and itself
inline constexpr std::uint8_t kMpsseBadCommandReply = 0xFA;

// Turns what the link does to the parallel port's registers (data-register values,
// requests for TDO) into the bytes one FTDI mode sends, and says where in the bytes the
// chip sends back each TDO answer lies. The pins follow the link's writes exactly: a
// clock where the link gives a rising TCK edge, with the TMS, TDI and reset line it set.
class Encoder {
public:
    // Where one answer lies in the reply bytes not yet read.
    struct Slot {
        std::size_t reply;
        std::uint8_t mask;
    };

    virtual ~Encoder() = default;
    // One value of the data register (cable bits: TMS, TCK, TDI, reset line).
    virtual void Write(std::uint8_t data) = 0;
    // TDO as it stands now, before the next rising edge.
    void RequestTdo() { ++waiting_; }
    bool Waiting() const { return waiting_ > 0; }
    // Gives the requests still waiting for a clock a place of their own in the reply.
    virtual void PlaceWaiting() = 0;
    // Ends the batch so that it can go out (and the chip answers at once).
    virtual void Finish() {}

    std::vector<std::uint8_t> out;  // to send
    std::size_t replies = 0;        // reply bytes due for what was sent or is to be sent
    std::vector<Slot> slots;        // the answers in them, oldest first

protected:
    void Place(std::size_t reply, std::uint8_t mask) {
        for (; waiting_ > 0; --waiting_) slots.push_back({reply, mask});
    }
    std::size_t waiting_ = 0;
};

// MPSSE (FT2232C/D A, FT2232H and FT4232H A and B, FT232H): clocks as clock-data commands
// while TMS stays, TMS commands where it changes; runs merged into one command each (up
// to 8 bits of TDI, or 6 of TMS under one TDI, 7 when the last equals TDI); TDO read on
// the rising edge of the clock it belongs to, or with a pin read when no clock follows;
// the reset line set with the low byte.
class MpsseEncoder final : public Encoder {
public:
    MpsseEncoder();
    void Write(std::uint8_t data) override;
    void PlaceWaiting() override;
    void Finish() override;

private:
    enum class Kind { None,
                      Data,
                      Tms };
    void AddClock(bool tms, bool tdi);
    void Close();
    void SetPins(std::uint8_t data);

    std::uint8_t last_ = 0;   // the data register as the link last wrote it
    bool tmsAfter_ = false;   // TMS on the pin once what is queued has run
    Kind kind_ = Kind::None;  // the command being built
    int bits_ = 0;
    std::uint8_t byte_ = 0;
    bool read_ = false;
    std::vector<int> sampledBits_;  // which of its bits answer a request
};

// Synchronous bit-bang (FT232R, FT2232C/D B, FT4232H C and D): every data-register value
// is one byte, one pin state; the chip reads the pins just before it applies each byte,
// so a request is answered by the byte written after it.
class SyncBitbangEncoder final : public Encoder {
public:
    SyncBitbangEncoder();
    void Write(std::uint8_t data) override;
    void PlaceWaiting() override { Write(last_); }  // a repeat changes no pin

private:
    std::uint8_t last_ = 0;
};

}  // namespace orbvex::ftdi

// SPDX-License-Identifier: GPL-2.0-or-later
#include "port/ftdi_encoding.h"

#include "port/cable_wiring.h"

namespace orbvex::ftdi {
namespace {

// The chip's pins for a data-register value.
std::uint8_t PinsOf(std::uint8_t data) {
    return static_cast<std::uint8_t>(((data & cable::kTck) ? kPinTck : 0) | ((data & cable::kTdi) ? kPinTdi : 0) |
                                     ((data & cable::kTms) ? kPinTms : 0) |
                                     ((data & cable::kResetLine) ? kPinReset : 0));
}

constexpr int kMostDataBits = 8;
// A TMS command holds up to 7 bits, bit 7 carrying TDI; but with all 7 the chips also
// drive that TDI bit onto TMS on the 7th clock's falling edge, leaving TMS where the
// next command does not expect it. A 7th bit is taken only when TMS stays where TDI puts it.
constexpr int kSafeTmsBits = 6;

}  // namespace

// Every pin low, as the link expects before its first write.
MpsseEncoder::MpsseEncoder() { SetPins(0); }

void MpsseEncoder::Write(std::uint8_t data) {
    if ((data ^ last_) & cable::kResetLine) SetPins(static_cast<std::uint8_t>(data & ~cable::kTck));
    if ((data & cable::kTck) && !(last_ & cable::kTck)) AddClock(data & cable::kTms, data & cable::kTdi);
    last_ = data;
}

void MpsseEncoder::AddClock(bool tms, bool tdi) {
    const bool fitsData = kind_ == Kind::Data && tms == tmsAfter_ && bits_ < kMostDataBits;
    const bool fitsTms = kind_ == Kind::Tms && tdi == ((byte_ & 0x80) != 0) &&
                         (bits_ < kSafeTmsBits || (bits_ == kSafeTmsBits && tms == tdi));
    if (!fitsData && !fitsTms) {
        Close();
        kind_ = tms == tmsAfter_ ? Kind::Data : Kind::Tms;
        byte_ = kind_ == Kind::Tms && tdi ? 0x80 : 0;
    }
    if (kind_ == Kind::Data ? tdi : tms) byte_ = static_cast<std::uint8_t>(byte_ | (1u << bits_));
    for (; waiting_ > 0; --waiting_) sampledBits_.push_back(bits_);
    read_ = read_ || !sampledBits_.empty();
    ++bits_;
    tmsAfter_ = tms;
}

// A bit-mode read brings one byte, the bits shifted in from the top: the first of n bits
// lands in bit 8 - n.
void MpsseEncoder::Close() {
    if (kind_ == Kind::None) return;
    const std::uint8_t command = kind_ == Kind::Data ? (read_ ? kMpsseDataOutIn : kMpsseDataOut)
                                                     : (read_ ? kMpsseTmsOutIn : kMpsseTmsOut);
    out.insert(out.end(), {command, static_cast<std::uint8_t>(bits_ - 1), byte_});
    if (read_) {
        for (int bit : sampledBits_) slots.push_back({replies, static_cast<std::uint8_t>(1u << (kMostDataBits - bits_ + bit))});
        ++replies;
    }
    kind_ = Kind::None;
    bits_ = 0;
    byte_ = 0;
    read_ = false;
    sampledBits_.clear();
}

void MpsseEncoder::SetPins(std::uint8_t data) {
    Close();
    PlaceWaiting();  // what TDO was before the change
    out.insert(out.end(), {kMpsseSetLow, PinsOf(data), kPinOutputs});
    tmsAfter_ = (data & cable::kTms) != 0;
}

void MpsseEncoder::PlaceWaiting() {
    if (!Waiting()) return;
    Close();
    out.push_back(kMpsseGetLow);
    Place(replies++, kPinTdo);
}

void MpsseEncoder::Finish() {
    Close();
    if (!out.empty()) out.push_back(kMpsseSendImmediate);
}

SyncBitbangEncoder::SyncBitbangEncoder() { Write(0); }

void SyncBitbangEncoder::Write(std::uint8_t data) {
    Place(replies, kPinTdo);
    out.push_back(PinsOf(data));
    ++replies;
    last_ = data;
}

}  // namespace orbvex::ftdi

// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/ftdi_standin.h"

#include "port/cable_wiring.h"
#include "port/ftdi_encoding.h"

namespace orbvex {

using namespace ftdi;

int FtdiStandIn::FindAll(std::uint16_t vendor, std::uint16_t product, std::vector<FtdiDeviceInfo>& found) {
    found.clear();
    found_.clear();
    for (const Device& d : devices)
        if (vendor ? d.info.vendor == vendor && d.info.product == product : d.info.vendor == 0x0403)
            found_.push_back(d), found.push_back(d.info);
    return static_cast<int>(found.size());
}

FtdiOpenError FtdiStandIn::Open(std::size_t index, int interface, FtdiHandle* opened, std::string* detail) {
    *detail = "stand-in says no";
    if (openError != FtdiOpenError::None) return openError;
    const Device& device = found_.at(index);
    if (device.info.interfaces && interface > device.info.interfaces) return FtdiOpenError::Busy;
    chip_ = device.chip;
    interface_ = interface;
    ++openHandles;
    *opened = 1;
    return FtdiOpenError::None;
}

int FtdiStandIn::Write(FtdiHandle, const std::uint8_t* data, int size) {
    if (unplugAfterWrites >= 0 && static_cast<long>(writes) >= unplugAfterWrites) unplugged_ = true;
    if (unplugged_) return -666;
    ++writes;
    for (int i = 0; i < size; ++i) {
        if (mode_ == 0x04) {  // synchronous bit-bang
            replies_.push_back(PinsNow());
            SetPins(data[i] & kPinOutputs);
        } else if (HasMpsse()) {
            pending_.push_back(data[i]);
            while (RunMpsse()) {
            }
        }
    }
    return size;
}

int FtdiStandIn::Read(FtdiHandle, std::uint8_t* data, int size) {
    if (unplugged_) return -666;
    int n = 0;
    for (; n < size && !replies_.empty(); ++n, replies_.pop_front()) data[n] = replies_.front();
    reads += n > 0;
    return n;
}

bool FtdiStandIn::HasMpsse() const { return chip_ != FtdiChip::Ft2232C || interface_ == 1; }

bool FtdiStandIn::RunMpsse() {
    if (pending_.empty()) return false;
    const std::uint8_t command = pending_[0];
    // A shifting command's bits as the chip reads them, not through the tool's constants, so
    // that a wrong constant in the tool is not shared by the stand-in: bit mode, TDO read on
    // the falling edge, TDO read at all, TMS written.
    constexpr std::uint8_t kBitMode = 0x02, kReadOnFalling = 0x04, kReadTdo = 0x20, kWriteTms = 0x40;
    const bool clocks = !(command & 0x80) && (command & kBitMode);
    const std::size_t length = clocks || command == kMpsseSetLow || command == kMpsseDivisor ? 3 : 1;
    if (pending_.size() < length) return false;
    const std::uint8_t* args = pending_.data() + 1;
    if (clocks) {
        // Each bit: data out with TCK low, TDO in on the rising edge (or, when the command asks,
        // after the falling edge, when the target has already moved on), shifted in from the
        // top as the chip does for bit-mode reads; TCK low again.
        std::uint8_t sampled = 0;
        const auto sample = [&] { sampled = static_cast<std::uint8_t>((sampled >> 1) | ((PinsNow() & kPinTdo) ? 0x80 : 0)); };
        for (int i = 0; i <= args[0]; ++i) {
            const bool bit = (args[1] >> i) & 1;
            const bool tms = command & kWriteTms ? bit : pins_ & kPinTms, tdi = command & kWriteTms ? args[1] & 0x80 : bit;
            const auto pins = static_cast<std::uint8_t>((pins_ & kPinReset) | (tms ? kPinTms : 0) | (tdi ? kPinTdi : 0));
            SetPins(pins);
            if (!(command & kReadOnFalling)) sample();
            SetPins(pins | kPinTck);
            SetPins(pins);
            if (command & kReadOnFalling) sample();
        }
        if ((command & kWriteTms) && args[0] == 6)  // the 7th clock's falling edge puts TDI's bit onto TMS
            SetPins(static_cast<std::uint8_t>((pins_ & ~kPinTms) | ((args[1] & 0x80) ? kPinTms : 0)));
        if (command & kReadTdo) replies_.push_back(sampled);
    } else if (command == kMpsseSetLow) {
        SetPins(args[0] & kPinOutputs);
    } else if (command == kMpsseGetLow) {
        replies_.push_back(PinsNow());
    } else if (command == kMpsseBadCommand) {
        replies_.insert(replies_.end(), {kMpsseBadCommandReply, command});
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(length));
    return true;
}

void FtdiStandIn::SetPins(std::uint8_t pins) {
    if (pins == pins_) return;
    pins_ = pins;
    if (target_)
        target_->Write(0x378, static_cast<std::uint8_t>(((pins & kPinTck) ? cable::kTck : 0) | ((pins & kPinTdi) ? cable::kTdi : 0) |
                                                        ((pins & kPinTms) ? cable::kTms : 0) |
                                                        ((pins & kPinReset) ? cable::kResetLine : 0)));
}

std::uint8_t FtdiStandIn::PinsNow() {
    const bool tdo = !target_ || (target_->Read(0x379) & cable::kTdoStatus);
    return static_cast<std::uint8_t>(pins_ | (tdo ? kPinTdo : 0));
}

}  // namespace orbvex

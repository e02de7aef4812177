#include "support/ftdi_standin.h"

#include "port/cable_wiring.h"
#include "port/ftdi_encoding.h"

namespace orbvex {
namespace {

constexpr unsigned char kMpsse = 0x02;
constexpr unsigned char kSyncBitbang = 0x04;

// The parallel-port data register for the chip's pins.
std::uint8_t DataOf(std::uint8_t pins) {
    return static_cast<std::uint8_t>(((pins & ftdi::kPinTck) ? cable::kTck : 0) | ((pins & ftdi::kPinTdi) ? cable::kTdi : 0) |
                                     ((pins & ftdi::kPinTms) ? cable::kTms : 0) |
                                     ((pins & ftdi::kPinReset) ? cable::kResetLine : 0));
}

}  // namespace

int FtdiStandIn::FindAll(std::uint16_t vendor, std::uint16_t product, std::vector<FtdiDeviceInfo>& found) {
    found.clear();
    for (const Device& d : devices)
        if ((vendor == 0 && d.info.vendor == 0x0403) || (d.info.vendor == vendor && d.info.product == product))
            found.push_back(d.info);
    found_ = found;
    return static_cast<int>(found.size());
}

FtdiOpenError FtdiStandIn::Open(std::size_t index, int interface, FtdiHandle* opened, std::string* detail) {
    if (openError != FtdiOpenError::None) {
        if (detail) *detail = openDetail;
        return openError;
    }
    for (const Device& d : devices)
        if (index < found_.size() && d.info.serial == found_[index].serial && d.info.product == found_[index].product)
            chip_ = d.chip;
    interfaceOpened = interface;
    ++openHandles;
    *opened = 1;
    return FtdiOpenError::None;
}

int FtdiStandIn::SetBitmode(FtdiHandle, unsigned char, unsigned char mode) {
    bitmode = mode;
    pending_.clear();
    return Alive();
}

int FtdiStandIn::Purge(FtdiHandle) {
    replies_.clear();
    pending_.clear();
    return Alive();
}

int FtdiStandIn::Write(FtdiHandle, const std::uint8_t* data, int size) {
    if (unplugAfterWrites >= 0 && static_cast<long>(writes) >= unplugAfterWrites) unplugged_ = true;
    if (unplugged_) return -666;
    ++writes;
    bytesOut += static_cast<std::uint64_t>(size);
    for (int i = 0; i < size; ++i) {
        if (bitmode == kSyncBitbang) {
            replies_.push_back(PinsNow());
            SetPins(data[i] & ftdi::kPinOutputs);
        } else if (bitmode == kMpsse) {
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
    for (; n < size && !replies_.empty(); ++n) {
        data[n] = replies_.front();
        replies_.pop_front();
    }
    reads += n > 0;
    return n;
}

bool FtdiStandIn::RunMpsse() {
    if (pending_.empty()) return false;
    const std::uint8_t command = pending_[0];
    std::size_t length = 1;
    switch (command) {
        case ftdi::kMpsseDataOut: case ftdi::kMpsseDataOutIn: case ftdi::kMpsseTmsOut: case ftdi::kMpsseTmsOutIn:
        case ftdi::kMpsseSetLow: case ftdi::kMpsseDivisor:
            length = 3;
            break;
        default: break;
    }
    if (pending_.size() < length) return false;
    const std::uint8_t* args = pending_.data() + 1;
    switch (command) {
        case ftdi::kMpsseDataOut: case ftdi::kMpsseDataOutIn: case ftdi::kMpsseTmsOut: case ftdi::kMpsseTmsOutIn: {
            const bool tmsCommand = command & 0x40, read = command & 0x20;
            const int bits = args[0] + 1;
            std::uint8_t sampled = 0;
            for (int i = 0; i < bits; ++i) {
                const bool bit = (args[1] >> i) & 1;
                if (tmsCommand) Clock(bit, args[1] & 0x80, read, sampled);
                else Clock(pins_ & ftdi::kPinTms, bit, read, sampled);
            }
            if (read) replies_.push_back(sampled);
            break;
        }
        case ftdi::kMpsseSetLow: SetPins(args[0] & ftdi::kPinOutputs); break;
        case ftdi::kMpsseGetLow: replies_.push_back(PinsNow()); break;
        case ftdi::kMpsseLoopbackOff: case ftdi::kMpsseDivisor: case ftdi::kMpsseSendImmediate:
        case ftdi::kMpsseNoDivideBy5: case ftdi::kMpsseNoThreePhase: case ftdi::kMpsseNoAdaptive:
            break;
        default: replies_.insert(replies_.end(), {ftdi::kMpsseBadCommandReply, command});
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(length));
    return true;
}

// One TCK cycle: data out while TCK is low, TDO in on the rising edge (shifted in from the
// top, as the chip does for bit-mode reads), TCK low again.
void FtdiStandIn::Clock(bool tms, bool tdi, bool read, std::uint8_t& sampled) {
    std::uint8_t pins = static_cast<std::uint8_t>((pins_ & ftdi::kPinReset) | (tms ? ftdi::kPinTms : 0) | (tdi ? ftdi::kPinTdi : 0));
    SetPins(pins);
    if (read) sampled = static_cast<std::uint8_t>((sampled >> 1) | ((PinsNow() & ftdi::kPinTdo) ? 0x80 : 0));
    SetPins(pins | ftdi::kPinTck);
    SetPins(pins);
}

void FtdiStandIn::SetPins(std::uint8_t pins) {
    if (pins == pins_) return;
    pins_ = pins;
    if (target_) target_->Write(base_, DataOf(pins));
}

std::uint8_t FtdiStandIn::PinsNow() {
    const bool tdo = target_ ? (target_->Read(static_cast<std::uint16_t>(base_ + 1)) & cable::kTdoStatus) : true;
    return static_cast<std::uint8_t>(pins_ | (tdo ? ftdi::kPinTdo : 0));
}

}  // namespace orbvex

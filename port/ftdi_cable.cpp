// SPDX-License-Identifier: GPL-2.0-or-later
#include "port/ftdi_cable.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "port/cable_wiring.h"

namespace orbvex {
namespace {

constexpr std::uint16_t kFtdiVendor = 0x0403;
constexpr unsigned char kBitmodeReset = 0x00;
constexpr unsigned char kBitmodeMpsse = 0x02;
constexpr unsigned char kBitmodeSyncBitbang = 0x04;
constexpr unsigned char kLatencyMs = 1;  // partial answers come back after 1 ms, not the default 16
// A TCK that a long passive cable to the receiver's header carries cleanly; freq= raises it.
constexpr std::uint32_t kDefaultTckHz = 1000000;
// Bit-bang writes two or three bytes per clock; libftdi counts a bit-bang rate four-fold
// against the chip's 3 MBd, so the pins change at most 750000 times a second.
constexpr std::uint32_t kBitbangMostChanges = 750000;
constexpr std::uint32_t kBitbangFastestTck = kBitbangMostChanges / 2;
// Bytes sent in one go, and reply bytes left in the chip: within the smallest buffers of
// the family (the FT232R holds 256 bytes for the host, the FT2232D 384), so that the chip
// never stalls on answers nobody reads.
constexpr std::size_t kMostQueued = 4096;
constexpr std::size_t kMostRepliesMpsse = 256;
constexpr std::size_t kMostRepliesBitbang = 128;
// A chip that sends nothing for this long is taken for gone.
constexpr auto kAnswerTimeout = std::chrono::seconds(5);

}  // namespace

struct FtdiCable::ChipFacts {
    FtdiChip chip;
    const char* name;
    int interfaces;
    int mpsseInterfaces;          // from A: the channels with an MPSSE engine; the others bit-bang
    std::uint32_t masterClockHz;  // MPSSE: TCK = master / (2 * (divisor + 1))
    bool highSpeed;               // has the 60 MHz clock and the commands that go with it
};

namespace {
using ChipFacts = FtdiCable::ChipFacts;

constexpr ChipFacts kChips[] = {
    {FtdiChip::Ft232R, "FT232R", 1, 0, 0, false},
    {FtdiChip::Ft2232C, "FT2232C/D", 2, 1, 12000000, false},
    {FtdiChip::Ft2232H, "FT2232H", 2, 2, 60000000, true},
    {FtdiChip::Ft4232H, "FT4232H", 4, 2, 60000000, true},
    {FtdiChip::Ft232H, "FT232H", 1, 1, 60000000, true},
};

const ChipFacts* FactsOf(FtdiChip chip) {
    for (const ChipFacts& facts : kChips)
        if (facts.chip == chip) return &facts;
    return nullptr;
}

// Interfaces the device has, known before it is opened: from its USB descriptor, or for
// FTDI's own product ids from the id; 0 when unknown.
int KnownInterfaces(const FtdiDeviceInfo& device) {
    if (device.interfaces > 0) return device.interfaces;
    if (device.vendor != kFtdiVendor) return 0;
    switch (device.product) {
    case 0x6001:
    case 0x6014:
    case 0x6015: return 1;
    case 0x6010: return 2;
    case 0x6011: return 4;
    default: return 0;
    }
}

std::string UsbId(std::uint16_t vendor, std::uint16_t product) {
    char text[10];
    std::snprintf(text, sizeof text, "%04x:%04x", vendor, product);
    return text;
}

std::string Describe(const FtdiDeviceInfo& device) {
    std::string text = UsbId(device.vendor, device.product);
    if (!device.description.empty()) text += " \"" + device.description + "\"";
    if (!device.serial.empty()) text += " serial " + device.serial;
    return text;
}

std::string DescribeAll(const std::vector<FtdiDeviceInfo>& devices) {
    std::string text;
    for (const FtdiDeviceInfo& device : devices) text += (text.empty() ? "" : ", ") + Describe(device);
    return text;
}

std::string Wanted(const FtdiSelection& selection) {
    std::string text = "FTDI cable";
    if (selection.vendor) text += " " + UsbId(selection.vendor, selection.product);
    if (selection.serial) text += " with serial " + *selection.serial;
    return text;
}

// The place of the one device that fits in found, or why there is none.
Result<std::size_t> Choose(FtdiApi& api, const FtdiSelection& selection, const std::vector<FtdiDeviceInfo>& found) {
    std::vector<FtdiDeviceInfo> fits;
    std::size_t index = 0;
    for (std::size_t i = 0; i < found.size(); ++i) {
        if (selection.serial && found[i].serial != *selection.serial) continue;
        fits.push_back(found[i]);
        index = i;
    }
    if (fits.size() == 1) return index;
    if (fits.size() > 1)
        return Failure(std::to_string(fits.size()) + " FTDI cables found (" + DescribeAll(fits) + "); name one with serial=S");
    std::vector<FtdiDeviceInfo> any = found;
    if (selection.vendor) api.FindAll(0, 0, any);  // what else is plugged in, to show
    return Failure("no " + Wanted(selection) + " found" +
                   (any.empty() ? "; is it plugged in? (lsusb lists the USB devices)" : "; found: " + DescribeAll(any)));
}

std::string OpenFailure(FtdiOpenError why, const std::string& name, char interface, const std::string& detail) {
    const std::string said = detail.empty() ? "" : " (" + detail + ")";
    switch (why) {
    case FtdiOpenError::NoAccess:
        return "cannot open FTDI cable " + name + ": permission denied" + said +
               "; install the udev rule packaging/udev/60-orbvex-ftdi.rules in /etc/udev/rules.d, join the "
               "plugdev group, log in again and plug the cable in again (or run as root)";
    case FtdiOpenError::Busy:
        return std::string("cannot claim interface ") + interface + " of FTDI cable " + name + said +
               ": the kernel's serial driver (ftdi_sio) could not be detached, or another program holds it; "
               "close whatever uses its /dev/ttyUSB port, or unload the driver (sudo rmmod ftdi_sio)";
    case FtdiOpenError::Gone:
        return "FTDI cable " + name + " went away while it was being opened; plug it in again";
    default:
        return "cannot open FTDI cable " + name + said;
    }
}

}  // namespace

Result<std::unique_ptr<FtdiCable>> FtdiCable::Open(FtdiApi& api, const FtdiSelection& selection) {
    std::vector<FtdiDeviceInfo> found;
    const int searched = api.FindAll(selection.vendor, selection.product, found);
    if (searched < 0) return Failure("cannot search the USB devices for FTDI cables: " + api.ErrorText(0));
    const Result<std::size_t> chosen = Choose(api, selection, found);
    if (!chosen) return Failure(chosen.Error());
    const std::size_t index = chosen.Value();
    const FtdiDeviceInfo& device = found[index];
    std::string name = Describe(device);
    const int known = KnownInterfaces(device);
    if (known && selection.interface > known)
        return Failure("FTDI cable " + name + " has no interface " + selection.InterfaceLetter() + " (it has " +
                       (known == 1 ? std::string("only A") : std::string("A to ") + static_cast<char>('A' + known - 1)) +
                       ")");

    FtdiHandle handle = 0;
    std::string detail;
    const FtdiOpenError opened = api.Open(index, selection.interface, &handle, &detail);
    if (opened != FtdiOpenError::None) return Failure(OpenFailure(opened, name, selection.InterfaceLetter(), detail));
    const FtdiChip chip = api.Chip(handle);
    const ChipFacts* facts = FactsOf(chip);
    if (!facts || selection.interface > facts->interfaces) {
        api.Close(handle);
        return Failure("FTDI cable " + name +
                       (facts ? std::string(" is an ") + facts->name + " without interface " + selection.InterfaceLetter()
                              : " is a chip with neither MPSSE nor synchronous bit-bang (an FT232R, "
                                "FT2232, FT4232H or FT232H is needed)"));
    }
    const bool mpsse = selection.interface <= facts->mpsseInterfaces;
    const std::uint32_t fastest = mpsse ? facts->masterClockHz / 2 : kBitbangFastestTck;
    name = std::string(facts->name) + " " + name + " interface " + selection.InterfaceLetter();
    // Whether a channel bit-bangs is the chip's business, not the user's: there a freq=
    // above what bit-bang can give means its fastest (a slower TCK is always safe).
    if (mpsse && selection.frequency && *selection.frequency > fastest) {
        api.Close(handle);
        return Failure("freq=" + std::to_string(*selection.frequency) + " is above the " + std::to_string(fastest) +
                       " Hz TCK that " + name + " can give");
    }

    std::uint32_t tck = std::min(selection.frequency.value_or(kDefaultTckHz), fastest);
    std::uint32_t divisor = 0;
    if (mpsse) {
        divisor = (facts->masterClockHz / 2 + tck - 1) / tck - 1;  // never faster than asked
        tck = facts->masterClockHz / (2 * (divisor + 1));
    }
    std::unique_ptr<FtdiCable> cable(new FtdiCable(api, handle, mpsse ? Mode::Mpsse : Mode::SyncBitbang, name, tck,
                                                   mpsse ? kMostRepliesMpsse : kMostRepliesBitbang));
    const Status ready = cable->SetUp(*facts, divisor);
    if (!ready) return Failure(ready.Error());  // the destructor closes the chip
    return cable;
}

FtdiCable::FtdiCable(FtdiApi& api, FtdiHandle handle, Mode mode, std::string name, std::uint32_t tckHz,
                     std::size_t maxReplies)
    : api_(api), handle_(handle), mode_(mode), name_(std::move(name)), tckHz_(tckHz), maxReplies_(maxReplies) {}

FtdiCable::~FtdiCable() {
    if (encoder_ && !Failed()) Flush();
    api_.Close(handle_);
}

Status FtdiCable::SetUp(const ChipFacts& facts, std::uint32_t divisor) {
    const bool mpsse = mode_ == Mode::Mpsse;
    const unsigned char mode = mpsse ? kBitmodeMpsse : kBitmodeSyncBitbang;
    auto failed = [&](const char* step) -> Status {
        return Failure("cannot set up FTDI cable " + name_ + ": " + step + " failed: " + api_.ErrorText(handle_));
    };
    if (api_.Purge(handle_) < 0) return failed("emptying its buffers");
    if (api_.SetLatencyTimer(handle_, kLatencyMs) < 0) return failed("setting the latency timer");
    if (api_.SetBitmode(handle_, 0, kBitmodeReset) < 0 || api_.SetBitmode(handle_, ftdi::kPinOutputs, mode) < 0)
        return failed(mpsse ? "entering MPSSE mode" : "entering synchronous bit-bang mode");
    if (!mpsse && api_.SetBaudRate(handle_, static_cast<int>(2 * tckHz_)) < 0) return failed("setting the pin rate");
    if (mpsse) {
        const Status engine = CheckMpsse();
        if (!engine) return engine;
    }

    if (mpsse) {
        encoder_ = std::make_unique<ftdi::MpsseEncoder>();
        std::vector<std::uint8_t> setup;
        if (facts.highSpeed) setup = {ftdi::kMpsseNoDivideBy5, ftdi::kMpsseNoAdaptive, ftdi::kMpsseNoThreePhase};
        setup.insert(setup.end(), {ftdi::kMpsseLoopbackOff, ftdi::kMpsseDivisor, static_cast<std::uint8_t>(divisor & 0xFF),
                                   static_cast<std::uint8_t>(divisor >> 8)});
        encoder_->out.insert(encoder_->out.begin(), setup.begin(), setup.end());  // before the pins go low
    } else {
        encoder_ = std::make_unique<ftdi::SyncBitbangEncoder>();
    }
    Exchange();  // the pins low, and proof that the chip takes bytes
    if (Failed()) return Failure("cannot set up FTDI cable " + name_ + ": " + FailureReason());
    return {};
}

// A bad command must come back as 0xFA and itself: the engine is there and in step.
Status FtdiCable::CheckMpsse() {
    const std::uint8_t probe = ftdi::kMpsseBadCommand;
    std::vector<std::uint8_t> answer(2);
    if (api_.Write(handle_, &probe, 1) != 1 || !ReadReplies(answer) || answer[0] != ftdi::kMpsseBadCommandReply ||
        answer[1] != probe)
        return Failure("FTDI cable " + name_ + " does not answer as an MPSSE engine" +
                       (Failed() ? ": " + FailureReason() : std::string()) + "; unplug it and plug it in again");
    return {};
}

std::uint8_t FtdiCable::Read(std::uint16_t port) {
    RequestRead(port);
    return TakeRead();
}

void FtdiCable::Write(std::uint16_t, std::uint8_t value) {
    if (Failed()) return;
    encoder_->Write(value);
    if (encoder_->replies >= maxReplies_) Exchange();
    else if (encoder_->out.size() >= kMostQueued) Send();
}

void FtdiCable::RequestRead(std::uint16_t) {
    if (!Failed()) encoder_->RequestTdo();
}

std::uint8_t FtdiCable::TakeRead() {
    if (answers_.empty() && !Failed()) {
        // The oldest request may still wait for the clock it belongs to.
        if (encoder_->slots.empty()) encoder_->PlaceWaiting();
        Exchange();
    }
    if (answers_.empty()) return cable::kTdoStatus;  // a cable that is gone reads TDO 1
    const bool tdo = answers_.front();
    answers_.pop_front();
    return tdo ? cable::kTdoStatus : 0;
}

void FtdiCable::Flush() {
    if (Failed()) return;
    encoder_->Finish();
    Send();
}

void FtdiCable::Send() {
    std::vector<std::uint8_t>& out = encoder_->out;
    if (out.empty() || Failed()) return;
    const int written = api_.Write(handle_, out.data(), static_cast<int>(out.size()));
    if (written != static_cast<int>(out.size())) Lost("sending to", written);
    out.clear();
}

void FtdiCable::Exchange() {
    encoder_->Finish();
    Send();
    std::vector<std::uint8_t> replies(encoder_->replies);
    if (!Failed() && ReadReplies(replies))
        for (const ftdi::Encoder::Slot& slot : encoder_->slots) answers_.push_back((replies[slot.reply] & slot.mask) != 0);
    encoder_->replies = 0;
    encoder_->slots.clear();
}

bool FtdiCable::ReadReplies(std::vector<std::uint8_t>& replies) {
    std::size_t got = 0;
    auto lastProgress = std::chrono::steady_clock::now();
    while (got < replies.size()) {
        const int n = api_.Read(handle_, replies.data() + got, static_cast<int>(replies.size() - got));
        if (n < 0) {
            Lost("reading from", n);
            return false;
        }
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            lastProgress = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - lastProgress > kAnswerTimeout) {
            Fail("FTDI cable " + name_ + " stopped answering; check that it is still plugged in");
            return false;
        } else {
            std::this_thread::yield();
        }
    }
    return true;
}

void FtdiCable::Lost(const std::string& what, int result) {
    Fail(what + " FTDI cable " + name_ + " failed (" + (result < 0 ? api_.ErrorText(handle_) : "a short transfer") +
         "); check that it is still plugged in");
}

}  // namespace orbvex

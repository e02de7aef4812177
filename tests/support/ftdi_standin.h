// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "port/ftdi_api.h"
#include "port/port_backend.h"

namespace orbvex {

// FTDI chips on a USB bus in memory. The open chip plays the byte streams at pin level:
// MPSSE commands (those the cable uses, and the bad command that shows the engine is there) and
// synchronous bit-bang bytes (the pins read, then set). As the real chips do, a 7-bit TMS
// command leaves its TDI bit on TMS, an FT2232C/D's B has no MPSSE engine (its bytes get
// no answer), and a channel the device lacks cannot be claimed. Wired to a backend, the pins are
// the cable's with a receiver on the other end: each change of TCK, TMS, TDI or the reset
// line is a write of its data register, TDO bit 4 of its status register.
class FtdiStandIn final : public FtdiApi {
public:
    struct Device {
        FtdiDeviceInfo info;
        FtdiChip chip;
    };
    std::vector<Device> devices;
    void WireTo(PortBackend& target) { target_ = &target; }
    FtdiOpenError openError = FtdiOpenError::None;  // every open fails so
    long unplugAfterWrites = -1;                    // the cable goes away after this many writes
    std::uint64_t writes = 0, reads = 0;            // transfers out, and reads that brought bytes
    int openHandles = 0;

    int FindAll(std::uint16_t vendor, std::uint16_t product, std::vector<FtdiDeviceInfo>& found) override;
    FtdiOpenError Open(std::size_t index, int interface, FtdiHandle* opened, std::string* detail) override;
    FtdiChip Chip(FtdiHandle) override { return chip_; }
    int SetLatencyTimer(FtdiHandle, unsigned char) override { return Alive(); }
    int SetBitmode(FtdiHandle, unsigned char, unsigned char mode) override { return mode_ = mode, Alive(); }
    int SetBaudRate(FtdiHandle, int) override { return Alive(); }
    int Purge(FtdiHandle) override { return pending_.clear(), replies_.clear(), Alive(); }
    int Write(FtdiHandle, const std::uint8_t* data, int size) override;
    int Read(FtdiHandle, std::uint8_t* data, int size) override;
    std::string ErrorText(FtdiHandle) override { return unplugged_ ? "USB device unavailable" : "stand-in error"; }
    void Close(FtdiHandle) override { --openHandles; }

private:
    int Alive() const { return unplugged_ ? -666 : 0; }
    bool HasMpsse() const;
    bool RunMpsse();  // one whole command from pending_, false when it is not all in
    void SetPins(std::uint8_t pins);
    std::uint8_t PinsNow();

    std::vector<Device> found_;
    FtdiChip chip_ = FtdiChip::Other;
    int interface_ = 1;
    unsigned char mode_ = 0;
    bool unplugged_ = false;
    std::vector<std::uint8_t> pending_;
    std::deque<std::uint8_t> replies_;
    std::uint8_t pins_ = 0;
    PortBackend* target_ = nullptr;
};

// Passes a cable's accesses on to a receiver and keeps a fingerprint of the pin states
// it sees (each change of the data register), so that two runs can be compared.
class PinRecorder final : public PortBackend {
public:
    explicit PinRecorder(PortBackend& target) : target_(target) {}
    std::uint8_t Read(std::uint16_t port) override { return target_.Read(port); }
    void Write(std::uint16_t port, std::uint8_t value) override {
        if (value != last_) fingerprint = (fingerprint ^ value) * 0x100000001B3ull, ++changes;
        target_.Write(port, last_ = value);
    }
    std::uint64_t changes = 0, fingerprint = 0xCBF29CE484222325ull;

private:
    PortBackend& target_;
    std::uint8_t last_ = 0;
};

}  // namespace orbvex

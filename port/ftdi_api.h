// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace orbvex {

// The libftdi calls the FTDI cable makes, one method per call (or small group of calls)
// it needs. On Linux they go to libftdi1 (port/posix/ftdi_linux.cpp); where it is not
// built every call fails; the tests put a stand-in that plays the chip in their place.
// Results as libftdi gives them: 0 (or a count) on success, negative on failure, the
// words for which ErrorText gives.
using FtdiHandle = std::uintptr_t;  // 0: none

// One USB device as found, before it is opened.
struct FtdiDeviceInfo {
    std::uint16_t vendor = 0, product = 0;
    std::string description;  // the product string, empty when it could not be read
    std::string serial;
    int interfaces = 0;  // as its USB configuration lists them; 0 when that could not be read
};

// The chip families the cable tells apart: which mode it drives and how fast.
enum class FtdiChip { Other,
                      Ft232R,
                      Ft2232C,
                      Ft2232H,
                      Ft4232H,
                      Ft232H };

// Why an open failed, so that the user is told what to do about it.
enum class FtdiOpenError {
    None,
    NoAccess,  // the USB device node may not be opened by this user
    Busy,      // the interface could not be claimed: the kernel's serial driver or another program
    Gone,      // unplugged between the search and the open
    Other,
};

class FtdiApi {
public:
    virtual ~FtdiApi() = default;

    // ftdi_usb_find_all and ftdi_usb_get_strings: the devices with these ids (vendor 0:
    // FTDI's own ids), which Open then names by their place in this list.
    virtual int FindAll(std::uint16_t vendor, std::uint16_t product, std::vector<FtdiDeviceInfo>& found) = 0;
    // ftdi_new, ftdi_set_interface (1 to 4: A to D) and ftdi_usb_open_dev on a device of
    // the last search; detail holds libftdi's or libusb's own words on failure.
    virtual FtdiOpenError Open(std::size_t index, int interface, FtdiHandle* opened, std::string* detail) = 0;
    virtual FtdiChip Chip(FtdiHandle handle) = 0;
    // ftdi_set_latency_timer, in milliseconds.
    virtual int SetLatencyTimer(FtdiHandle handle, unsigned char ms) = 0;
    // ftdi_set_bitmode: the pins that are outputs and the mode (0 reset, 2 MPSSE, 4 synchronous bit-bang).
    virtual int SetBitmode(FtdiHandle handle, unsigned char outputs, unsigned char mode) = 0;
    // ftdi_set_baudrate: the pace of the pins in bit-bang mode.
    virtual int SetBaudRate(FtdiHandle handle, int rate) = 0;
    // ftdi_tcioflush: drops whatever either side still holds.
    virtual int Purge(FtdiHandle handle) = 0;
    // ftdi_write_data: the bytes written, or negative.
    virtual int Write(FtdiHandle handle, const std::uint8_t* data, int size) = 0;
    // ftdi_read_data: the bytes that came (0 when none yet), or negative.
    virtual int Read(FtdiHandle handle, std::uint8_t* data, int size) = 0;
    // ftdi_get_error_string.
    virtual std::string ErrorText(FtdiHandle handle) = 0;
    // ftdi_usb_close and ftdi_free.
    virtual void Close(FtdiHandle handle) = 0;
};

// libftdi1 on Linux where the build found it; elsewhere calls that fail and say why.
FtdiApi& SystemFtdiApi();

}  // namespace orbvex

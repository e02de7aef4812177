// SPDX-License-Identifier: GPL-2.0-or-later
// The FTDI calls on Linux, through libftdi1. A handle is the libftdi context of the open
// chip; the search keeps its own context and device list until the next search, so that
// Open can name a device by its place in the last one.
#include <ftdi.h>
#include <libusb.h>

#include "port/ftdi_api.h"

namespace orbvex {
namespace {

ftdi_context* ContextOf(FtdiHandle handle) { return reinterpret_cast<ftdi_context*>(handle); }

FtdiChip ChipOf(ftdi_chip_type type) {
    switch (type) {
    case TYPE_R: return FtdiChip::Ft232R;
    case TYPE_2232C: return FtdiChip::Ft2232C;
    case TYPE_2232H: return FtdiChip::Ft2232H;
    case TYPE_4232H: return FtdiChip::Ft4232H;
    case TYPE_232H: return FtdiChip::Ft232H;
    default: return FtdiChip::Other;
    }
}

class LinuxFtdiApi final : public FtdiApi {
public:
    ~LinuxFtdiApi() override { Forget(); }

    int FindAll(std::uint16_t vendor, std::uint16_t product, std::vector<FtdiDeviceInfo>& found) override {
        Forget();
        finder_ = ftdi_new();
        if (!finder_) return -1;
        const int count = ftdi_usb_find_all(finder_, &list_, vendor, product);
        if (count < 0) return count;
        found.clear();
        devices_.clear();
        for (ftdi_device_list* entry = list_; entry; entry = entry->next) {
            FtdiDeviceInfo info;
            libusb_device_descriptor descriptor{};
            if (libusb_get_device_descriptor(entry->dev, &descriptor) == 0) {
                info.vendor = descriptor.idVendor;
                info.product = descriptor.idProduct;
            }
            // Read from the cached descriptors, without opening the device: a channel the
            // chip lacks is then named as such rather than as one that could not be claimed.
            libusb_config_descriptor* config = nullptr;
            if (libusb_get_config_descriptor(entry->dev, 0, &config) == 0) {
                info.interfaces = config->bNumInterfaces;
                libusb_free_config_descriptor(config);
            }
            // Reading the strings opens the device: without the right to, they stay empty.
            char description[128] = "", serial[128] = "";
            if (ftdi_usb_get_strings(finder_, entry->dev, nullptr, 0, description, sizeof description, serial,
                                     sizeof serial) == 0) {
                info.description = description;
                info.serial = serial;
            }
            found.push_back(info);
            devices_.push_back(entry->dev);
        }
        return count;
    }

    FtdiOpenError Open(std::size_t index, int interface, FtdiHandle* opened, std::string* detail) override {
        if (!finder_ || index >= devices_.size()) return FtdiOpenError::Gone;
        libusb_device* device = devices_[index];
        // libftdi folds every failure of libusb_open into one code: ask libusb itself first.
        libusb_device_handle* probe = nullptr;
        const int tried = libusb_open(device, &probe);
        if (tried < 0) {
            if (detail) *detail = libusb_strerror(tried);
            return tried == LIBUSB_ERROR_ACCESS      ? FtdiOpenError::NoAccess
                   : tried == LIBUSB_ERROR_NO_DEVICE ? FtdiOpenError::Gone
                                                     : FtdiOpenError::Other;
        }
        libusb_close(probe);
        ftdi_context* context = finder_;
        ftdi_set_interface(context, static_cast<ftdi_interface>(interface));
        // libftdi detaches the kernel's serial driver from the interface before claiming it.
        const int result = ftdi_usb_open_dev(context, device);
        if (result < 0) {
            if (detail) *detail = ftdi_get_error_string(context);
            return result == -5 ? FtdiOpenError::Busy : result == -8 ? FtdiOpenError::NoAccess
                                                                     : FtdiOpenError::Other;
        }
        finder_ = nullptr;  // the context is the cable's now; the device list is no longer needed
        Forget();
        *opened = reinterpret_cast<FtdiHandle>(context);
        return FtdiOpenError::None;
    }

    FtdiChip Chip(FtdiHandle handle) override { return ChipOf(ContextOf(handle)->type); }
    int SetLatencyTimer(FtdiHandle handle, unsigned char ms) override { return ftdi_set_latency_timer(ContextOf(handle), ms); }
    int SetBitmode(FtdiHandle handle, unsigned char outputs, unsigned char mode) override {
        return ftdi_set_bitmode(ContextOf(handle), outputs, mode);
    }
    int SetBaudRate(FtdiHandle handle, int rate) override { return ftdi_set_baudrate(ContextOf(handle), rate); }
    int Purge(FtdiHandle handle) override { return ftdi_tcioflush(ContextOf(handle)); }
    int Write(FtdiHandle handle, const std::uint8_t* data, int size) override {
        return ftdi_write_data(ContextOf(handle), data, size);
    }
    int Read(FtdiHandle handle, std::uint8_t* data, int size) override { return ftdi_read_data(ContextOf(handle), data, size); }

    std::string ErrorText(FtdiHandle handle) override {
        ftdi_context* context = handle ? ContextOf(handle) : finder_;
        if (!context) return "out of memory";
        const char* text = ftdi_get_error_string(context);
        return text ? text : "unknown error";
    }

    void Close(FtdiHandle handle) override {
        ftdi_usb_close(ContextOf(handle));
        ftdi_free(ContextOf(handle));
    }

private:
    void Forget() {
        if (list_) ftdi_list_free(&list_);
        devices_.clear();
        if (finder_) ftdi_free(finder_);
        finder_ = nullptr;
    }

    ftdi_context* finder_ = nullptr;
    ftdi_device_list* list_ = nullptr;
    std::vector<libusb_device*> devices_;
};

}  // namespace

FtdiApi& SystemFtdiApi() {
    static LinuxFtdiApi api;
    return api;
}

}  // namespace orbvex

// SPDX-License-Identifier: GPL-2.0-or-later
// The GPIO calls on Linux, through libgpiod 1.6. A request is the bulk of lines it was
// made with, kept so that later sets and reads name the same lines in the same order.
#include <cerrno>
#include <memory>

#include <gpiod.h>

#include "port/gpiod_api.h"

namespace orbvex {
namespace {

gpiod_chip* ChipOf(GpioChipHandle handle) { return reinterpret_cast<gpiod_chip*>(handle); }
gpiod_line_bulk* BulkOf(GpioRequestHandle handle) { return reinterpret_cast<gpiod_line_bulk*>(handle); }

// libgpiod reports failure as -1 or null with the reason in errno.
int Failure() { return errno ? -errno : -EIO; }

class LinuxGpiodApi final : public GpiodApi {
public:
    int OpenChip(const char* chip, GpioChipHandle* opened) override {
        errno = 0;
        gpiod_chip* handle = gpiod_chip_open_lookup(chip);
        if (!handle) return errno ? -errno : -ENOENT;  // a lookup that finds nothing sets no errno
        *opened = reinterpret_cast<GpioChipHandle>(handle);
        return 0;
    }

    unsigned LineCount(GpioChipHandle chip) override { return gpiod_chip_num_lines(ChipOf(chip)); }

    bool LineInUse(GpioChipHandle chip, unsigned offset, std::string* consumer) override {
        gpiod_line* line = gpiod_chip_get_line(ChipOf(chip), offset);
        if (!line) return false;
        gpiod_line_update(line);
        if (!gpiod_line_is_used(line)) return false;
        const char* name = gpiod_line_consumer(line);
        if (consumer) *consumer = name ? name : "";
        return true;
    }

    int RequestLines(GpioChipHandle chip, const unsigned* offsets, unsigned count, const char* consumer,
                     const int* initial, GpioRequestHandle* request) override {
        auto bulk = std::make_unique<gpiod_line_bulk>();
        gpiod_line_bulk_init(bulk.get());
        if (gpiod_chip_get_lines(ChipOf(chip), const_cast<unsigned*>(offsets), count, bulk.get()) < 0) return Failure();
        const int result = initial ? gpiod_line_request_bulk_output(bulk.get(), consumer, initial)
                                   : gpiod_line_request_bulk_input(bulk.get(), consumer);
        if (result < 0) return Failure();
        *request = reinterpret_cast<GpioRequestHandle>(bulk.release());
        return 0;
    }

    int SetValues(GpioRequestHandle request, const int* values) override {
        return gpiod_line_set_value_bulk(BulkOf(request), values) < 0 ? Failure() : 0;
    }

    int GetValues(GpioRequestHandle request, int* values) override {
        return gpiod_line_get_value_bulk(BulkOf(request), values) < 0 ? Failure() : 0;
    }

    void Release(GpioRequestHandle request) override {
        gpiod_line_release_bulk(BulkOf(request));
        delete BulkOf(request);
    }

    void CloseChip(GpioChipHandle chip) override { gpiod_chip_close(ChipOf(chip)); }
};

}  // namespace

GpiodApi& SystemGpiodApi() {
    static LinuxGpiodApi api;
    return api;
}

}  // namespace orbvex

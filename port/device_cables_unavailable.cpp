// SPDX-License-Identifier: GPL-2.0-or-later
// Systems other than Linux have neither ppdev nor the GPIO character device: every
// call fails with "function not implemented", which the cables report as such.
#include <cerrno>

#include "port/gpiod_api.h"
#include "port/ppdev_api.h"

namespace orbvex {
namespace {

class UnavailablePpdevApi final : public PpdevApi {
public:
    int Open(const char*) override { return -ENOSYS; }
    int Ioctl(int, PpdevRequest, std::uint8_t*) override { return -ENOSYS; }
    int Close(int) override { return -ENOSYS; }
};

class UnavailableGpiodApi final : public GpiodApi {
public:
    int OpenChip(const char*, GpioChipHandle*) override { return -ENOSYS; }
    unsigned LineCount(GpioChipHandle) override { return 0; }
    bool LineInUse(GpioChipHandle, unsigned, std::string*) override { return false; }
    int RequestLines(GpioChipHandle, const unsigned*, unsigned, const char*, const int*, GpioRequestHandle*) override {
        return -ENOSYS;
    }
    int SetValues(GpioRequestHandle, const int*) override { return -ENOSYS; }
    int GetValues(GpioRequestHandle, int*) override { return -ENOSYS; }
    void Release(GpioRequestHandle) override {}
    void CloseChip(GpioChipHandle) override {}
};

}  // namespace

PpdevApi& SystemPpdevApi() {
    static UnavailablePpdevApi api;
    return api;
}

GpiodApi& SystemGpiodApi() {
    static UnavailableGpiodApi api;
    return api;
}

}  // namespace orbvex

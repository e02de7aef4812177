// SPDX-License-Identifier: GPL-2.0-or-later
// A build without libftdi1 (Windows, or a Linux without its development files): the
// search fails and says why.
#include "port/ftdi_api.h"

namespace orbvex {
namespace {

class UnavailableFtdiApi final : public FtdiApi {
public:
    int FindAll(std::uint16_t, std::uint16_t, std::vector<FtdiDeviceInfo>&) override { return -1; }
    FtdiOpenError Open(std::size_t, int, FtdiHandle*, std::string*) override { return FtdiOpenError::Other; }
    FtdiChip Chip(FtdiHandle) override { return FtdiChip::Other; }
    int SetLatencyTimer(FtdiHandle, unsigned char) override { return -1; }
    int SetBitmode(FtdiHandle, unsigned char, unsigned char) override { return -1; }
    int SetBaudRate(FtdiHandle, int) override { return -1; }
    int Purge(FtdiHandle) override { return -1; }
    int Write(FtdiHandle, const std::uint8_t*, int) override { return -1; }
    int Read(FtdiHandle, std::uint8_t*, int) override { return -1; }
    std::string ErrorText(FtdiHandle) override {
        return "this program was built without libftdi1, which FTDI cables need (Linux only)";
    }
    void Close(FtdiHandle) override {}
};

}  // namespace

FtdiApi& SystemFtdiApi() {
    static UnavailableFtdiApi api;
    return api;
}

}  // namespace orbvex

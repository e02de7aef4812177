// SPDX-License-Identifier: GPL-2.0-or-later
// Systems other than Windows have no service manager, no driver and no version record
// of the Windows kind: every call fails with "not supported", so the NT path is never
// taken by accident (the version query fails, and the family name is empty).
#include "port/nt_api.h"

namespace orbvex {
namespace {

class UnavailableNtApi final : public NtApi {
public:
    NtHandle OpenSCManagerA(const char*, const char*, std::uint32_t) override { return 0; }
    NtHandle CreateServiceA(NtHandle, const char*, const char*, std::uint32_t, std::uint32_t, std::uint32_t,
                            std::uint32_t, const char*, const char*, std::uint32_t*, const char*, const char*,
                            const char*) override {
        return 0;
    }
    NtHandle OpenServiceA(NtHandle, const char*, std::uint32_t) override { return 0; }
    bool StartServiceA(NtHandle, std::uint32_t, const char**) override { return false; }
    bool ControlService(NtHandle, std::uint32_t, nt::ServiceStatus*) override { return false; }
    bool DeleteService(NtHandle) override { return false; }
    bool CloseServiceHandle(NtHandle) override { return false; }
    NtHandle CreateFileA(const char*, std::uint32_t, std::uint32_t, void*, std::uint32_t, std::uint32_t,
                         NtHandle) override {
        return kNtInvalidHandle;
    }
    bool DeviceIoControl(NtHandle, std::uint32_t, const void*, std::uint32_t, void*, std::uint32_t,
                         std::uint32_t*, void*) override {
        return false;
    }
    bool CloseHandle(NtHandle) override { return false; }
    std::uint32_t GetLastError() override { return nt::kErrorNotSupported; }
    bool GetVersionExA(nt::OsVersionInfoA*) override { return false; }
};

}  // namespace

NtApi& SystemNtApi() {
    static UnavailableNtApi api;
    return api;
}

}  // namespace orbvex

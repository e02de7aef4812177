// SPDX-License-Identifier: GPL-2.0-or-later
// The system's own service-manager, device and version calls, passed straight through.
#include <windows.h>

#include "port/nt_api.h"

namespace orbvex {
namespace {

static_assert(sizeof(OSVERSIONINFOA) == sizeof(nt::OsVersionInfoA), "version record");
static_assert(sizeof(SERVICE_STATUS) == sizeof(nt::ServiceStatus), "service status");
static_assert(sizeof(DWORD) == sizeof(std::uint32_t), "32-bit words");

SC_HANDLE Sc(NtHandle h) { return reinterpret_cast<SC_HANDLE>(h); }
HANDLE Fh(NtHandle h) { return reinterpret_cast<HANDLE>(h); }
NtHandle Nt(const void* h) { return reinterpret_cast<NtHandle>(h); }

class Win32NtApi final : public NtApi {
public:
    NtHandle OpenSCManagerA(const char* machine, const char* database,
                            std::uint32_t access) override {
        return Nt(::OpenSCManagerA(machine, database, access));
    }
    NtHandle CreateServiceA(NtHandle scm, const char* serviceName, const char* displayName,
                            std::uint32_t access, std::uint32_t serviceType,
                            std::uint32_t startType, std::uint32_t errorControl,
                            const char* binaryPath, const char* loadOrderGroup,
                            std::uint32_t* tagId, const char* dependencies,
                            const char* account, const char* password) override {
        return Nt(::CreateServiceA(Sc(scm), serviceName, displayName, access, serviceType,
                                   startType, errorControl, binaryPath, loadOrderGroup,
                                   reinterpret_cast<LPDWORD>(tagId), dependencies, account,
                                   password));
    }
    NtHandle OpenServiceA(NtHandle scm, const char* serviceName, std::uint32_t access) override {
        return Nt(::OpenServiceA(Sc(scm), serviceName, access));
    }
    bool StartServiceA(NtHandle service, std::uint32_t argCount, const char** args) override {
        return ::StartServiceA(Sc(service), argCount, args) != FALSE;
    }
    bool ControlService(NtHandle service, std::uint32_t control,
                        nt::ServiceStatus* status) override {
        return ::ControlService(Sc(service), control,
                                reinterpret_cast<LPSERVICE_STATUS>(status)) != FALSE;
    }
    bool DeleteService(NtHandle service) override {
        return ::DeleteService(Sc(service)) != FALSE;
    }
    bool CloseServiceHandle(NtHandle handle) override {
        return ::CloseServiceHandle(Sc(handle)) != FALSE;
    }
    NtHandle CreateFileA(const char* fileName, std::uint32_t access, std::uint32_t shareMode,
                         void* security, std::uint32_t disposition, std::uint32_t flags,
                         NtHandle templateFile) override {
        return Nt(::CreateFileA(fileName, access, shareMode,
                                static_cast<LPSECURITY_ATTRIBUTES>(security), disposition,
                                flags, Fh(templateFile)));
    }
    bool DeviceIoControl(NtHandle device, std::uint32_t code, const void* in,
                         std::uint32_t inSize, void* out, std::uint32_t outSize,
                         std::uint32_t* bytesReturned, void* overlapped) override {
        return ::DeviceIoControl(Fh(device), code, const_cast<void*>(in), inSize, out, outSize,
                                 reinterpret_cast<LPDWORD>(bytesReturned),
                                 static_cast<LPOVERLAPPED>(overlapped)) != FALSE;
    }
    bool CloseHandle(NtHandle handle) override { return ::CloseHandle(Fh(handle)) != FALSE; }
    std::uint32_t GetLastError() override { return ::GetLastError(); }
    bool GetVersionExA(nt::OsVersionInfoA* info) override {
        return ::GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(info)) != FALSE;
    }
};

}  // namespace

NtApi& SystemNtApi() {
    static Win32NtApi api;
    return api;
}

}  // namespace orbvex

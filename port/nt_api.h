// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>

// The Windows calls the port-permission driver and the NT port-access path make:
// the service control manager, device I/O and the version query. On Windows they go
// to the system (port/windows/); elsewhere every call fails (port/posix/); the tests
// put an in-memory NT machine of their own in their place. Only the values
// these callers need are defined here, so that nothing outside port/windows/ sees
// <windows.h>.

namespace orbvex {

// A service-manager, service or device handle, as wide as a pointer.
using NtHandle = std::uintptr_t;
// What CreateFileA returns on failure (all bits set); service calls return 0 instead.
constexpr NtHandle kNtInvalidHandle = ~NtHandle(0);

namespace nt {

// Error numbers of the platform's error list that the callers or the stand-in use.
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorInsufficientBuffer = 122;
constexpr std::uint32_t kErrorInvalidFunction = 1;
constexpr std::uint32_t kErrorServiceAlreadyRunning = 1056;
constexpr std::uint32_t kErrorServiceDoesNotExist = 1060;
constexpr std::uint32_t kErrorServiceNotActive = 1062;
constexpr std::uint32_t kErrorServiceMarkedForDelete = 1072;
constexpr std::uint32_t kErrorServiceExists = 1073;
constexpr std::uint32_t kErrorNotSupported = 50;

// Access rights, service kinds and file flags the driver passes.
constexpr std::uint32_t kScManagerAllAccess = 0xF003F;
constexpr std::uint32_t kServiceAllAccess = 0xF01FF;
constexpr std::uint32_t kServiceKernelDriver = 1;
constexpr std::uint32_t kServiceDemandStart = 3;
constexpr std::uint32_t kServiceErrorNormal = 1;
constexpr std::uint32_t kServiceControlStop = 1;
constexpr std::uint32_t kGenericReadWrite = 0xC0000000;
constexpr std::uint32_t kOpenExisting = 3;
constexpr std::uint32_t kFileAttributeNormal = 0x80;

// The platform identifiers of the version record.
constexpr std::uint32_t kPlatformWin32Windows = 1;  // 95, 98, ME
constexpr std::uint32_t kPlatformWin32Nt = 2;

// Seven 32-bit words; ControlService fills it, nobody here reads it.
struct ServiceStatus {
    std::uint32_t words[7];
};

// The ANSI version-information record: five 32-bit words and a 128-byte text.
struct OsVersionInfoA {
    std::uint32_t osVersionInfoSize;
    std::uint32_t majorVersion;
    std::uint32_t minorVersion;
    std::uint32_t buildNumber;
    std::uint32_t platformId;
    char csdVersion[128];
};
static_assert(sizeof(OsVersionInfoA) == 148, "the system checks the record's size");

}  // namespace nt

// One method per system call, with the system's argument order and meaning; results
// as the system gives them (a handle, or a success flag with the reason in GetLastError).
class NtApi {
public:
    virtual ~NtApi() = default;

    virtual NtHandle OpenSCManagerA(const char* machine, const char* database,
                                    std::uint32_t access) = 0;
    virtual NtHandle CreateServiceA(NtHandle scm, const char* serviceName,
                                    const char* displayName, std::uint32_t access,
                                    std::uint32_t serviceType, std::uint32_t startType,
                                    std::uint32_t errorControl, const char* binaryPath,
                                    const char* loadOrderGroup, std::uint32_t* tagId,
                                    const char* dependencies, const char* account,
                                    const char* password) = 0;
    virtual NtHandle OpenServiceA(NtHandle scm, const char* serviceName,
                                  std::uint32_t access) = 0;
    virtual bool StartServiceA(NtHandle service, std::uint32_t argCount,
                               const char** args) = 0;
    virtual bool ControlService(NtHandle service, std::uint32_t control,
                                nt::ServiceStatus* status) = 0;
    virtual bool DeleteService(NtHandle service) = 0;
    virtual bool CloseServiceHandle(NtHandle handle) = 0;

    virtual NtHandle CreateFileA(const char* fileName, std::uint32_t access,
                                 std::uint32_t shareMode, void* security,
                                 std::uint32_t disposition, std::uint32_t flags,
                                 NtHandle templateFile) = 0;
    virtual bool DeviceIoControl(NtHandle device, std::uint32_t code, const void* in,
                                 std::uint32_t inSize, void* out, std::uint32_t outSize,
                                 std::uint32_t* bytesReturned, void* overlapped) = 0;
    virtual bool CloseHandle(NtHandle handle) = 0;
    virtual std::uint32_t GetLastError() = 0;

    virtual bool GetVersionExA(nt::OsVersionInfoA* info) = 0;
};

// The system's own calls on Windows; on other systems calls that all fail with
// "not supported".
NtApi& SystemNtApi();

}  // namespace orbvex

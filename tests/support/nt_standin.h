// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "port/nt_api.h"

namespace orbvex {

// An NT machine in memory: a service control manager with its service database, the
// kqiopm driver's device with its 8192-byte permission map, and the process's own
// permission bitmap that activation replaces. It keeps the driver's contract, so the
// driver class and the NT port-access path run here as they would on Windows, and it
// fails on demand for their failure paths. Every call is recorded.
class NtStandIn final : public NtApi {
public:
    enum class ServiceState { Absent,
                              Stopped,
                              Running };

    // One device-control request as the device saw it.
    struct IoRequest {
        std::uint32_t code;
        std::uint32_t index;  // request word 0
        std::uint32_t value;  // request word 1
    };

    NtStandIn();

    // --- set-up and fault switches ---
    void SetPlatformId(std::uint32_t id) { platformId_ = id; }
    // No service manager: OpenSCManagerA fails with "access denied".
    void SetServiceManagerAvailable(bool available) { scmAvailable_ = available; }
    // No driver file: starting the service fails with "file not found".
    void SetDriverFilePresent(bool present) { driverFilePresent_ = present; }
    // The device refuses to open ("access denied") even while the driver runs.
    void SetDeviceRefused(bool refused) { deviceRefused_ = refused; }
    // The device request number n from now (0 = the next) fails with error.
    void FailDeviceRequest(int n, std::uint32_t error);
    // A service left by an earlier run, in the given state.
    void AddService(const std::string& name, const std::string& binaryPath, ServiceState state);
    // The program ends without cleaning up: the system closes its handles and its
    // permission bitmap goes with it; services and the driver's map stay.
    void EndProcess();

    // --- what can be looked at ---
    ServiceState StateOf(const std::string& name) const;
    std::string BinaryPathOf(const std::string& name) const;
    bool DriverRunning() const;
    std::uint8_t MapByte(std::uint16_t index) const { return map_[index]; }
    void SetMapByte(std::uint16_t index, std::uint8_t value) { map_[index] = value; }
    // Whether the process may use the port, by the bitmap last activated.
    bool ProcessMayAccess(std::uint16_t port) const;
    int OpenHandleCount() const { return static_cast<int>(handles_.size()); }
    // Every call by name, in order ("OpenSCManagerA", "DeviceIoControl", ...).
    const std::vector<std::string>& Calls() const { return calls_; }
    const std::vector<IoRequest>& IoRequests() const { return ioRequests_; }
    int CountCalls(const std::string& name) const;
    // The numbers and texts the last call of that name passed (access rights, service
    // kind, names, paths), in the call's argument order.
    std::vector<std::uint32_t> LastNumbers(const std::string& name) const;
    std::vector<std::string> LastTexts(const std::string& name) const;
    void ClearRecord();

    // --- NtApi ---
    NtHandle OpenSCManagerA(const char* machine, const char* database,
                            std::uint32_t access) override;
    NtHandle CreateServiceA(NtHandle scm, const char* serviceName, const char* displayName,
                            std::uint32_t access, std::uint32_t serviceType,
                            std::uint32_t startType, std::uint32_t errorControl,
                            const char* binaryPath, const char* loadOrderGroup,
                            std::uint32_t* tagId, const char* dependencies,
                            const char* account, const char* password) override;
    NtHandle OpenServiceA(NtHandle scm, const char* serviceName, std::uint32_t access) override;
    bool StartServiceA(NtHandle service, std::uint32_t argCount, const char** args) override;
    bool ControlService(NtHandle service, std::uint32_t control,
                        nt::ServiceStatus* status) override;
    bool DeleteService(NtHandle service) override;
    bool CloseServiceHandle(NtHandle handle) override;
    NtHandle CreateFileA(const char* fileName, std::uint32_t access, std::uint32_t shareMode,
                         void* security, std::uint32_t disposition, std::uint32_t flags,
                         NtHandle templateFile) override;
    bool DeviceIoControl(NtHandle device, std::uint32_t code, const void* in,
                         std::uint32_t inSize, void* out, std::uint32_t outSize,
                         std::uint32_t* bytesReturned, void* overlapped) override;
    bool CloseHandle(NtHandle handle) override;
    std::uint32_t GetLastError() override { return lastError_; }
    bool GetVersionExA(nt::OsVersionInfoA* info) override;

private:
    enum class HandleKind { ServiceManager,
                            Service,
                            Device };
    struct Handle {
        HandleKind kind;
        std::string service;  // for a service handle
    };
    struct Service {
        std::string binaryPath;
        bool running = false;
        bool markedForDelete = false;
    };

    NtHandle NewHandle(HandleKind kind, const std::string& service = std::string());
    const Handle* Find(NtHandle handle, HandleKind kind) const;
    Service* ServiceOf(NtHandle handle);
    bool Fail(std::uint32_t error);
    NtHandle FailHandle(std::uint32_t error, NtHandle value);
    void ForgetIfDeleted(const std::string& name);
    bool AnswerRequest(std::uint32_t code, const std::uint32_t* request, std::uint32_t* reply);
    void Record(const char* name, std::vector<std::uint32_t> numbers = {},
                std::vector<std::string> texts = {});

    std::uint32_t platformId_ = nt::kPlatformWin32Nt;
    bool scmAvailable_ = true;
    bool driverFilePresent_ = true;
    bool deviceRefused_ = false;
    int failRequestIn_ = -1;
    std::uint32_t failRequestError_ = 0;
    std::uint32_t lastError_ = 0;
    NtHandle nextHandle_ = 0x100;
    std::map<NtHandle, Handle> handles_;
    std::map<std::string, Service> services_;
    std::array<std::uint8_t, 8192> map_;
    std::array<std::uint8_t, 8192> processMap_;
    std::vector<std::string> calls_;
    std::vector<IoRequest> ioRequests_;
    std::map<std::string, std::vector<std::uint32_t>> lastNumbers_;
    std::map<std::string, std::vector<std::string>> lastTexts_;
};

}  // namespace orbvex

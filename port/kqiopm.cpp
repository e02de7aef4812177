// SPDX-License-Identifier: GPL-2.0-or-later
#include "port/kqiopm.h"

#include <tuple>
#include <utility>

#include "port/program_dir.h"

const TErrorMsg ErrorMessages[kErrorMessageCount] = {
    {0, "Operation was successful"},
    {1, "Invalid Function"},
    {5, "Access denied"},
    {1059, "Circular dependency"},
    {1065, "Database doesn't exist"},
    {1051, "Dependent services running"},
    {52, "Display name already exists"},
    {6, "Invalid handle"},
    {123, "Invalid service name"},
    {87, "Invalid Parameter"},
    {1057, "User account doesn't exist"},
    {1052, "Invalid service control code"},
    {3, "Path not found"},
    {1056, "Service already running"},
    {1061, "Service can't accept control"},
    {1055, "The database is locked"},
    {1075, "Depends on nonexistant service"},
    {1068, "Depends on service that failed"},
    {1058, "Service has been disabled"},
    {1060, "Service doesn't exist"},
    {1073, "Service already exists"},
    {1069, "Service couldn't be logged on"},
    {1072, "Service marked for deletion"},
    {1054, "Couldn't create thread"},
    {1062, "Service hasn't been started"},
    {1053, "Service timed out"},
    {9997, "Buffer too small"},
    {9997, "No device handle"},
    {9998, "Can't connect to Service Control Manager"},
    {9999, "An unexpected error occured"},
};

const char* ErrorMessageText(std::int32_t code) {
    // 9997 has two rows; the operations return it only for a missing device handle,
    // so the later row wins.
    const char* text = nullptr;
    for (const TErrorMsg& row : ErrorMessages)
        if (row.Code == code) text = row.Message;
    return text ? text : ErrorMessages[kErrorMessageCount - 1].Message;
}

namespace {

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

// Splits "folder\name" into "folder\" and "name"; a bare name has an empty folder.
std::pair<std::string, std::string> SplitPath(const std::string& path) {
    std::size_t cut = path.size();
    while (cut > 0 && !IsPathSeparator(path[cut - 1])) --cut;
    return {path.substr(0, cut), path.substr(cut)};
}

}  // namespace

TKQIOPM_Driver::TKQIOPM_Driver(orbvex::NtApi& api)
    : TKQIOPM_Driver(api, orbvex::ProgramDirectory()) {}

TKQIOPM_Driver::TKQIOPM_Driver(orbvex::NtApi& api, std::string homeDir)
    : HomeDir(std::move(homeDir)),
      DriverName(kIopmDefaultName),
      SCMHandle(0),
      DeviceHandle(orbvex::kNtInvalidHandle),
      api_(api) {}

std::int32_t TKQIOPM_Driver::LastError() {
    return static_cast<std::int32_t>(api_.GetLastError());
}

std::int32_t TKQIOPM_Driver::OpenSCM() {
    SCMHandle = api_.OpenSCManagerA(nullptr, nullptr, orbvex::nt::kScManagerAllAccess);
    return SCMHandle == 0 ? kIopmNoServiceManager : 0;
}

std::int32_t TKQIOPM_Driver::CloseSCM() {
    api_.CloseServiceHandle(SCMHandle);
    SCMHandle = 0;
    return 0;
}

std::int32_t TKQIOPM_Driver::InstallDriver(const std::string& path) {
    if (path.empty()) {
        DriverDir = HomeDir;
        DriverName = kIopmDefaultName;
    } else {
        std::tie(DriverDir, DriverName) = SplitPath(path);
    }
    DriverPath = DriverDir + DriverName + ".sys";

    namespace nt = orbvex::nt;
    orbvex::NtHandle service = api_.CreateServiceA(
        SCMHandle, DriverName.c_str(), DriverName.c_str(), nt::kServiceAllAccess,
        nt::kServiceKernelDriver, nt::kServiceDemandStart, nt::kServiceErrorNormal,
        DriverPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service == 0) return LastError();
    api_.CloseServiceHandle(service);
    return 0;
}

template <typename Action>
std::int32_t TKQIOPM_Driver::WithService(Action action) {
    orbvex::NtHandle service =
        api_.OpenServiceA(SCMHandle, DriverName.c_str(), orbvex::nt::kServiceAllAccess);
    if (service == 0) return LastError();
    std::int32_t result = action(service) ? 0 : LastError();
    api_.CloseServiceHandle(service);
    return result;
}

std::int32_t TKQIOPM_Driver::StartDriver() {
    return WithService([this](orbvex::NtHandle service) {
        const char* noArguments[1] = {nullptr};
        return api_.StartServiceA(service, 0, noArguments);
    });
}

std::int32_t TKQIOPM_Driver::StopDriver() {
    return WithService([this](orbvex::NtHandle service) {
        orbvex::nt::ServiceStatus status{};
        return api_.ControlService(service, orbvex::nt::kServiceControlStop, &status);
    });
}

std::int32_t TKQIOPM_Driver::RemoveDriver() {
    StopDriver();  // a service that is not running is deleted all the same
    return WithService(
        [this](orbvex::NtHandle service) { return api_.DeleteService(service); });
}

std::int32_t TKQIOPM_Driver::OpenDevice() {
    if (DeviceHandle != orbvex::kNtInvalidHandle) CloseDevice();
    namespace nt = orbvex::nt;
    DeviceHandle = api_.CreateFileA(kIopmDeviceName, nt::kGenericReadWrite, 0, nullptr,
                                    nt::kOpenExisting, nt::kFileAttributeNormal, 0);
    return DeviceHandle == orbvex::kNtInvalidHandle ? LastError() : 0;
}

std::int32_t TKQIOPM_Driver::CloseDevice() {
    if (DeviceHandle != orbvex::kNtInvalidHandle) api_.CloseHandle(DeviceHandle);
    DeviceHandle = orbvex::kNtInvalidHandle;
    return 0;
}

std::int32_t TKQIOPM_Driver::SendIoctl(std::uint32_t function, std::uint32_t& value) {
    value = 0;
    if (DeviceHandle == orbvex::kNtInvalidHandle) return kIopmNoDeviceHandle;
    IopmRecord request{{0, 0, 0}};
    IopmRecord reply{{0, 0, 0}};
    std::uint32_t returned = 0;
    if (!api_.DeviceIoControl(DeviceHandle, IopmControlCode(function), &request,
                              sizeof request, &reply, sizeof reply, &returned, nullptr))
        return LastError();
    value = reply.Word[0];
    return 0;
}

std::int32_t TKQIOPM_Driver::SendByteIoctl(std::uint16_t index, std::uint8_t& data,
                                           std::uint32_t function) {
    if (DeviceHandle == orbvex::kNtInvalidHandle) return kIopmNoDeviceHandle;
    IopmRecord request{{index, data, 0}};
    IopmRecord reply{{0, 0, 0}};
    std::uint32_t returned = 0;
    if (!api_.DeviceIoControl(DeviceHandle, IopmControlCode(function), &request,
                              sizeof request, &reply, sizeof reply, &returned, nullptr))
        return LastError();
    data = static_cast<std::uint8_t>(reply.Word[1] & 0xFF);
    return 0;
}

std::int32_t TKQIOPM_Driver::SetIOPMByte(std::uint16_t index, std::uint8_t value) {
    return SendByteIoctl(index, value, kIopmSetByte);
}

std::int32_t TKQIOPM_Driver::GetIOPMByte(std::uint16_t index, std::uint8_t& value) {
    return SendByteIoctl(index, value, kIopmGetByte);
}

std::int32_t TKQIOPM_Driver::ActivateIOPM() {
    std::uint32_t ignored;
    return SendIoctl(kIopmActivate, ignored);
}

std::int32_t TKQIOPM_Driver::SetPortRange(std::uint16_t first, std::uint16_t last,
                                          bool grant) {
    if (last < first) return 0;
    std::uint8_t current = 0xFF;
    // Counted in 32 bits so that a range ending at port 0xFFFF ends.
    for (std::uint32_t p = first; p <= last; ++p) {
        const auto index = static_cast<std::uint16_t>(p >> 3);
        const auto mask = static_cast<std::uint8_t>(1u << (p & 7));
        if (p == first || (p & 7) == 0) {
            if (std::int32_t rc = GetIOPMByte(index, current)) return rc;
        }
        current = grant ? static_cast<std::uint8_t>(current & ~mask)
                        : static_cast<std::uint8_t>(current | mask);
        if (p == last || (p & 7) == 7) {
            if (std::int32_t rc = SetIOPMByte(index, current)) return rc;
        }
    }
    return 0;
}

TKQIOPM_Driver IOPMDriver;

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <string>

#include "port/nt_api.h"

// User-mode side of the kqiopm port-permission driver. On the Windows NT family only
// kernel code may change a process's I/O permission bitmap; the driver keeps a copy of
// such a map (one bit per port, a clear bit allows the port) and applies it to the
// calling process on request. This class installs the driver as a service, starts it,
// opens its device, edits the map and has it applied, and undoes all of it.
//
// Every operation returns 0, the system's error number of the failing call, or one of
// the two codes below. Nothing throws and nothing is shown.

constexpr std::int32_t kIopmNoDeviceHandle = 9997;
constexpr std::int32_t kIopmNoServiceManager = 9998;

struct TErrorMsg {
    std::int32_t Code;
    const char* Message;
};
constexpr int kErrorMessageCount = 30;
extern const TErrorMsg ErrorMessages[kErrorMessageCount];
// The text for a result code; codes outside the table get the "unexpected" text.
const char* ErrorMessageText(std::int32_t code);

// Device-control code of a driver request, composed the way the platform composes them.
constexpr std::uint32_t IopmControlCode(std::uint32_t function) {
    constexpr std::uint32_t kDeviceType = 0xF100;
    constexpr std::uint32_t kAnyAccess = 0;
    constexpr std::uint32_t kMethodBuffered = 0;
    return (kDeviceType << 16) | (kAnyAccess << 14) | (function << 2) | kMethodBuffered;
}
constexpr std::uint32_t kIopmSetByte = 0x911;
constexpr std::uint32_t kIopmGetByte = 0x912;
constexpr std::uint32_t kIopmActivate = 0x920;
static_assert(IopmControlCode(kIopmSetByte) == 0xF1002444, "map write");
static_assert(IopmControlCode(kIopmGetByte) == 0xF1002448, "map read");
static_assert(IopmControlCode(kIopmActivate) == 0xF1002480, "activation");

// Request and reply of every driver call: three little-endian 32-bit words.
struct IopmRecord {
    std::uint32_t Word[3];
};
static_assert(sizeof(IopmRecord) == 12, "the driver expects 12-byte buffers");

constexpr const char* kIopmDeviceName = "\\\\.\\kqiopm";
constexpr const char* kIopmDefaultName = "kqiopm";

class TKQIOPM_Driver {
public:
    // The system's calls, and the folder holding the driver file by default (the
    // executable's, with its trailing separator).
    explicit TKQIOPM_Driver(orbvex::NtApi& api = orbvex::SystemNtApi());
    TKQIOPM_Driver(orbvex::NtApi& api, std::string homeDir);
    TKQIOPM_Driver(const TKQIOPM_Driver&) = delete;
    TKQIOPM_Driver& operator=(const TKQIOPM_Driver&) = delete;

    std::int32_t OpenSCM();
    std::int32_t CloseSCM();
    // path: folder and base name of the driver file without ".sys"; empty for
    // "kqiopm" in HomeDir. The base name is also the service's name.
    std::int32_t InstallDriver(const std::string& path);
    std::int32_t StartDriver();
    std::int32_t StopDriver();
    std::int32_t RemoveDriver();
    std::int32_t OpenDevice();
    std::int32_t CloseDevice();
    std::int32_t SendIoctl(std::uint32_t function, std::uint32_t& value);
    std::int32_t SendByteIoctl(std::uint16_t index, std::uint8_t& data, std::uint32_t function);
    std::int32_t SetIOPMByte(std::uint16_t index, std::uint8_t value);
    std::int32_t GetIOPMByte(std::uint16_t index, std::uint8_t& value);
    std::int32_t ActivateIOPM();
    // Allows (grant) or forbids ports first..last in the driver's map, reading and
    // writing each touched map byte once and keeping its other bits.
    std::int32_t SetPortRange(std::uint16_t first, std::uint16_t last, bool grant);

    std::string HomeDir;
    std::string DriverDir;
    std::string DriverName;
    std::string DriverPath;
    orbvex::NtHandle SCMHandle;
    orbvex::NtHandle DeviceHandle;

private:
    // Opens the service by DriverName, runs action on it, closes it again.
    template <typename Action>
    std::int32_t WithService(Action action);
    std::int32_t LastError();

    orbvex::NtApi& api_;
};

// The program's one driver object, alive from start-up to the end of the process.
extern TKQIOPM_Driver IOPMDriver;

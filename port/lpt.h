// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "port/kqiopm.h"
#include "port/nt_api.h"
#include "port/port_access.h"
#include "port/port_backend.h"
#include "util/result.h"

// Preparing the process to touch the parallel port's registers. On the Windows NT
// family the ports must be enabled in the process's I/O permission bitmap through the
// kqiopm driver; on the 95/98/ME family port instructions work as they are.

constexpr const char* kFamilyNt = "Windows NT o superior";
constexpr const char* kFamily9x = "Windows ME, 98 o 95";

// The platform identifier of the version record (nt::kPlatformWin32Nt, ...), 0 when
// the query fails.
std::uint32_t OsPlatformId(orbvex::NtApi& api);

// kFamilyNt, kFamily9x, or empty when the system names another platform.
std::string OsFamilyName();
std::string OsFamilyName(orbvex::NtApi& api);

// Grants firstBase..firstBase+2 and secondBase..secondBase+2. Every step runs even
// after one fails; true only when all succeeded. A service or running driver left
// from an earlier run is accepted.
bool OpenPortAccess(std::uint16_t firstBase, std::uint16_t secondBase);
// The same through driver; a failure names the first step that failed and gives the
// driver's text for it.
orbvex::Status OpenPortAccess(TKQIOPM_Driver& driver, std::uint16_t firstBase, std::uint16_t secondBase);

// Withdraws both ranges (the second first), closes the device, stops and removes the
// service. Every step runs; true only when all succeeded.
bool ClosePortAccess(std::uint16_t firstBase, std::uint16_t secondBase);
bool ClosePortAccess(TKQIOPM_Driver& driver, std::uint16_t firstBase, std::uint16_t secondBase);

namespace orbvex {

// A port library loaded at run time, the way to the ports where the driver cannot be
// used (64-bit Windows): the backend that reaches every port through it and a line
// naming it, or no backend and why, with what to install.
struct PortLibrary {
    std::unique_ptr<PortBackend> port;
    std::string note;
    std::string why;
};
using PortLibraryLoader = std::function<PortLibrary()>;

// Port access as the Windows window uses it, over the given system calls and driver:
// on the NT family Open and Close run OpenPortAccess and ClosePortAccess for
// base and base + 0x400; a port chosen later (LPT2) is granted on Ensure through the
// open driver. Where the driver cannot grant the ports, the port library (when given)
// reaches them instead. On any other family the ports are used directly.
std::unique_ptr<PortAccess> MakeNtPortAccess(NtApi& api, TKQIOPM_Driver& driver,
                                             PortLibraryLoader library = {});
// The same with a driver object of its own over api (tests, and the window's tests
// on systems without the real calls).
std::unique_ptr<PortAccess> MakeNtPortAccess(NtApi& api);

}  // namespace orbvex

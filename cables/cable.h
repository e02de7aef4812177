// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The cables a front end can drive, in one table for the command line and the windows
// alike: each entry names its option, says what its value looks like, reads its own
// parameters and opens the cable. A new cable is one file and one line in the table.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "port/port_access.h"
#include "util/flash_map.h"

namespace orbvex {
class FtdiApi;
class GpiodApi;
class PpdevApi;
}  // namespace orbvex

namespace orbvex::cables {

// The interfaces behind the cables the kernel or a USB library drives; the tests put
// stand-ins in.
struct DeviceApis {
    PpdevApi* ppdev;
    GpiodApi* gpiod;
    FtdiApi* ftdi;
};
DeviceApis SystemDeviceApis();

// What the front end adds to a cable's own parameters.
struct CableSettings {
    DeviceApis devices = SystemDeviceApis();
    std::uint32_t flashSize = kFlash1M.size;  // the in-process receiver's flash
    std::optional<std::string> flashImage;    // and the file it is kept in between runs
    std::string flashChip;                    // and its part by name; empty: the usual for the size
    int remoteTimeoutSeconds = 10;            // for one answer, and for a stretch of slow ones
    // Whether the user has asked to stop (Ctrl-C): a cable that waits on a peer gives up then.
    std::function<bool()> giveUp;
    // A line for the user while the cable opens ("using FTDI cable ..."); may be empty.
    std::function<void(const std::string&)> note;
    // A line the user must see wherever the cable is driven from: the command line says
    // it, a window logs it once it is open. May be empty.
    std::function<void(const std::string&)> warn;
};

// An opened cable, ready to be wired to a link session.
class Cable {
public:
    virtual ~Cable() = default;
    virtual PortAccess& Access() = 0;
    // What answers the port's registers; null for the port's own registers.
    virtual PortBackend* Backend() = 0;
    virtual std::uint16_t LptBase() const { return kLpt1Base; }
    // True once the cable was lost in the middle of a run.
    virtual bool Lost() const { return false; }
    // Where the line about such a loss goes, once: why, and that the operation cannot finish.
    virtual void ReportLossTo(std::function<void(const std::string&)>) {}
    // Called after the link session has closed, for what must still reach the cable or a
    // file. False when it did not: the flash image not saved (why in error), a remote
    // receiver lost before it had taken everything sent to it (said when it was lost).
    virtual bool Finish(std::string& /*error*/) { return true; }
};

// A cable as the user named it, its parameters read and checked, not yet opened.
class CableChoice {
public:
    virtual ~CableChoice() = default;
    // Null, with the reason in error, when the cable cannot be reached; nothing moves then.
    virtual std::unique_ptr<Cable> Open(const CableSettings& settings, std::string& error) const = 0;
    // The virtual receiver inside this process: it runs only its own trap image.
    virtual bool InProcess() const { return false; }
};

struct CableType {
    const char* option;  // "--gpio"
    const char* syntax;  // the value as the help shows it; null when the option takes none
    const char* help;
    // The choice, or null with what is wrong with value (the option's name not included).
    std::unique_ptr<CableChoice> (*parse)(const std::string& value, std::string& error);
};

// Every cable, in the order a refusal names two of them.
const std::vector<const CableType*>& CableTypes();

// The cable no option names: the parallel port's registers at LPT1.
std::unique_ptr<CableChoice> DefaultPortCable();
// The virtual receiver inside this process.
std::unique_ptr<CableChoice> InProcessReceiver();
// Why the in-process receiver cannot carry a flash part of this name, or "" when it can.
std::string CheckVirtualFlashChip(const std::string& name);

}  // namespace orbvex::cables

// SPDX-License-Identifier: GPL-2.0-or-later
#include "port/lpt.h"

#include <algorithm>
#include <cstdio>
#include <vector>

std::uint32_t OsPlatformId(orbvex::NtApi& api) {
    orbvex::nt::OsVersionInfoA info{};
    info.osVersionInfoSize = sizeof info;
    api.GetVersionExA(&info);  // on failure the zeroed record names no platform
    return info.platformId;
}

std::string OsFamilyName(orbvex::NtApi& api) {
    const std::uint32_t platform = OsPlatformId(api);
    if (platform == orbvex::nt::kPlatformWin32Nt) return kFamilyNt;
    if (platform == orbvex::nt::kPlatformWin32Windows) return kFamily9x;
    return std::string();
}

std::string OsFamilyName() { return OsFamilyName(orbvex::SystemNtApi()); }

namespace {

// Notes the first step that failed, in words the operator can act on.
class StepLog {
public:
    void Check(std::int32_t code, bool ok, const std::string& step, const char* hint = "") {
        if (!ok && outcome_)
            outcome_ = orbvex::Failure(step + ": " + ErrorMessageText(code) + " (error " + std::to_string(code) + ")" + hint);
    }
    const orbvex::Status& Outcome() const { return outcome_; }

private:
    orbvex::Status outcome_;
};

}  // namespace

orbvex::Status OpenPortAccess(TKQIOPM_Driver& driver, std::uint16_t firstBase, std::uint16_t secondBase) {
    StepLog steps;
    std::int32_t code = driver.OpenSCM();
    steps.Check(code, code == 0, "cannot open the service control manager",
                "; run the program as an administrator");
    code = driver.InstallDriver("");
    steps.Check(code, code == 0 || code == orbvex::nt::kErrorServiceExists,
                "cannot install the port driver service " + driver.DriverPath);
    code = driver.StartDriver();
    steps.Check(code, code == 0 || code == orbvex::nt::kErrorServiceAlreadyRunning,
                "cannot start the port driver " + driver.DriverPath,
                // A missing file, a 64-bit kernel or an unsigned driver: the system's
                // codes for these vary, the remedy does not.
                "; put kqiopm.sys beside the program (it works on 32-bit Windows only)");
    code = driver.OpenDevice();
    steps.Check(code, code == 0, std::string("cannot open the driver's device ") + kIopmDeviceName);
    code = driver.SetPortRange(firstBase, static_cast<std::uint16_t>(firstBase + 2), true);
    steps.Check(code, code == 0, "the driver refused the port map");
    code = driver.SetPortRange(secondBase, static_cast<std::uint16_t>(secondBase + 2), true);
    steps.Check(code, code == 0, "the driver refused the port map");
    code = driver.ActivateIOPM();
    steps.Check(code, code == 0, "the driver could not apply the port map",
                "; this system lets no driver open ports to a program (64-bit Windows, an emulator)");
    return steps.Outcome();
}

bool OpenPortAccess(std::uint16_t firstBase, std::uint16_t secondBase) {
    return OpenPortAccess(IOPMDriver, firstBase, secondBase).Ok();
}

bool ClosePortAccess(TKQIOPM_Driver& driver, std::uint16_t firstBase,
                     std::uint16_t secondBase) {
    bool ok = true;
    ok &= driver.SetPortRange(secondBase, static_cast<std::uint16_t>(secondBase + 2), false) == 0;
    ok &= driver.SetPortRange(firstBase, static_cast<std::uint16_t>(firstBase + 2), false) == 0;
    ok &= driver.ActivateIOPM() == 0;
    ok &= driver.CloseDevice() == 0;
    ok &= driver.StopDriver() == 0;
    ok &= driver.RemoveDriver() == 0;
    ok &= driver.CloseSCM() == 0;
    return ok;
}

bool ClosePortAccess(std::uint16_t firstBase, std::uint16_t secondBase) {
    return ClosePortAccess(IOPMDriver, firstBase, secondBase);
}

namespace orbvex {
namespace {

// The extended-mode registers of a parallel port lie 0x400 above its base.
std::uint16_t ExtendedBase(std::uint16_t base) {
    return static_cast<std::uint16_t>(base + 0x400);
}

class NtPortAccess final : public PortAccess {
public:
    NtPortAccess(NtApi& api, TKQIOPM_Driver& driver, std::unique_ptr<TKQIOPM_Driver> owned,
                 PortLibraryLoader library)
        : api_(api), driver_(driver), owned_(std::move(owned)), loadLibrary_(std::move(library)) {}

    // A front end that ends without closing still takes the driver down with it.
    ~NtPortAccess() override {
        if (closePending_) Close(touched_.front());
    }

    bool Open(std::uint16_t lptBase) override {
        if (!OnNtFamily()) return true;
        closePending_ = true;
        touched_.push_back(lptBase);
        library_ = {};
        const Status opened = OpenPortAccess(driver_, lptBase, ExtendedBase(lptBase));
        opened_ = opened.Ok();
        failure_ = opened.Error();
        if (opened_) {
            granted_.push_back(lptBase);
            return true;
        }
        // The driver's service is left to Close, which takes down whatever part of it came up.
        if (!loadLibrary_) return false;
        library_ = loadLibrary_();
        if (!library_.port) failure_ += "; " + library_.why;
        return library_.port != nullptr;
    }

    PortBackend* PortRoute() override { return library_.port.get(); }
    std::string RouteNote() const override { return library_.port ? library_.note : std::string(); }

    bool Ensure(std::uint16_t lptBase) override {
        if (!OnNtFamily()) return true;
        if (library_.port) return true;  // the library reaches every port
        if (Contains(granted_, lptBase)) return true;
        if (!opened_) return false;  // the driver never came up: nothing to grant with; the reason stands
        if (!Contains(touched_, lptBase)) touched_.push_back(lptBase);
        if (!GrantLater(lptBase)) {
            char base[8];
            std::snprintf(base, sizeof base, "0x%X", static_cast<unsigned>(lptBase));
            failure_ = std::string("the driver refused the ports at ") + base;
            return false;
        }
        granted_.push_back(lptBase);
        return true;
    }

    std::string FailureReason() const override { return failure_; }

    void Close(std::uint16_t lptBase) override {
        if (!OnNtFamily()) return;
        // Ports granted besides the current one are withdrawn too, before the
        // closing sequence applies the map one last time.
        for (std::uint16_t base : touched_)
            if (base != lptBase) Revoke(base);
        ClosePortAccess(driver_, lptBase, ExtendedBase(lptBase));
        touched_.clear();
        granted_.clear();
        opened_ = false;
        closePending_ = false;
    }

private:
    // Decided by the platform's number, not by the text shown for it.
    bool OnNtFamily() { return OsPlatformId(api_) == nt::kPlatformWin32Nt; }

    static bool Contains(const std::vector<std::uint16_t>& bases, std::uint16_t base) {
        return std::find(bases.begin(), bases.end(), base) != bases.end();
    }

    bool GrantLater(std::uint16_t base) {
        const std::uint16_t ext = ExtendedBase(base);
        return driver_.SetPortRange(base, static_cast<std::uint16_t>(base + 2), true) == 0 &&
               driver_.SetPortRange(ext, static_cast<std::uint16_t>(ext + 2), true) == 0 &&
               driver_.ActivateIOPM() == 0;
    }

    void Revoke(std::uint16_t base) {
        const std::uint16_t ext = ExtendedBase(base);
        driver_.SetPortRange(ext, static_cast<std::uint16_t>(ext + 2), false);
        driver_.SetPortRange(base, static_cast<std::uint16_t>(base + 2), false);
    }

    NtApi& api_;
    TKQIOPM_Driver& driver_;
    std::unique_ptr<TKQIOPM_Driver> owned_;
    PortLibraryLoader loadLibrary_;
    PortLibrary library_;                 // in use when the driver could not grant the ports
    bool opened_ = false;                 // the driver came up and granted the first port
    bool closePending_ = false;           // Open ran on the NT family and Close has not
    std::string failure_;                 // why the driver did not come up
    std::vector<std::uint16_t> touched_;  // bases whose ranges were written to the map
    std::vector<std::uint16_t> granted_;  // bases the process may drive now
};

}  // namespace

std::unique_ptr<PortAccess> MakeNtPortAccess(NtApi& api, TKQIOPM_Driver& driver,
                                             PortLibraryLoader library) {
    return std::make_unique<NtPortAccess>(api, driver, nullptr, std::move(library));
}

std::unique_ptr<PortAccess> MakeNtPortAccess(NtApi& api) {
    auto driver = std::make_unique<TKQIOPM_Driver>(api);
    TKQIOPM_Driver& ref = *driver;
    return std::make_unique<NtPortAccess>(api, ref, std::move(driver), PortLibraryLoader{});
}

}  // namespace orbvex

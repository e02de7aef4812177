// SPDX-License-Identifier: GPL-2.0-or-later
// Port access on Linux: the kernel grants a process (and the threads and children it
// creates afterwards) the right to use ranges of I/O ports with ioperm; a user without
// that right can still drive LPT1 and LPT2 through ppdev.
#include "port/posix/linux_port_access.h"

#include <cerrno>
#include <cstdio>
#include <optional>
#include <vector>

#include "port/ppdev_cable.h"

#if defined(__linux__) && (defined(__i386__) || defined(__x86_64__))
#include <sys/io.h>
#define ORBVEX_HAVE_IOPERM 1
#endif

namespace orbvex {

int SystemIoperm(unsigned long from, unsigned long count, bool on) {
#if defined(ORBVEX_HAVE_IOPERM)
    return ioperm(from, count, on ? 1 : 0) == 0 ? 0 : -errno;
#else
    (void)from;
    (void)count;
    (void)on;
    return -ENOSYS;
#endif
}

std::string PpdevDeviceFor(std::uint16_t lptBase) {
    if (lptBase == kLpt1Base) return "/dev/parport0";
    if (lptBase == kLpt2Base) return "/dev/parport1";
    return {};
}

namespace {

constexpr unsigned kRangeLength = 3;              // data, status, control
constexpr std::uint16_t kExtendedOffset = 0x400;  // the same port's extended-mode registers

// "LPT1 (0x378)", or the bare base for a port of another address.
std::string PortName(std::uint16_t base) {
    char text[24];
    std::snprintf(text, sizeof text, "%s(0x%X)", base == kLpt1Base ? "LPT1 " : base == kLpt2Base ? "LPT2 "
                                                                                                 : "",
                  base);
    return text;
}

std::string IopermRefusal(int error) {
    const std::string remedy =
        error == ENOSYS ? "this system offers no port instructions"
                        : "run as root, or give the program the right once with sudo setcap cap_sys_rawio+ep; "
                          "a kernel in lockdown (Secure Boot) refuses even then";
    return "the port instructions were refused (ioperm: " + ErrnoText(error) + "; " + remedy + ")";
}

class LinuxPortAccess final : public PortAccess {
public:
    LinuxPortAccess(IopermCall ioperm, PpdevApi& ppdev) : ioperm_(std::move(ioperm)), ppdev_(ppdev) {}
    ~LinuxPortAccess() override { CloseAll(); }

    bool Open(std::uint16_t lptBase) override { return Ensure(lptBase); }

    bool Ensure(std::uint16_t lptBase) override {
        Route* route = Find(lptBase);
        if (!route) route = Acquire(lptBase);
        if (!route) return false;
        current_ = route->base;
        reason_.clear();
        return true;
    }

    void Close(std::uint16_t) override { CloseAll(); }

    std::string FailureReason() const override { return reason_; }

    // The ppdev device of the port last granted, when it is driven through one.
    PortBackend* PortRoute() override {
        Route* route = current_ ? Find(*current_) : nullptr;
        return route ? route->cable.get() : nullptr;
    }

private:
    // How one port is driven: its ppdev cable, or the instructions when there is none.
    struct Route {
        std::uint16_t base;
        std::unique_ptr<PpdevCable> cable;
    };

    Route* Find(std::uint16_t base) {
        for (Route& route : routes_)
            if (route.base == base) return &route;
        return nullptr;
    }

    // The instructions first (no system call per access), then ppdev.
    Route* Acquire(std::uint16_t base) {
        const int granted = Grant(base);
        std::unique_ptr<PpdevCable> cable;
        if (granted != 0) {
            reason_ = PortName(base) + ": " + IopermRefusal(-granted);
            const std::string device = PpdevDeviceFor(base);
            if (device.empty()) {
                reason_ += ", and no ppdev device stands for this base";
                return nullptr;
            }
            Result<std::unique_ptr<PpdevCable>> opened = PpdevCable::Open(ppdev_, device);
            if (!opened) {
                reason_ += ", and " + opened.Error();
                return nullptr;
            }
            cable = std::move(opened).Value();
        }
        routes_.push_back({base, std::move(cable)});
        return &routes_.back();
    }

    // Both ranges or neither: a half-granted port is given back at once.
    int Grant(std::uint16_t base) {
        const int first = ioperm_(base, kRangeLength, true);
        if (first != 0) return first;
        const int second = ioperm_(base + kExtendedOffset, kRangeLength, true);
        if (second != 0) ioperm_(base, kRangeLength, false);
        return second;
    }

    // Granted ranges go back extended range first, the reverse of granting.
    void CloseAll() {
        current_.reset();
        for (Route& route : routes_) {
            if (route.cable) {
                route.cable.reset();
                continue;
            }
            ioperm_(route.base + kExtendedOffset, kRangeLength, false);
            ioperm_(route.base, kRangeLength, false);
        }
        routes_.clear();
    }

    IopermCall ioperm_;
    PpdevApi& ppdev_;
    std::optional<std::uint16_t> current_;
    std::vector<Route> routes_;
    std::string reason_;
};

}  // namespace

std::unique_ptr<PortAccess> MakeLinuxPortAccess(IopermCall ioperm, PpdevApi& ppdev) {
    return std::make_unique<LinuxPortAccess>(std::move(ioperm), ppdev);
}

std::unique_ptr<PortAccess> MakeHardwarePortAccess() { return MakeLinuxPortAccess(SystemIoperm, SystemPpdevApi()); }

}  // namespace orbvex

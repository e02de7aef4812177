// Port access on Linux: the kernel grants a process (and the threads and children it
// creates afterwards) the right to use ranges of I/O ports with ioperm. Other POSIX
// systems have no such call here and always refuse.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "port/port_access.h"

#if defined(__linux__) && (defined(__i386__) || defined(__x86_64__))
#include <sys/io.h>
#define ORBVEX_HAVE_IOPERM 1
#endif

namespace orbvex {
namespace {

constexpr unsigned kRangeLength = 3;          // data, status, control
constexpr std::uint16_t kExtendedOffset = 0x400;  // the same port's extended-mode registers

bool SetRange(std::uint16_t first, bool on) {
#if defined(ORBVEX_HAVE_IOPERM)
    return ioperm(first, kRangeLength, on ? 1 : 0) == 0;
#else
    (void)first;
    (void)on;
    errno = ENOSYS;
    return false;
#endif
}

// What a refusal of ioperm means for the operator, and what to do about it.
std::string RefusalReason(std::uint16_t base, int error) {
    char where[48];
    std::snprintf(where, sizeof where, "the ports at 0x%X: ", static_cast<unsigned>(base));
    std::string text = std::string("ioperm refused ") + where + std::strerror(error);
    switch (error) {
        case EPERM:
            return text + "; run as root, or give the program the right once with "
                          "sudo setcap cap_sys_rawio+ep on it (a kernel in lockdown, under Secure Boot, "
                          "refuses even then: use the parallel port device /dev/parportN)";
        case ENOSYS:
            return text + "; this system or processor has no port instructions for programs: "
                          "use the parallel port device /dev/parportN or GPIO pins";
        default:
            return text;
    }
}

class IopermPortAccess final : public PortAccess {
public:
    ~IopermPortAccess() override { WithdrawAll(); }

    bool Open(std::uint16_t lptBase) override { return Ensure(lptBase); }

    bool Ensure(std::uint16_t lptBase) override {
        for (std::uint16_t granted : granted_)
            if (granted == lptBase) return true;
        return Grant(lptBase);
    }

    void Close(std::uint16_t) override { WithdrawAll(); }

    std::string FailureReason() const override { return failure_; }

private:
    // Both ranges or neither: a half-granted port is given back at once.
    bool Grant(std::uint16_t lptBase) {
        const auto extended = static_cast<std::uint16_t>(lptBase + kExtendedOffset);
        if (!SetRange(lptBase, true)) {
            failure_ = RefusalReason(lptBase, errno);
            return false;
        }
        if (!SetRange(extended, true)) {
            failure_ = RefusalReason(extended, errno);
            SetRange(lptBase, false);
            return false;
        }
        granted_.push_back(lptBase);
        return true;
    }

    // The extended range goes back before the base range, the reverse of granting.
    void WithdrawAll() {
        for (std::uint16_t base : granted_) {
            SetRange(static_cast<std::uint16_t>(base + kExtendedOffset), false);
            SetRange(base, false);
        }
        granted_.clear();
    }

    std::vector<std::uint16_t> granted_;
    std::string failure_;
};

}  // namespace

std::unique_ptr<PortAccess> MakeHardwarePortAccess() {
    return std::make_unique<IopermPortAccess>();
}

}  // namespace orbvex

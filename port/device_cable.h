#pragma once
#include <functional>
#include <string>

#include "port/port_backend.h"

namespace orbvex {

// A cable the kernel drives for us (a ppdev parallel port, GPIO lines): the port
// registers become system calls. A call that fails in the middle of a transfer (an
// adapter unplugged, say) is reported once through the failure handler; from then on
// writes are dropped and every read answers TDO 1, so the operation under way fails by
// its normal paths instead of driving a cable that is gone.
class DeviceCable : public PortBackend {
public:
    bool Failed() const { return failed_; }
    const std::string& FailureReason() const { return failureReason_; }
    void SetFailureHandler(std::function<void(const std::string&)> handler) { onFailure_ = std::move(handler); }

protected:
    void Fail(const std::string& reason) {
        if (failed_) return;
        failed_ = true;
        failureReason_ = reason;
        if (onFailure_) onFailure_(reason);
    }

private:
    bool failed_ = false;
    std::string failureReason_;
    std::function<void(const std::string&)> onFailure_;
};

// "permission denied (EACCES)": the system's words for an errno value and its name.
std::string ErrnoText(int error);

}  // namespace orbvex

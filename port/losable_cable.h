// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <functional>
#include <string>
#include <utility>

#include "port/port_backend.h"

namespace orbvex {

// A cable that can be lost in the middle of a run: an adapter unplugged, a kernel call
// refused, a remote peer gone. The loss is reported once through the failure handler;
// from then on the cable drops writes and every read answers TDO 1, so the operation
// under way fails by its normal paths instead of driving a cable that is gone.
class LosableCable : public PortBackend {
public:
    bool Failed() const { return failed_; }
    const std::string& FailureReason() const { return failureReason_; }
    void SetFailureHandler(std::function<void(const std::string&)> handler) { onFailure_ = std::move(handler); }

protected:
    void Fail(const std::string& reason) {
        if (failed_) return;
        MarkGone(reason);
        if (onFailure_) onFailure_(reason);
    }
    // Gone on purpose (closed, never connected): nobody is told.
    void MarkGone(const std::string& reason) {
        failed_ = true;
        failureReason_ = reason;
    }

private:
    bool failed_ = false;
    std::string failureReason_;
    std::function<void(const std::string&)> onFailure_;
};

}  // namespace orbvex

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What every cable that can be lost in the middle of a run shares once opened.
#include <memory>
#include <string>
#include <utility>

#include "cables/cable.h"
#include "port/losable_cable.h"

namespace orbvex::cables {

// A cable behind a backend of its own, which the kernel, a USB library or a peer may
// take away at any time; it needs no grant to the port's registers.
class BackendCable : public Cable {
public:
    explicit BackendCable(std::unique_ptr<LosableCable> backend) : backend_(std::move(backend)) {}

    PortAccess& Access() override { return *access_; }
    PortBackend* Backend() override { return backend_.get(); }
    bool Lost() const override { return backend_->Failed(); }
    // A cable lost with the release's writes: the last command's closing writes may not
    // have reached the target.
    Status Finish() override {
        if (backend_->Failed()) return Failure("");  // said when it was lost
        return {};
    }
    void ReportLossTo(std::function<void(const std::string&)> say) override {
        backend_->SetFailureHandler([this, say](const std::string& reason) {
            say(DescribeLoss(reason) + "; the operation cannot finish");
        });
    }

protected:
    // The line that tells the user the cable is gone, from the backend's reason.
    virtual std::string DescribeLoss(const std::string& reason) const { return reason; }

    std::unique_ptr<LosableCable> backend_;

private:
    std::unique_ptr<PortAccess> access_ = MakeUnrestrictedPortAccess();
};

}  // namespace orbvex::cables

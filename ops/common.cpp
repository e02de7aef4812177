// SPDX-License-Identifier: GPL-2.0-or-later
#include "ops/common.h"

#include "link/dcu.h"
#include "link/jtag.h"
#include "link/trap.h"

namespace orbvex {
namespace {
bool g_operationRunning = false;
}

OperationGuard::OperationGuard(WindowServices& window) : acquired_(!g_operationRunning) {
    if (!acquired_) return;
    g_operationRunning = true;
    log_.emplace(window);
}

OperationGuard::~OperationGuard() {
    if (acquired_) g_operationRunning = false;
}

bool OperationRunning() { return g_operationRunning; }

bool UsePort(Link& link, WindowServices& window, std::uint16_t lptBase) {
    const bool usable = link.UsePort(lptBase);
    if (!usable) window.ShowErrorBox(kPortError);
    return usable;
}

bool BringUpLink(Link& link, WindowServices& window, std::uint16_t lptBase) {
    if (!UsePort(link, window, lptBase)) return false;
    JtagInit();
    SelectDcu();
    return true;
}

void EndOperation(WindowServices& window) {
    window.LogLine(kSeparator);
    window.Beep(kInformationBeep);
}

bool DcuAnswers(WindowServices& window) {
    std::uint32_t ignored = 0;
    bool answers = DcuReadWord(kDcuProbeAddress, ignored);
    window.LogLine(answers ? "DCU OK" : "DCU Fail");
    return answers;
}

namespace {
constexpr std::uint32_t kStillWaitingEveryMs = 10000;
}

TrapWaitWatch::TrapWaitWatch(WindowServices& window, std::string what, std::function<bool()> stop,
                             std::optional<std::uint32_t> chunkAddress)
    : window_(window),
      what_(std::move(what)),
      stop_(std::move(stop)),
      chunkAddress_(chunkAddress),
      started_(TickCountMs()),
      nextNotice_(kStillWaitingEveryMs) {}

bool TrapWaitWatch::operator()(std::uint32_t status) {
    if (IsTrapFailure(status) && window_.StopAtTrapFailure()) {
        failure_ = TrapFailureText(status, chunkAddress_);
        return true;
    }
    ++polls_;
    const std::uint32_t waited = TickCountMs() - started_;
    if (waited >= nextNotice_) {
        window_.StillWaiting("the target has not answered yet (" + what_ + ", " + std::to_string(waited / 1000) +
                             " s, poll " + std::to_string(polls_) + " of " + std::to_string(mailbox::kPollLimit) + ")");
        nextNotice_ = (waited / kStillWaitingEveryMs + 1) * kStillWaitingEveryMs;
    }
    return stop_ && stop_();
}

bool FindMailbox(Link& link, WindowServices& window) {
    const bool readOk = link.ReadMailbox();
    window.LogLine("Trap_Wptr : " + Hex8(link.TrapWptr()));
    // A mailbox at address 0 would send commands into the CPU's low registers.
    if (!readOk) {
        window.LogLine("Trap workspace word " + Hex8(kTrapWorkspaceWord) +
                       " could not be read: stopped before the mailbox");
        return false;
    }
    if (link.TrapWptr() == 0) {
        window.LogLine("Trap workspace word " + Hex8(kTrapWorkspaceWord) +
                       " is 00000000, no trap program: press START first");
        return false;
    }
    return true;
}

}  // namespace orbvex

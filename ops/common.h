// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What the operations share: the port and the refusal without one, the log the link
// writes into, the end of an operation and the first DCU exchanges of the flash
// operations.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "link/link.h"
#include "link/link_log.h"
#include "link/mailbox.h"
#include "util/flash_map.h"
#include "ops/window_services.h"

namespace orbvex {

inline constexpr const char* kSeparator = "---------------------";
inline constexpr const char* kPortError = "The parallel port could not be opened";
inline constexpr unsigned kInformationBeep = 0x40;

inline constexpr std::uint32_t kDcuProbeAddress = 0x3000;

// Sends the link's own log lines to the window while an operation runs, and puts the
// previous sink back afterwards.
class LinkLogScope {
public:
    explicit LinkLogScope(LogSink& sink) : previous_(LinkLogSink()) { SetLinkLog(&sink); }
    ~LinkLogScope() { SetLinkLog(previous_); }
    LinkLogScope(const LinkLogScope&) = delete;
    LinkLogScope& operator=(const LinkLogScope&) = delete;

private:
    LogSink* previous_;
};

// Marks an operation as running and sends the link's own log lines to its window for
// as long as it lives. An operation that finds another one already running (a click
// delivered while the first one lets window messages through) must not touch the
// link: Acquired() is then false.
class OperationGuard {
public:
    explicit OperationGuard(WindowServices& window);
    ~OperationGuard();
    OperationGuard(const OperationGuard&) = delete;
    OperationGuard& operator=(const OperationGuard&) = delete;
    bool Acquired() const { return acquired_; }

private:
    bool acquired_;
    std::optional<LinkLogScope> log_;
};

// Makes lptBase the link's port and tells whether it may be driven. Otherwise shows
// the error box and the operation ends without touching the port, the log or the beep.
bool UsePort(Link& link, WindowServices& window, std::uint16_t lptBase);

// The opening the flash operations share: the port and the refusal without it, then
// the JTAG link brought up and the DCU selected. False when refused.
bool BringUpLink(Link& link, WindowServices& window, std::uint16_t lptBase);

// The end of an operation that ran its course: the separator and the information beep.
void EndOperation(WindowServices& window);

// Reads 0x3000 as a sign of life and logs "DCU OK" or "DCU Fail".
bool DcuAnswers(WindowServices& window);

// Asked between the polls of a trap command, with the command word read: true when the
// operation is to stop (stop, when given, says so; or the word shows the trap program's
// failure and the front end stops at it: Failure() then says why). Meanwhile it tells a
// user at a terminal every 10 s that the target has not answered yet, so that a long
// wait is seen to be alive.
class TrapWaitWatch {
public:
    // what: the command waited for, as the notice names it ("erase ADR[7FF00000]");
    // chunkAddress: a program command's flash address, which places a failing word.
    TrapWaitWatch(WindowServices& window, std::string what, std::function<bool()> stop = {},
                  std::optional<std::uint32_t> chunkAddress = {});
    bool operator()(std::uint32_t status);
    const std::optional<std::string>& Failure() const { return failure_; }

private:
    WindowServices& window_;
    std::string what_;
    std::function<bool()> stop_;
    std::optional<std::uint32_t> chunkAddress_;
    std::optional<std::string> failure_;
    std::uint32_t started_;
    std::uint32_t nextNotice_;
    int polls_ = 0;
};

// Reads the trap workspace word into the link's mailbox (TrapWptr) and logs it. False,
// with a line that says why, when it could not be read or is 0: the mailbox must then
// not be touched.
bool FindMailbox(Link& link, WindowServices& window);

}  // namespace orbvex

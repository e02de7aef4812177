#pragma once
// What the four operations share: the port choice and the refusal without a port,
// the log the link writes into, the end of an operation, the flash range and the
// first DCU exchanges of Erase, Write and Read.
#include <cstdint>
#include <string>

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

// Marks an operation as running. An operation that finds another one already running
// (a click delivered while the first one lets window messages through) must not touch
// the link: Acquired() is then false.
class OperationGuard {
public:
    OperationGuard();
    ~OperationGuard();
    OperationGuard(const OperationGuard&) = delete;
    OperationGuard& operator=(const OperationGuard&) = delete;
    bool Acquired() const { return acquired_; }

private:
    bool acquired_;
};

// LptBase from L1 and L2; the later test wins, neither leaves it as it was.
void ApplyPortChoice(const WindowServices& window);

// True when the chosen port may be driven. Otherwise shows the error box and the
// operation ends without touching the port, the log or the beep.
bool PortUsableOrRefuse(WindowServices& window);

// The opening Erase, Write and Read share: the port choice, the refusal without a
// port, then the JTAG link brought up and the DCU selected. False when refused.
bool BringUpLink(WindowServices& window);

// The end of an operation that ran its course: the separator and the information beep.
void EndOperation(WindowServices& window);

// F1: 1 MB at 0x7FF00000; then, as a separate test, F2: 2 MB at 0x7FE00000.
FlashRange ChosenFlash(const WindowServices& window);

// Reads 0x3000 as a sign of life and logs "DCU OK" or "DCU Fail".
bool DcuAnswers(WindowServices& window);

// Reads the trap workspace word into TrapWptr and logs it. False, with a line that
// says why, when it could not be read or is 0: the mailbox must then not be touched.
bool FindMailbox(WindowServices& window);

}  // namespace orbvex

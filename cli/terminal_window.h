// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <functional>
#include <ostream>
#include <string>

#include "cli/progress_bar.h"
#include "ops/window_services.h"

namespace orbvex::cli {

// The window's services on a terminal: the log is stdout, one line per log line and
// nothing else; the error box and the tool's own messages go to stderr; a transfer's
// progress is drawn on stderr when it is a terminal.
class TerminalWindow final : public WindowServices {
public:
    TerminalWindow(std::ostream& out, std::ostream& err, ProgressBar& progress);

    // Asked at each message-processing point; true asks the running operation to abort.
    void SetAbortPoll(std::function<bool()> poll) { abortPoll_ = std::move(poll); }

    void LogLine(const std::string& line) override;
    void ClearLog() override {}
    void SetAddressLabel(const std::string&) override {}
    void SetProgressPosition(int) override {}
    void SetProgressMaximum(int) override {}
    void ProcessMessages() override;
    void ShowErrorBox(const std::string& text) override;
    void Beep(unsigned) override {}
    void StillWaiting(const std::string& text) override { Complain(text); }
    void TransferProgress(std::uint64_t done, std::uint64_t total) override;
    bool StopRequested() override { return abortPoll_ && abortPoll_(); }
    bool StopAtTrapFailure() override { return true; }

    // Writes a line of the tool's own (not the log's) to stderr.
    void Complain(const std::string& text);

    // A command begins: what it logs from now on may be why it fails.
    void BeginCommand();
    // The command failed: its last log line says why (the separator, and a closing line
    // such as "Write Flash END" after the reason, aside), and goes to stderr too, where
    // the failure is reported, unless stderr has said it already. A script that keeps
    // only stderr still learns the reason.
    void RepeatReason();

private:
    std::ostream& out_;
    std::ostream& err_;
    ProgressBar& progress_;
    std::function<bool()> abortPoll_;
    std::string lastLine_;     // of the running command's log, closing lines aside
    std::string closingLine_;  // the closing line logged after lastLine_, if any
    std::string complaints_;   // said on stderr since the command began
};

}  // namespace orbvex::cli

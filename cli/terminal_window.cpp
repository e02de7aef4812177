// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/terminal_window.h"

#include "ops/common.h"
#include "ops/operations.h"

namespace orbvex::cli {
namespace {

// Lines an operation ends with after its reason, when it failed: they say only that it
// ended.
bool ClosesOperation(const std::string& line) {
    return line == "Write Flash END" || line == "Fail" || line == "Trap :(";
}

// A line that announces work says nothing of why the work failed.
bool AnnouncesWork(const std::string& line) {
    static const std::string kWorking = "Please Wait...";
    return line.size() >= kWorking.size() && line.compare(line.size() - kWorking.size(), kWorking.size(), kWorking) == 0;
}

}  // namespace

TerminalWindow::TerminalWindow(std::ostream& out, std::ostream& err, ProgressBar& progress)
    : out_(out), err_(err), progress_(progress) {}

void TerminalWindow::LogLine(const std::string& line) {
    progress_.Clear();
    // Flushed line by line: a pipe reader sees the log as it grows, as the window shows it.
    out_ << line << '\n'
         << std::flush;
    if (line == kSeparator) return;
    if (ClosesOperation(line)) {
        closingLine_ = line;
        return;
    }
    lastLine_ = line;
    closingLine_.clear();
}

void TerminalWindow::ProcessMessages() {
    if (abortPoll_ && abortPoll_()) AbortRequested = true;
}

void TerminalWindow::ShowErrorBox(const std::string& text) { Complain(text); }

void TerminalWindow::Complain(const std::string& text) {
    progress_.Clear();
    err_ << "orbvex_cli: " << text << '\n'
         << std::flush;
    complaints_ += text + '\n';
}

void TerminalWindow::BeginCommand() {
    lastLine_.clear();
    closingLine_.clear();
    complaints_.clear();
}

void TerminalWindow::RepeatReason() {
    // The line before a closing line is the reason, unless it only announced the work.
    const bool reasonGiven = !lastLine_.empty() && (closingLine_.empty() || !AnnouncesWork(lastLine_));
    const std::string& reason = reasonGiven ? lastLine_ : closingLine_;
    if (!reason.empty() && complaints_.find(reason) == std::string::npos) Complain(reason);
}

void TerminalWindow::TransferProgress(std::uint64_t done, std::uint64_t total) { progress_.Update(done, total); }

}  // namespace orbvex::cli

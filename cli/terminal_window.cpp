// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/terminal_window.h"

#include "ops/common.h"
#include "ops/operations.h"

namespace orbvex::cli {

TerminalWindow::TerminalWindow(std::ostream& out, std::ostream& err, ProgressBar& progress)
    : out_(out), err_(err), progress_(progress) {}

void TerminalWindow::LogLine(const std::string& line) {
    progress_.Clear();
    // Flushed line by line: a pipe reader sees the log as it grows, as the window shows it.
    out_ << line << '\n'
         << std::flush;
    if (line != kSeparator) lastLine_ = line;
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
    complaints_.clear();
}

void TerminalWindow::RepeatReason() {
    if (!lastLine_.empty() && complaints_.find(lastLine_) == std::string::npos) Complain(lastLine_);
}

void TerminalWindow::TransferProgress(std::uint64_t done, std::uint64_t total) { progress_.Update(done, total); }

}  // namespace orbvex::cli

#include "cli/terminal_window.h"

#include "ops/operations.h"

namespace orbvex::cli {

TerminalWindow::TerminalWindow(std::ostream& out, std::ostream& err, ProgressBar& progress, bool flash2M,
                               PortButton port)
    : out_(out), err_(err), progress_(progress), flash2M_(flash2M), port_(port) {}

void TerminalWindow::LogLine(const std::string& line) {
    progress_.Clear();
    // Flushed line by line: a pipe reader sees the log as it grows, as the window shows it.
    out_ << line << '\n' << std::flush;
}

bool TerminalWindow::AnswerDialog(std::string& chosen) {
    if (dialogAnswer_.empty()) return false;
    chosen = dialogAnswer_;
    dialogAnswer_.clear();  // one answer per command
    return true;
}

bool TerminalWindow::RunOpenDialog(const FileDialogSetup&, std::string& chosen) { return AnswerDialog(chosen); }

bool TerminalWindow::RunSaveDialog(const FileDialogSetup&, std::string& chosen) { return AnswerDialog(chosen); }

void TerminalWindow::ProcessMessages() {
    if (abortPoll_ && abortPoll_()) AbortRequested = true;
}

void TerminalWindow::ShowErrorBox(const std::string& text) { Complain(text); }

void TerminalWindow::Complain(const std::string& text) {
    progress_.Clear();
    err_ << "orbvex_cli: " << text << '\n' << std::flush;
}

bool TerminalWindow::IsChecked(Radio radio) const {
    switch (radio) {
        case Radio::F1: return !flash2M_;
        case Radio::F2: return flash2M_;
        case Radio::L1: return port_ == PortButton::L1;
        case Radio::L2: return port_ == PortButton::L2;
    }
    return false;
}

void TerminalWindow::TransferProgress(std::uint64_t done, std::uint64_t total) { progress_.Update(done, total); }

}  // namespace orbvex::cli

#pragma once
#include <functional>
#include <ostream>
#include <string>

#include "cli/cli_options.h"
#include "cli/progress_bar.h"
#include "ops/window_services.h"

namespace orbvex::cli {

// The window's services on a terminal: the log is stdout, one line per log line and
// nothing else; the error box goes to stderr; the file dialogs are answered by the
// command's FILE; the radio buttons are the command line's choices.
class TerminalWindow final : public WindowServices {
public:
    TerminalWindow(std::ostream& out, std::ostream& err, ProgressBar& progress, bool flash2M, PortButton port);

    // The path the next open or save dialog returns; empty: the dialog is cancelled.
    void SetDialogAnswer(const std::string& path) { dialogAnswer_ = path; }
    // Asked at each message-processing point; true asks the running operation to abort.
    void SetAbortPoll(std::function<bool()> poll) { abortPoll_ = std::move(poll); }

    void LogLine(const std::string& line) override;
    void ClearLog() override {}
    void SetAddressLabel(const std::string&) override {}
    void SetProgressPosition(int) override {}
    void SetProgressMaximum(int) override {}
    bool RunOpenDialog(const FileDialogSetup& setup, std::string& chosen) override;
    bool RunSaveDialog(const FileDialogSetup& setup, std::string& chosen) override;
    void ProcessMessages() override;
    void ShowErrorBox(const std::string& text) override;
    void Beep(unsigned) override {}
    bool IsChecked(Radio radio) const override;
    void TransferProgress(std::uint64_t done, std::uint64_t total) override;

    // Writes a line of the tool's own (not the log's) to stderr.
    void Complain(const std::string& text);

private:
    bool AnswerDialog(std::string& chosen);

    std::ostream& out_;
    std::ostream& err_;
    ProgressBar& progress_;
    bool flash2M_;
    PortButton port_;
    std::string dialogAnswer_;
    std::function<bool()> abortPoll_;
};

}  // namespace orbvex::cli

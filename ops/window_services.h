#pragma once
#include <cstdint>
#include <string>

#include "link/link_log.h"

namespace orbvex {

// The radio buttons the operations read: flash size (F1 1 MB, F2 2 MB) and port (L1, L2).
enum class Radio { F1, F2, L1, L2 };

// What a file dialog is set up with before it runs.
struct FileDialogSetup {
    std::string filter;      // "ROM files (*.rom)|*.rom|All files (*.*)|*.*"
    std::string initialDir;  // the program's folder
    std::string defaultExt;  // "rom" or "bin", added to a typed name that has none
};

// The services the window offers the operations. The window, the command-line tool
// and the tests each implement it, so that every operation is written once.
class WindowServices : public LogSink {
public:
    // LogLine (from LogSink) appends one line to the log.
    virtual void ClearLog() = 0;
    virtual void SetAddressLabel(const std::string& text) = 0;  // Label1
    virtual void SetProgressPosition(int position) = 0;         // ProgressBar1
    virtual void SetProgressMaximum(int maximum) = 0;
    // Run a dialog; false when the operator cancelled. chosen is the full path.
    virtual bool RunOpenDialog(const FileDialogSetup& setup, std::string& chosen) = 0;
    virtual bool RunSaveDialog(const FileDialogSetup& setup, std::string& chosen) = 0;
    // Lets pending window messages (repaints, a click on Abort) be handled once.
    virtual void ProcessMessages() = 0;
    virtual void ShowErrorBox(const std::string& text) = 0;
    virtual void Beep(unsigned type) = 0;  // 0x40: the information sound
    virtual bool IsChecked(Radio radio) const = 0;

    // Bytes moved so far of a transfer of total bytes; for front ends that show a rate
    // and time left. The window has its progress bar and ignores it.
    virtual void TransferProgress(std::uint64_t done, std::uint64_t total) {
        (void)done;
        (void)total;
    }
};

}  // namespace orbvex

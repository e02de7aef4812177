// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What the window does when the operator works it, whatever toolkit draws it: the four
// operation buttons, Abort, one operation at a time on the link, a close held back
// while one runs, and where the file dialogs open. A toolkit's window gives it its
// controls and dialogs (WindowControls) and its log, label, bar and boxes
// (WindowServices), and forwards its clicks and close requests.
#include <functional>
#include <optional>
#include <string>

#include "app/form_choices.h"
#include "app/window_link.h"
#include "ops/operations.h"
#include "ops/window_services.h"

namespace orbvex::app {

// The radio buttons the operations read.
enum class Choice { F1,
                    F2,
                    L1,
                    L2 };

// What a toolkit's window does for the controller.
class WindowControls {
public:
    virtual ~WindowControls() = default;
    virtual bool IsChecked(Choice button) const = 0;
    // false: greys START, Erase, Write, Read and Exit while an operation runs (Abort
    // stays live: it is how a running Write is stopped). true: brings them back, and
    // the focus to the control that had it, if it still may have it.
    virtual void SetOperationButtonsEnabled(bool enabled) = 0;
    // Asks the window to close, as Exit does; the controller calls it at the end of an
    // operation during which a close was asked for.
    virtual void CloseWindow() = 0;
    // Runs the open (save false) or save dialog set up as told, opening in folder; the
    // chosen file's full path, or nothing when the operator cancelled.
    virtual std::optional<std::string> RunFileDialog(bool save, const FileDialogSetup& setup,
                                                     const std::string& folder) = 0;
};

// The operations the buttons run. Each one left empty runs the real one of ops/; the
// tests fill them to look inside a run.
struct WindowOperations {
    template <typename Inputs>
    using Operation = std::function<bool(Link&, WindowServices&, const Inputs&)>;

    Operation<StartInputs> start;
    Operation<EraseInputs> erase;
    Operation<WriteInputs> write;
    Operation<ReadInputs> read;
};

class WindowController {
public:
    // services and controls are the window's; access and backend (null: the real port)
    // must outlive the controller. START loads trapFile.
    WindowController(WindowServices& services, WindowControls& controls, PortAccess& access, PortBackend* backend,
                     std::string trapFile, WindowOperations operations = {});
    WindowController(const WindowController&) = delete;
    WindowController& operator=(const WindowController&) = delete;

    // FormCreate and FormClose: the link taken when the window is created, given back
    // when it closes.
    void Open();
    void Close();
    // A cable option fixes the port: it is the port the operations then find chosen
    // when neither port button is.
    void FixPort(std::uint16_t lptBase) { link_.Link().ChoosePort(lptBase); }
    // Whether a close asked for now may go ahead. Not while an operation runs: port
    // access must not be withdrawn under it. The close is then asked again at its end.
    bool MayClose();

    void Start();
    void Erase();
    void Write();
    void Read();
    void Abort();

    // True from the click on an operation button until that operation has returned.
    bool OperationRunning() const { return running_; }
    // True when a close was asked for during an operation and waits for its end.
    bool ClosePending() const { return closePending_; }

    // Runs Write's (save false) or Read's dialog in the folder it opens in; the chosen
    // path, or nothing when the operator cancelled.
    std::optional<std::string> ChooseFile(bool save);
    // The folder the next file dialog opens in: the program's own, as always, unless
    // files cannot be created there (an installed program); then the folder of the
    // file last chosen in this run, else the user's home folder.
    std::string DialogFolder() const;

private:
    void Run(const std::function<void()>& operation);
    // What the radio buttons say at the moment an operation asks.
    std::uint16_t ChosenPort() const;
    FlashRange ChosenFlash() const;
    // The dialog's answer and the flash chosen right after it, as Write and Read ask.
    FileChooser FileChooserFor(bool save);

    WindowServices& services_;
    WindowControls& controls_;
    PortAccess& access_;
    PortBackend* backend_;
    std::string trapFile_;
    WindowOperations operations_;
    WindowLink link_;
    std::string lastFolder_;
    bool running_ = false;
    bool closePending_ = false;
};

}  // namespace orbvex::app

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The program's one window written against the Win32 API: two choices, four
// operations, the log. It is built from the same description as the Qt window
// (app/form_layout.h) and runs the same operations through the same services.
#include <windows.h>
#include <commdlg.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/window_controller.h"
#include "app/win32/form_controls.h"
#include "ops/link_session.h"
#include "ops/window_services.h"

// What the window hands to the world outside it. Each hook left empty falls back to
// the real thing (the common file dialog, MessageBox, MessageBeep); the tests fill
// them so that nothing waits for an operator.
struct TForm1Hooks {
    // Runs a file dialog the window has set up; true with the path in lpstrFile, false
    // when the operator cancelled.
    std::function<bool(OPENFILENAMEA& dialog, bool save)> runFileDialog;
    std::function<void(const std::string& text)> showErrorBox;
    std::function<void(unsigned type)> beep;
};

class TForm1 final : public orbvex::WindowServices, private orbvex::app::WindowControls {
public:
    // Creating the window runs FormCreate, which wires the backend (null: the real port)
    // and opens port access through portAccess; both must outlive the window. START
    // loads trapFile. owner carries the application's task-bar button.
    TForm1(orbvex::PortAccess& portAccess, orbvex::PortBackend* backend, std::string trapFile, HWND owner,
           TForm1Hooks hooks = {});
    ~TForm1() override;
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    HWND Handle() const { return hwnd_; }
    orbvex::app::WindowController& Controller() { return controller_; }
    // The control of that name in the window's description.
    HWND Control(std::string_view name) const { return controls_.Find(name); }
    // Shows the window centred on the screen, the focus on the first control.
    void Show();
    // Takes the keys the window's keyboard interface handles before dispatch; true when
    // the message was one of them. Every message loop that serves the window calls it.
    bool PreTranslateMessage(const MSG& message);

    // The controls, in the order the window declares them.
    HWND GroupBox1, GroupBox2, F1, F2, Button5, L1, L2, GroupBox3, Button6, Button7, Button8, Label1;
    HWND GroupBox4, Button1, Image1, Memo1, Bevel1, ProgressBar1, Button2, Label2;

    void FormCreate();
    void FormClose();
    void Button5Click();
    void Button6Click();
    void Button7Click();
    void Button8Click();
    void Button1Click();
    void Button2Click();

    // orbvex::WindowServices
    void LogLine(const std::string& line) override;
    void ClearLog() override;
    void SetAddressLabel(const std::string& text) override;
    void SetProgressPosition(int position) override;
    void SetProgressMaximum(int maximum) override;
    void ProcessMessages() override;
    void ShowErrorBox(const std::string& text) override;
    void Beep(unsigned type) override;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnCommand(HWND control, UINT notification);
    void OnClose();

    // orbvex::app::WindowControls
    bool IsChecked(orbvex::app::Choice button) const override;
    void SetOperationButtonsEnabled(bool enabled) override;
    void CloseWindow() override;
    std::optional<std::string> RunFileDialog(bool save, const orbvex::app::FileDialogSetup& setup,
                                             const std::string& folder) override;

    TForm1Hooks hooks_;
    HWND hwnd_ = nullptr;
    orbvex::win32::FormControls controls_;
    HWND lastFocus_ = nullptr;
    HWND focusBeforeRun_ = nullptr;
    orbvex::app::WindowController controller_;
};

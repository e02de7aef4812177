// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What a Win32 window program does around its window: the application window that
// carries the task-bar button, and the message loop.
#include <windows.h>

#include <cstdint>
#include <string>

#include "app/window_cable.h"

class TForm1;

namespace orbvex::win32 {

// The application's own window, never seen: it carries the task-bar button, titled
// with the application's name, so that the main window's caption can say something
// else. The main window is owned by it and gets no button of its own.
class ApplicationWindow {
public:
    ApplicationWindow();
    ~ApplicationWindow();
    ApplicationWindow(const ApplicationWindow&) = delete;
    ApplicationWindow& operator=(const ApplicationWindow&) = delete;

    HWND Handle() const { return hwnd_; }
    // The window the task-bar button brings forward and closes.
    void SetMainWindow(HWND main) { main_ = main; }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    HWND hwnd_ = nullptr;
    HWND main_ = nullptr;
};

// Once per program, before any window: the common controls the window uses.
void InitApplication();

// A cable named on the command line decides the port: the LPT1/LPT2 choice shows it
// (neither button for another base, which the operations then keep) and is greyed.
void FixPortChoice(TForm1& window, std::uint16_t base);

// The whole program: opens the cable its command line names (a refusal or a cable that
// cannot be reached is shown in a message box and ends it), creates the window over it,
// shows it and runs the message loop until it closes, then gives the cable back.
// Returns the program's exit status.
int RunWindowProgram(const app::WindowProgram& program, int argc, const char* const* argv);

}  // namespace orbvex::win32

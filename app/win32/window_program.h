#pragma once
// What a Win32 window program does around its window: the application window that
// carries the task-bar button, and the message loop.
#include <windows.h>

#include <string>

namespace orbvex {
class PortAccess;
class PortBackend;
}  // namespace orbvex

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

// Creates the window over the given port access and backend (null: the real port),
// shows it and runs the message loop until it closes. START loads trapFile. Returns
// the program's exit code.
int RunWindowProgram(orbvex::PortAccess& portAccess, orbvex::PortBackend* backend, const std::string& trapFile);

}  // namespace orbvex::win32

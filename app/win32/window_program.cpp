#include "app/win32/window_program.h"

#include <commctrl.h>

#include "app/form_layout.h"
#include "app/win32/Unit1.h"

namespace orbvex::win32 {
namespace {
constexpr const char* kApplicationClass = "TApplication";
}

ApplicationWindow::ApplicationWindow() {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSEXA cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = WindowProc;
    cls.hInstance = instance;
    cls.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    cls.lpszClassName = kApplicationClass;
    RegisterClassExA(&cls);  // a second registration fails harmlessly
    // No size, in the middle of the screen: there is nothing to see, only the button.
    hwnd_ = CreateWindowExA(0, kApplicationClass, app::kWindow.applicationTitle,
                            WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                            GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0, nullptr, nullptr,
                            instance, nullptr);
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ShowWindow(hwnd_, SW_SHOWNORMAL);
}

ApplicationWindow::~ApplicationWindow() {
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
}

LRESULT CALLBACK ApplicationWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<ApplicationWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    HWND main = self ? self->main_ : nullptr;
    if (main && IsWindow(main)) {
        switch (message) {
        case WM_CLOSE: return SendMessageA(main, WM_CLOSE, 0, 0);  // "Close window" on the task bar
        case WM_SETFOCUS:
            if (IsWindowEnabled(main)) SetActiveWindow(main);
            return 0;
        default: break;
        }
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void InitApplication() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
}

int RunWindowProgram(orbvex::PortAccess& portAccess, orbvex::PortBackend* backend, const std::string& trapFile) {
    InitApplication();
    ApplicationWindow application;
    TForm1 window(portAccess, backend, trapFile, application.Handle());
    application.SetMainWindow(window.Handle());
    window.Show();
    MSG message;
    int status = 0;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (window.PreTranslateMessage(message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (message.message == WM_QUIT) status = static_cast<int>(message.wParam);
    return status;
}

}  // namespace orbvex::win32

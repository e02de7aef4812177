// SPDX-License-Identifier: GPL-2.0-or-later
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

void FixPortChoice(TForm1& window, std::uint16_t base) {
    SendMessageA(window.L1, BM_SETCHECK, base == kLpt1Base ? BST_CHECKED : BST_UNCHECKED, 0);
    SendMessageA(window.L2, BM_SETCHECK, base == kLpt2Base ? BST_CHECKED : BST_UNCHECKED, 0);
    EnableWindow(window.L1, FALSE);
    EnableWindow(window.L2, FALSE);
    window.Controller().FixPort(base);
}

namespace {

int RunWindow(app::WindowCable& opened) {
    cables::Cable& cable = *opened.cable;
    InitApplication();
    ApplicationWindow application;
    TForm1 window(cable.Access(), cable.Backend(), opened.trapFile, application.Handle());
    if (opened.portFixed) FixPortChoice(window, cable.LptBase());
    cable.ReportLossTo([&window](const std::string& line) { window.LogLine(line); });
    for (const std::string& line : opened.warnings) window.LogLine(line);
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
    cable.ReportLossTo([](const std::string&) {});  // the window is about to go
    return status;
}

}  // namespace

int RunWindowProgram(const app::WindowProgram& program, int argc, const char* const* argv) {
    app::WindowCable opened = app::OpenWindowCable(program, argc, argv);
    int status = opened.cable ? RunWindow(opened) : opened.exitCode;
    status = app::CloseWindowCable(opened, status);
    // A GUI program has no console to write to.
    if (!opened.message.empty())
        MessageBoxA(nullptr, opened.message.c_str(), program.name, status == 0 ? MB_ICONINFORMATION : MB_ICONERROR);
    return status;
}

}  // namespace orbvex::win32

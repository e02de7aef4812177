// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/win32/Unit1.h"

#include <commctrl.h>

#include <algorithm>
#include <initializer_list>
#include <utility>

namespace {

constexpr const char* kFormClass = "TForm1";
constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS;  // fixed single border

void RegisterFormClass(HINSTANCE instance, WNDPROC procedure) {
    static bool registered = false;
    if (registered) return;
    WNDCLASSEXA cls{};
    cls.cbSize = sizeof cls;
    cls.style = CS_DBLCLKS;
    cls.lpfnWndProc = procedure;
    cls.hInstance = instance;
    cls.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    cls.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = kFormClass;
    registered = RegisterClassExA(&cls) != 0;
}

}  // namespace

TForm1::TForm1(orbvex::PortAccess& portAccess, orbvex::PortBackend* backend, std::string trapFile, HWND owner,
               TForm1Hooks hooks)
    : hooks_(std::move(hooks)), controller_(*this, *this, portAccess, backend, std::move(trapFile)) {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    RegisterFormClass(instance, WindowProc);
    RECT frame{0, 0, orbvex::app::kWindow.clientWidth, orbvex::app::kWindow.clientHeight};
    AdjustWindowRectEx(&frame, kFormStyle, FALSE, 0);
    CreateWindowExA(0, kFormClass, orbvex::app::kWindow.caption, kFormStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                    frame.right - frame.left, frame.bottom - frame.top, owner, nullptr, instance, this);
    controls_.Create(hwnd_);
    const std::initializer_list<std::pair<HWND*, const char*>> members = {
        {&GroupBox1, "GroupBox1"}, {&GroupBox2, "GroupBox2"}, {&F1, "F1"}, {&F2, "F2"}, {&Button5, "Button5"}, {&L1, "L1"}, {&L2, "L2"}, {&GroupBox3, "GroupBox3"}, {&Button6, "Button6"}, {&Button7, "Button7"}, {&Button8, "Button8"}, {&Label1, "Label1"}, {&GroupBox4, "GroupBox4"}, {&Button1, "Button1"}, {&Image1, "Image1"}, {&Memo1, "Memo1"}, {&Bevel1, "Bevel1"}, {&ProgressBar1, "ProgressBar1"}, {&Button2, "Button2"}, {&Label2, "Label2"}};
    for (const auto& [member, name] : members) *member = controls_.Find(name);
    FormCreate();
}

TForm1::~TForm1() {
    if (IsWindow(hwnd_)) {
        FormClose();
        DestroyWindow(hwnd_);
    }
}

void TForm1::Show() {
    RECT frame;
    GetWindowRect(hwnd_, &frame);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    SetWindowPos(hwnd_, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2, (GetSystemMetrics(SM_CYSCREEN) - height) / 2,
                 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    UpdateWindow(hwnd_);
    SetForegroundWindow(hwnd_);
    SetFocus(lastFocus_ ? lastFocus_ : controls_.FirstTabStop());
}

bool TForm1::PreTranslateMessage(const MSG& message) {
    if (message.message != WM_KEYDOWN || !IsWindow(hwnd_)) return false;
    if (message.hwnd != hwnd_ && !IsChild(hwnd_, message.hwnd)) return false;
    return controls_.HandleKey(GetFocus(), message.wParam);
}

LRESULT CALLBACK TForm1::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* form = static_cast<TForm1*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        form->hwnd_ = hwnd;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<TForm1*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    return form ? form->HandleMessage(message, wParam, lParam) : DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT TForm1::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        OnCommand(reinterpret_cast<HWND>(lParam), HIWORD(wParam));
        return 0;
    case WM_DRAWITEM: {
        // The window draws its own controls: the bevel's rule, and nothing for the empty picture.
        const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item.hwndItem == Bevel1) orbvex::win32::DrawBevel(item);
        return TRUE;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
        // Labels, captions and the picture area lie on the window's button face.
        const auto dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_GETFONT: return reinterpret_cast<LRESULT>(controls_.WindowFont());
    case WM_ACTIVATE:
        // The focus comes back to the control that had it when the window was left.
        if (LOWORD(wParam) == WA_INACTIVE) {
            lastFocus_ = GetFocus();
        } else if (IsWindowVisible(hwnd_)) {
            SetFocus(lastFocus_ && IsChild(hwnd_, lastFocus_) ? lastFocus_ : controls_.FirstTabStop());
        }
        return 0;
    case WM_CLOSE: OnClose(); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcA(hwnd_, message, wParam, lParam);
    }
}

void TForm1::OnCommand(HWND control, UINT notification) {
    if (notification != BN_CLICKED) return;
    if (control == Button5) Button5Click();
    if (control == Button6) Button6Click();
    if (control == Button7) Button7Click();
    if (control == Button8) Button8Click();
    if (control == Button1) Button1Click();
    if (control == Button2) Button2Click();
}

void TForm1::OnClose() {
    if (!controller_.MayClose()) return;
    FormClose();
    DestroyWindow(hwnd_);
}

void TForm1::CloseWindow() { SendMessageA(hwnd_, WM_CLOSE, 0, 0); }

void TForm1::FormCreate() { controller_.Open(); }

void TForm1::FormClose() { controller_.Close(); }

void TForm1::Button5Click() { controller_.Start(); }
void TForm1::Button6Click() { controller_.Erase(); }
void TForm1::Button7Click() { controller_.Write(); }
void TForm1::Button8Click() { controller_.Read(); }
void TForm1::Button1Click() { CloseWindow(); }
void TForm1::Button2Click() { controller_.Abort(); }

bool TForm1::IsChecked(orbvex::app::Choice button) const {
    const HWND radio = button == orbvex::app::Choice::F1   ? F1
                       : button == orbvex::app::Choice::F2 ? F2
                       : button == orbvex::app::Choice::L1 ? L1
                                                           : L2;
    return SendMessageA(radio, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::optional<std::string> TForm1::RunFileDialog(bool save, const orbvex::app::FileDialogSetup& setup,
                                                 const std::string& folder) {
    // The filter's '|' separators become the NULs the dialog wants, with one more to end it.
    std::string filter = setup.filter;
    std::replace(filter.begin(), filter.end(), '|', '\0');
    filter.push_back('\0');
    char file[4 * MAX_PATH] = "";

    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = hwnd_;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = sizeof file;
    dialog.lpstrInitialDir = folder.c_str();
    dialog.lpstrDefExt = setup.defaultExt;
    // An existing file is replaced without asking; the process keeps its own folder.
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR |
                   (save ? 0 : OFN_FILEMUSTEXIST);

    const bool ok = hooks_.runFileDialog ? hooks_.runFileDialog(dialog, save)
                                         : (save ? GetSaveFileNameA(&dialog) : GetOpenFileNameA(&dialog)) != FALSE;
    if (!ok || file[0] == '\0') return std::nullopt;
    return std::string(file);
}

void TForm1::SetOperationButtonsEnabled(bool enabled) {
    if (!enabled) focusBeforeRun_ = GetFocus();
    for (HWND button : {Button5, Button6, Button7, Button8, Button1}) EnableWindow(button, enabled);
    if (enabled && focusBeforeRun_ && IsWindowEnabled(focusBeforeRun_) && GetActiveWindow() == hwnd_)
        SetFocus(focusBeforeRun_);
}

void TForm1::LogLine(const std::string& line) {
    // Appended at the end, each line after a line break, the end kept in view.
    const int end = GetWindowTextLengthA(Memo1);
    SendMessageA(Memo1, EM_SETSEL, end, end);
    const std::string text = end > 0 ? "\r\n" + line : line;
    SendMessageA(Memo1, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageA(Memo1, EM_SCROLLCARET, 0, 0);
}

void TForm1::ClearLog() { SetWindowTextA(Memo1, ""); }

void TForm1::SetAddressLabel(const std::string& text) { SetWindowTextA(Label1, text.c_str()); }

void TForm1::SetProgressPosition(int position) {
    const int maximum = static_cast<int>(SendMessageA(ProgressBar1, PBM_GETRANGE, FALSE, 0));
    SendMessageA(ProgressBar1, PBM_SETPOS, std::clamp(position, 0, maximum), 0);
}

void TForm1::SetProgressMaximum(int maximum) {
    // A position past the new end stays at the end rather than emptying the bar.
    const int position = static_cast<int>(SendMessageA(ProgressBar1, PBM_GETPOS, 0, 0));
    SendMessageA(ProgressBar1, PBM_SETRANGE32, 0, maximum);
    SetProgressPosition(position);
}

void TForm1::ProcessMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        // The end of the program is left for the main loop to see.
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (PreTranslateMessage(message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void TForm1::ShowErrorBox(const std::string& text) {
    if (hooks_.showErrorBox) {
        hooks_.showErrorBox(text);
        return;
    }
    MessageBoxA(IsWindowVisible(hwnd_) ? hwnd_ : nullptr, text.c_str(), orbvex::app::kWindow.errorBoxCaption,
                MB_OK | MB_ICONERROR);
}

void TForm1::Beep(unsigned type) {
    if (hooks_.beep) {
        hooks_.beep(type);
        return;
    }
    MessageBeep(type);
}

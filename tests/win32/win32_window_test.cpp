// SPDX-License-Identifier: GPL-2.0-or-later
// The Win32 window as the operator meets it: every control of the window's description
// where it belongs and saying what it should, then START, Write and Read on the virtual
// receiver with the file dialogs answered here, and Exit; a port that cannot be opened,
// one reached through InpOut32, and the port driver built here. What the buttons do
// during a run is the shared controller's, tested through the Qt window.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>

#include "app/form_layout.h"
#include "app/window_cable.h"
#include "app/win32/Unit1.h"
#include "app/win32/window_program.h"
#include "link/link_log.h"
#include "port/port_access.h"
#include "port/program_dir.h"
#include "port/windows/inpout32.h"
#include "sim/virtual_receiver.h"

namespace {

using orbvex::app::ControlKind;
using orbvex::app::ControlSpec;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

std::string Text(HWND window) {
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
    text.resize(static_cast<std::size_t>(GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

const char* ClassOf(ControlKind kind) {
    switch (kind) {
    case ControlKind::GroupBox:
    case ControlKind::RadioButton:
    case ControlKind::PushButton: return "Button";
    case ControlKind::Memo: return "Edit";
    case ControlKind::ProgressBar: return "msctls_progress32";
    default: return "Static";
    }
}

// Everything the test looks at of one control, on one line, so that a mismatch names it.
std::string Describe(const char* name, const std::string& cls, const std::string& parent, RECT at,
                     const std::string& caption, const LOGFONTA& font, bool fixedPitch, bool checked) {
    return std::string(name) + " " + cls + " in " + parent + " at " + std::to_string(at.left) + "," +
           std::to_string(at.top) + " " + std::to_string(at.right) + "x" + std::to_string(at.bottom) + " \"" + caption +
           "\" " + font.lfFaceName + " " + std::to_string(-font.lfHeight) + "px" + (font.lfWeight >= FW_BOLD ? " bold" : "") +
           (font.lfPitchAndFamily == (FIXED_PITCH | FF_MODERN) ? " asks-fixed" : "") + (fixedPitch ? " fixed" : "") +
           (checked ? " checked" : "");
}

// Whether the face the system chose for the control's font is fixed-pitch (a set
// TMPF_FIXED_PITCH, despite its name, means variable pitch).
bool DrawsFixedPitch(HWND window) {
    TEXTMETRICA metrics{};
    HDC dc = GetDC(window);
    SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0)));
    GetTextMetricsA(dc, &metrics);
    return ReleaseDC(window, dc) && !(metrics.tmPitchAndFamily & TMPF_FIXED_PITCH);
}

LOGFONTA FontOf(HWND window) {
    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0)), sizeof font, &font);
    return font;
}

LOGFONTA Logical(const orbvex::app::FontSpec& spec) {
    LOGFONTA font{};
    lstrcpynA(font.lfFaceName, spec.face, LF_FACESIZE);
    font.lfHeight = -spec.pixels;
    font.lfWeight = spec.bold ? FW_BOLD : FW_NORMAL;
    if (orbvex::app::IsFixedPitch(spec)) font.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    return font;
}

std::vector<std::string> StartLog() {
    const auto trapSize = static_cast<std::uint32_t>(
        std::filesystem::file_size(orbvex::ProgramDirectory() + "trap.bin"));
    return {"Init JTAG", "IDCODE : 10006A5B", "CPU : STi5512", "Stop CPU", "Clear Trap : Please Wait...",
            "Load Trap -> Ram : Please Wait...", "Load Trap : LEN Ok", "Init Trap : Please Wait...",
            "Trap_Wptr " + orbvex::Hex8(0x80000140u + (trapSize & ~3u) + 8), "Trap_Iptr 80000140",
            "Start Trap  : Please Wait...", "Load EMI : Please Wait...", "Init OK :)", "---------------------"};
}

// A string literal with the NULs inside it and the one that ends it.
template <std::size_t N>
std::string Bytes(const char (&text)[N]) {
    return std::string(text, N);
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path.string(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct DialogSeen {
    bool save;
    std::string filter, folder, defaultExt;
    DWORD flags;
};

class Win32WindowTest : public testing::Test {
protected:
    Win32WindowTest() { orbvex::win32::InitApplication(); }

    // The window on the virtual receiver, unless told otherwise.
    void Open(orbvex::PortBackend* backend) { Open(*access, backend); }
    void Open(orbvex::PortAccess& portAccess, orbvex::PortBackend* backend) {
        TForm1Hooks hooks;
        hooks.runFileDialog = [this](OPENFILENAMEA& dialog, bool save) {
            const char* end = dialog.lpstrFilter;
            while (*end || end[1]) ++end;
            dialogs.push_back({save, std::string(dialog.lpstrFilter, end + 2), dialog.lpstrInitialDir, dialog.lpstrDefExt,
                               dialog.Flags});
            if (answers.empty()) return false;
            lstrcpynA(dialog.lpstrFile, answers.front().c_str(), static_cast<int>(dialog.nMaxFile));
            answers.pop_front();
            return true;
        };
        hooks.showErrorBox = [this](const std::string& text) {
            boxes.push_back(text + (form && IsWindowVisible(form->Handle()) ? "" : " (before the window)"));
        };
        hooks.beep = [this](unsigned type) { beeps.push_back(type); };
        form = std::make_unique<TForm1>(portAccess, backend, orbvex::ProgramDirectory() + "trap.bin",
                                        application.Handle(), hooks);
        application.SetMainWindow(form->Handle());
        form->Show();
        form->ProcessMessages();
    }
    void Click(HWND button) {
        SendMessageA(button, BM_CLICK, 0, 0);
        if (IsWindow(button)) form->ProcessMessages();
    }
    void Key(WPARAM key) {
        PostMessageA(GetFocus(), WM_KEYDOWN, key, 0);
        form->ProcessMessages();
    }
    std::string NameOf(HWND control) const {
        for (const ControlSpec& spec : orbvex::app::kControls) {
            if (form->Control(spec.name) == control) return spec.name;
        }
        return control == form->Handle() ? "Form1" : "?";
    }
    std::vector<std::string> Log() const {
        std::vector<std::string> lines;
        const std::string text = Text(form->Memo1);
        for (std::size_t at = 0; !text.empty() && at <= text.size();) {
            const std::size_t end = std::min(text.find("\r\n", at), text.size());
            lines.push_back(text.substr(at, end - at));
            at = end + 2;
        }
        return lines;
    }

    orbvex::win32::ApplicationWindow application;
    std::unique_ptr<orbvex::PortAccess> access = orbvex::MakeUnrestrictedPortAccess();
    orbvex::sim::VirtualReceiver receiver;
    std::unique_ptr<TForm1> form;  // goes first: closing it releases the cable through access
    std::deque<std::string> answers;
    std::vector<DialogSeen> dialogs;
    std::vector<std::string> boxes;
    std::vector<unsigned> beeps;
};

TEST_F(Win32WindowTest, EveryControlOfTheDescriptionIsWhereItBelongsAndSaysWhatItShould) {
    Open(&receiver);
    const HWND window = form->Handle();

    // The caption alone in the title bar; the application's name on the task-bar button,
    // which belongs to the unseen window that owns this one.
    EXPECT_EQ(Text(window), "TARNO_UP 2.2");
    const HWND owner = GetWindow(window, GW_OWNER);
    EXPECT_EQ(Text(owner), "orbvex_up 2.1");
    EXPECT_TRUE(IsWindowVisible(owner) && !(GetWindowLongA(owner, GWL_EXSTYLE) & WS_EX_TOOLWINDOW));
    RECT client, frame;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right * 10000 + client.bottom, 563 * 10000 + 583);
    const LONG style = GetWindowLongA(window, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), WS_CAPTION | WS_SYSMENU);
    GetWindowRect(window, &frame);
    EXPECT_NEAR(frame.left + frame.right, GetSystemMetrics(SM_CXSCREEN), 1);
    EXPECT_NEAR(frame.top + frame.bottom, GetSystemMetrics(SM_CYSCREEN), 1);
    EXPECT_EQ(Describe("Form1", "", "", {}, "", FontOf(window), false, false),
              Describe("Form1", "", "", {}, "", Logical(orbvex::app::kWindow.font), false, false));

    for (const ControlSpec& want : orbvex::app::kControls) {
        if (want.flags & orbvex::app::kNotVisible) continue;
        const HWND control = form->Control(want.name);
        ASSERT_TRUE(control) << want.name;
        char cls[64] = "";
        GetClassNameA(control, cls, sizeof cls);
        RECT at;
        GetWindowRect(control, &at);
        MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT*>(&at), 2);
        at.right -= at.left;
        at.bottom -= at.top;
        // A word-wrapped label may grow downwards to show its text whole.
        if (want.kind == ControlKind::Label && at.bottom >= want.height) at.bottom = want.height;
        const bool checked = SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED && want.kind == ControlKind::RadioButton;
        const orbvex::app::FontSpec font = orbvex::app::EffectiveFont(want);
        EXPECT_EQ(Describe(want.name, cls, NameOf(GetParent(control)), at, Text(control), FontOf(control),
                           DrawsFixedPitch(control), checked),
                  Describe(want.name, ClassOf(want.kind), want.parent ? want.parent : "Form1",
                           {want.left, want.top, want.width, want.height}, want.caption, Logical(font), IsFixedPitch(font),
                           (want.flags & orbvex::app::kChecked) != 0));
    }

    // Stacked bottom to top as the description lists the window's own controls.
    std::vector<std::string> stacked, listed;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        stacked.insert(stacked.begin(), NameOf(child));
    for (const ControlSpec& spec : orbvex::app::kControls)
        if (!spec.parent && !(spec.flags & orbvex::app::kNotVisible)) listed.push_back(spec.name);
    EXPECT_EQ(stacked, listed);

    // Tab walks the tab stops in their order, and round; an arrow key moves within a
    // radio pair and checks, and the tab stop follows the check.
    std::vector<std::string> tabbed, stops;
    for (const ControlSpec* spec : orbvex::app::TabChain())
        if (spec->flags & orbvex::app::kTabStop) stops.push_back(spec->name);
    SetFocus(form->F1);
    do {
        tabbed.push_back(NameOf(GetFocus()));
        Key(VK_TAB);
    } while (GetFocus() != form->F1 && tabbed.size() < 20);
    EXPECT_EQ(tabbed, stops);
    Key(VK_RIGHT);
    Key(VK_TAB);
    EXPECT_EQ(NameOf(GetFocus()), "L1");
    EXPECT_TRUE(SendMessageA(form->F2, BM_GETCHECK, 0, 0) == BST_CHECKED &&
                SendMessageA(form->L1, BM_GETCHECK, 0, 0) == BST_CHECKED);
}

TEST_F(Win32WindowTest, StartWriteReadAndExitOnTheVirtualReceiver) {
    Open(&receiver);

    Click(form->Button5);
    EXPECT_THAT(Log(), ElementsAreArray(StartLog()));

    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "orbvex-win32-window-test";
    std::filesystem::create_directories(dir);
    std::mt19937 random(7);
    std::string image(0x100000, '\0');
    for (char& byte : image) byte = static_cast<char>(random());
    std::ofstream((dir / "image.rom").string(), std::ios::binary) << image;
    answers = {(dir / "image.rom").string(), (dir / "back.bin").string()};
    Click(form->Button7);
    Click(form->Button8);
    EXPECT_TRUE(ReadFile(dir / "back.bin") == image) << "the flash read back differs";
    EXPECT_EQ(Log().size(), StartLog().size() + 7 + 5) << Text(form->Memo1);
    EXPECT_EQ(beeps, std::vector<unsigned>(3, 0x40));

    // Each dialog opens in the program's folder with its filter and extension; the save
    // dialog replaces a file without asking.
    const std::string folder = orbvex::ProgramDirectory();
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(std::string(dialogs[0].filter.c_str()) + "|" + dialogs[0].folder + "|" + dialogs[0].defaultExt,
              "ROM files (*.rom)|" + folder + "|rom");
    EXPECT_EQ(dialogs[0].filter, Bytes("ROM files (*.rom)\0*.rom\0All files (*.*)\0*.*\0"));
    EXPECT_EQ(dialogs[1].filter, Bytes("BIN files (*.bin)\0*.bin\0All files (*.*)\0*.*\0"));
    EXPECT_EQ(dialogs[1].folder + "|" + dialogs[1].defaultExt, folder + "|bin");
    EXPECT_TRUE(dialogs[1].save && !dialogs[0].save && !(dialogs[1].flags & OFN_OVERWRITEPROMPT));

    const HWND window = form->Handle();
    Click(form->Button1);
    EXPECT_FALSE(IsWindow(window));
    std::filesystem::remove_all(dir);
}

TEST_F(Win32WindowTest, TheRealPortThroughInpOut32WhereTheDriverCannotOpenIt) {
    const std::string library = orbvex::ProgramDirectory() + "..\\standin\\inpout32.dll";  // a receiver behind LPT1
    access = orbvex::MakeNtPortAccess(orbvex::SystemNtApi(), IOPMDriver, [library] { return orbvex::LoadInpOut32({library}); });
    Open(nullptr);  // the driver beside the program loads, but opens no port under Wine (nor on 64-bit Windows)
    EXPECT_THAT(Log(), ElementsAre("The parallel port is reached through InpOut32 (" + library + ")"));
    Click(form->Button5);
    EXPECT_THAT(Log(), ElementsAreArray(StartLog()));
}

TEST_F(Win32WindowTest, APortThatCannotBeOpenedIsSaidBeforeTheWindowAndByEveryOperation) {
    // The real port: on the NT family through the port driver, which is not there.
    access = orbvex::MakeHardwarePortAccess();
    Open(nullptr);
    for (HWND button : {form->Button5, form->Button6, form->Button7, form->Button8}) Click(button);
    const std::string refused = "The parallel port could not be opened";
    EXPECT_THAT(boxes, ElementsAre(refused + " (before the window)", refused, refused, refused, refused));
    EXPECT_THAT(Log(), ElementsAre(testing::HasSubstr("install InpOut32")));  // why each way failed
    EXPECT_TRUE(beeps.empty() && dialogs.empty());
}

// The probe board on a COM port, named on the window's command line as a user names it.
// The Windows build's check runs this with the simulated board behind the port it names
// in ORBVEX_TEST_PROBE_PORT; elsewhere it is skipped.
TEST_F(Win32WindowTest, StartAndWriteThroughTheProbeBoardOnACOMPort) {
    const char* port = std::getenv("ORBVEX_TEST_PROBE_PORT");
    if (!port || !*port) GTEST_SKIP() << "needs the simulated probe board behind a COM port";
    const char* argv[] = {"orbvex_up", "--probe", port};
    orbvex::app::WindowCable opened = orbvex::app::OpenWindowCable(orbvex::app::kPortProgram, 3, argv);
    ASSERT_TRUE(opened.cable) << opened.message;
    Open(opened.cable->Access(), opened.cable->Backend());
    Click(form->Button5);
    EXPECT_THAT(Log(), ElementsAreArray(StartLog()));

    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "orbvex-win32-probe-test";
    std::filesystem::create_directories(dir);
    std::ofstream((dir / "image.rom").string(), std::ios::binary) << std::string(4096, '\x5A');
    answers = {(dir / "image.rom").string()};
    Click(form->Button7);
    EXPECT_EQ(beeps, std::vector<unsigned>(2, 0x40)) << Text(form->Memo1);
    EXPECT_TRUE(boxes.empty()) << boxes.front();
    Click(form->Button1);
    form.reset();  // the window goes before the cable it drives
    EXPECT_EQ(orbvex::app::CloseWindowCable(opened, 0), 0) << opened.message;
    std::filesystem::remove_all(dir);
}

TEST(KqiopmDriverTest, ServesItsMapUnderTheServiceManagerUntilStopped) {
    TKQIOPM_Driver driver(orbvex::SystemNtApi(), orbvex::ProgramDirectory());
    driver.OpenSCM();
    driver.RemoveDriver();  // one left behind by an earlier run that died
    ASSERT_EQ(driver.InstallDriver("") | driver.StartDriver() | driver.OpenDevice(), 0) << driver.DriverPath;
    // Every port denied at the start, map bytes read back as written, an index past the
    // map and an unknown request refused (87), activation refused where the kernel
    // installs no port map: missing routines (50), refusing ones (31, Wine's). A stop
    // unloads the driver with its device; a second start brings a fresh map.
    std::uint8_t lpt1 = 0, above = 0, last = 0, value = 0;
    EXPECT_EQ(driver.SetPortRange(0x378, 0x37A, true) | driver.SetIOPMByte(8191, 0x12) |
                  driver.GetIOPMByte(0x6F, lpt1) | driver.GetIOPMByte(0x70, above) | driver.GetIOPMByte(8191, last),
              0);
    EXPECT_EQ(lpt1 << 16 | above << 8 | last, 0xF8FF12);
    EXPECT_EQ(driver.SendByteIoctl(8192, value, kIopmGetByte) * 1000 + driver.SendByteIoctl(0, value, 0x913), 87087);
    EXPECT_THAT(driver.ActivateIOPM(), testing::AnyOf(50, 31));
    EXPECT_EQ(driver.CloseDevice() | driver.StopDriver(), 0);
    EXPECT_NE(driver.OpenDevice(), 0);
    ASSERT_EQ(driver.StartDriver() | driver.OpenDevice() | driver.GetIOPMByte(0x6F, lpt1), 0);
    EXPECT_EQ(lpt1 | driver.CloseDevice() | driver.RemoveDriver() | driver.CloseSCM(), 0xFF);
}

}  // namespace

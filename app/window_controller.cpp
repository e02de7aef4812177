// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/window_controller.h"

#include "port/program_dir.h"
#include "util/image_file.h"

namespace orbvex::app {
namespace {

// The folder part of a path, with its trailing separator; empty for a bare name.
std::string FolderOf(const std::string& path) {
#if defined(_WIN32)
    const std::size_t end = path.find_last_of("\\/");
#else
    const std::size_t end = path.find_last_of('/');
#endif
    return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

}  // namespace

WindowController::WindowController(WindowServices& services, WindowControls& controls, PortAccess& access,
                                   PortBackend* backend, std::string trapFile, WindowOperations operations)
    : services_(services),
      controls_(controls),
      access_(access),
      backend_(backend),
      trapFile_(std::move(trapFile)),
      operations_(std::move(operations)) {
    if (!operations_.start) operations_.start = RunStart;
    if (!operations_.erase) operations_.erase = RunErase;
    if (!operations_.write) operations_.write = RunWrite;
    if (!operations_.read) operations_.read = RunRead;
}

void WindowController::Open() { link_.Open(services_, access_, backend_); }

void WindowController::Close() { link_.Close(); }

bool WindowController::MayClose() {
    if (!running_) return true;
    closePending_ = true;
    return false;
}

// Each handler reads its choices at the moment the operation needs them: the port at
// the click, the file and then the flash size when the operation asks for its file.
void WindowController::Start() {
    Run([this] { operations_.start(link_.Link(), services_, {ChosenPort(), trapFile_}); });
}
void WindowController::Erase() {
    Run([this] { operations_.erase(link_.Link(), services_, {ChosenPort(), ChosenFlash()}); });
}
void WindowController::Write() {
    Run([this] { operations_.write(link_.Link(), services_, {ChosenPort(), FileChooserFor(false)}); });
}
void WindowController::Read() {
    Run([this] { operations_.read(link_.Link(), services_, {ChosenPort(), FileChooserFor(true)}); });
}

void WindowController::Abort() { RunAbort(services_); }

void WindowController::Run(const std::function<void()>& operation) {
    // Operations let window messages through while they run; a second one started
    // from there would interleave with the first on the one JTAG link.
    if (running_) return;
    running_ = true;
    controls_.SetOperationButtonsEnabled(false);

    operation();

    controls_.SetOperationButtonsEnabled(true);
    running_ = false;
    if (closePending_) {
        closePending_ = false;
        controls_.CloseWindow();
    }
}

std::uint16_t WindowController::ChosenPort() const {
    return PortFromButtons(controls_.IsChecked(Choice::L1), controls_.IsChecked(Choice::L2), link_.Link().PortBase());
}

FlashRange WindowController::ChosenFlash() const {
    return FlashFromButtons(controls_.IsChecked(Choice::F1), controls_.IsChecked(Choice::F2));
}

FileChooser WindowController::FileChooserFor(bool save) {
    return [this, save]() -> std::optional<ChosenFile> {
        std::optional<std::string> path = ChooseFile(save);
        if (!path) return std::nullopt;
        return ChosenFile{*path, ChosenFlash()};
    };
}

std::optional<std::string> WindowController::ChooseFile(bool save) {
    std::optional<std::string> path = controls_.RunFileDialog(save, save ? kBinDialog : kRomDialog, DialogFolder());
    if (path && !FolderOf(*path).empty()) lastFolder_ = FolderOf(*path);
    return path;
}

std::string WindowController::DialogFolder() const {
    const std::string program = ProgramDirectory();
    if (CanCreateFilesIn(program)) return program;
    if (!lastFolder_.empty()) return lastFolder_;
    const std::string home = HomeDirectory();
    return home.empty() ? program : home;
}

}  // namespace orbvex::app

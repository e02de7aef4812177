#include "window_test_support.h"

#include <QPlainTextEdit>

#include <algorithm>

#include "link/jtag.h"

namespace apptest {

std::vector<Journal::Entry> Journal::Of(Entry::Kind kind) const {
    std::vector<Entry> result;
    for (const Entry& entry : entries)
        if (entry.kind == kind) result.push_back(entry);
    return result;
}

int Journal::IndexOf(Entry::Kind kind) const {
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i].kind == kind) return static_cast<int>(i);
    return -1;
}

bool FakePortAccess::Grants(std::uint16_t lptBase) const {
    return grant_ && std::find(refusedBases.begin(), refusedBases.end(), lptBase) == refusedBases.end();
}

bool FakePortAccess::Open(std::uint16_t lptBase) {
    journal_.entries.push_back({Journal::Entry::Kind::Open, lptBase, 0});
    return Grants(lptBase);
}

bool FakePortAccess::Ensure(std::uint16_t lptBase) {
    journal_.entries.push_back({Journal::Entry::Kind::Ensure, lptBase, 0});
    return Grants(lptBase);
}

void FakePortAccess::Close(std::uint16_t lptBase) {
    journal_.entries.push_back({Journal::Entry::Kind::Close, lptBase, 0});
}

std::uint8_t RecordingBackend::Read(std::uint16_t port) {
    journal_.entries.push_back({Journal::Entry::Kind::Read, port, status});
    return status;
}

void RecordingBackend::Write(std::uint16_t port, std::uint8_t value) {
    journal_.entries.push_back({Journal::Entry::Kind::Write, port, value});
}

TForm1Hooks Operator::Hooks() {
    TForm1Hooks hooks;
    hooks.showErrorBox = [this](const QString& text) {
        errorBoxes << text;
        windowVisibleAtErrorBox.push_back(Form1 != nullptr && Form1->isVisible());
    };
    hooks.beep = [this](unsigned type) { beeps.push_back(type); };
    hooks.runFileDialog = [this](QFileDialog& dialog) -> std::optional<QString> {
        dialogs.push_back({dialog.acceptMode(), dialog.nameFilters(), dialog.directory().absolutePath(),
                           dialog.defaultSuffix()});
        if (duringDialog) duringDialog();
        if (dialogAnswers.empty()) return std::nullopt;
        const QString answer = dialogAnswers.front();
        dialogAnswers.pop_front();
        if (answer.isEmpty()) return std::nullopt;
        return answer;
    };
    return hooks;
}

QStringList LogLines(const TForm1& window) {
    const QString text = window.Memo1->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

namespace {
std::uint32_t g_fakeMs = 0;
std::uint32_t FastTicks() { return g_fakeMs += 50; }
}  // namespace

void InstallFastClock() { SetTickSource(FastTicks); }

}  // namespace apptest

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What the window tests share: a window over a recording port, with the operator's
// part (message boxes, beeps, file dialogs) played by the test.
#include <QtTest>
#include <QtWidgets>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/Unit1.h"
#include "app/window_program.h"
#include "link/jtag.h"
#include "port/kqportio.h"
#include "port/port_access.h"
#include "port/port_backend.h"
#include "port/program_dir.h"

namespace apptest {

// One record, in order, of what happened at the port and to port access.
struct Journal {
    enum class Kind { Read,
                      Write,
                      Open,
                      Ensure,
                      Close };
    struct Entry {
        Kind kind;
        std::uint16_t port;
        std::uint8_t value;
    };
    std::vector<Entry> entries;

    std::vector<Entry> Of(Kind kind) const {
        std::vector<Entry> result;
        std::copy_if(entries.begin(), entries.end(), std::back_inserter(result),
                     [kind](const Entry& entry) { return entry.kind == kind; });
        return result;
    }
};

// Grants or refuses port access as told (refusedBases even when the rest is granted).
class FakePortAccess final : public orbvex::PortAccess {
public:
    FakePortAccess(Journal& journal, bool grant) : journal_(journal), grant_(grant) {}
    std::vector<std::uint16_t> refusedBases;
    bool Open(std::uint16_t base) override { return Note(Journal::Kind::Open, base), Grants(base); }
    bool Ensure(std::uint16_t base) override { return Note(Journal::Kind::Ensure, base), Grants(base); }
    void Close(std::uint16_t base) override { Note(Journal::Kind::Close, base); }

private:
    void Note(Journal::Kind kind, std::uint16_t base) { journal_.entries.push_back({kind, base, 0}); }
    bool Grants(std::uint16_t base) const {
        return grant_ && std::find(refusedBases.begin(), refusedBases.end(), base) == refusedBases.end();
    }
    Journal& journal_;
    bool grant_;
};

// A cable with nothing on it: reads give 0, every access is journalled.
class RecordingBackend final : public orbvex::PortBackend {
public:
    explicit RecordingBackend(Journal& journal) : journal_(journal) {}
    std::uint8_t Read(std::uint16_t port) override {
        journal_.entries.push_back({Journal::Kind::Read, port, 0});
        return 0;
    }
    void Write(std::uint16_t port, std::uint8_t value) override {
        journal_.entries.push_back({Journal::Kind::Write, port, value});
    }

private:
    Journal& journal_;
};

// How a file dialog had been set up when the window ran it.
struct DialogSeen {
    QFileDialog::AcceptMode mode;
    QStringList nameFilters;
    QString directory;
    QString defaultSuffix;
};

// Stands in for the operator at the modal boxes: records each error box and beep, and
// answers each file dialog with the next queued path (none queued, or empty: cancel).
struct Operator {
    QStringList errorBoxes;
    std::vector<bool> windowVisibleAtErrorBox;
    std::vector<unsigned> beeps;
    std::deque<QString> dialogAnswers;
    std::vector<DialogSeen> dialogs;

    TForm1Hooks Hooks() {
        TForm1Hooks hooks;
        hooks.showErrorBox = [this](const QString& text) {
            errorBoxes << text;
            windowVisibleAtErrorBox.push_back(Form1 != nullptr && Form1->isVisible());
        };
        hooks.beep = [this](unsigned type) { beeps.push_back(type); };
        hooks.runFileDialog = [this](QFileDialog& dialog) -> std::optional<QString> {
            dialogs.push_back({dialog.acceptMode(), dialog.nameFilters(), dialog.directory().absolutePath(),
                               dialog.defaultSuffix()});
            const QString answer = dialogAnswers.empty() ? QString() : dialogAnswers.front();
            if (!dialogAnswers.empty()) dialogAnswers.pop_front();
            if (answer.isEmpty()) return std::nullopt;
            return answer;
        };
        return hooks;
    }
};

// The window over a port backend (the recording cable unless one is given). Operation
// hooks left empty run the real operations.
struct Bench {
    explicit Bench(bool grant = true, TForm1Hooks ops = {}, orbvex::PortBackend* backend = nullptr)
        : access(journal, grant), cable(journal) {
        TForm1Hooks hooks = who.Hooks();
        hooks.start = std::move(ops.start);
        hooks.erase = std::move(ops.erase);
        hooks.write = std::move(ops.write);
        hooks.read = std::move(ops.read);
        window = std::make_unique<TForm1>(access, backend ? backend : &cable, ORBVEX_VIRTUAL_TRAP_IMAGE, hooks);
    }
    bool Show() {
        window->show();
        return QTest::qWaitForWindowExposed(window.get());
    }
    // The log pane's lines; an empty pane has none.
    QStringList Log() const {
        const QString text = window->Memo1->toPlainText();
        return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    }
    // Clicks the button; the lines that click added to the log.
    QStringList Press(QPushButton* button) {
        const auto before = Log().size();
        QTest::mouseClick(button, Qt::LeftButton);
        return Log().mid(before);
    }

    Journal journal;
    Operator who;
    FakePortAccess access;
    RecordingBackend cable;
    std::unique_ptr<TForm1> window;
};

// Once per test program: the application's names and faces, and milliseconds that run
// 50 times faster than real time so that JtagInit's waits cost next to nothing.
inline void InitWindowTests() {
    orbvex::app::InitApplication();
    SetTickSource([] {
        static std::uint32_t fakeMs = 0;
        return fakeMs += 50;
    });
}

}  // namespace apptest

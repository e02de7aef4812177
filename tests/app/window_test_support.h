#pragma once
#include <QFileDialog>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "port/port_access.h"
#include "port/port_backend.h"

namespace apptest {

// One shared record of what happened at the port and to port access, in order.
struct Journal {
    struct Entry {
        enum class Kind { Read, Write, Open, Ensure, Close } kind;
        std::uint16_t port;
        std::uint8_t value;
    };
    std::vector<Entry> entries;

    std::vector<Entry> Of(Entry::Kind kind) const;
    // Index of the first entry of that kind, or -1.
    int IndexOf(Entry::Kind kind) const;
};

// Grants or refuses port access as told, and writes every call into the journal.
class FakePortAccess final : public orbvex::PortAccess {
public:
    FakePortAccess(Journal& journal, bool grant) : journal_(journal), grant_(grant) {}
    // Bases refused even when the rest is granted.
    std::vector<std::uint16_t> refusedBases;
    bool Open(std::uint16_t lptBase) override;
    bool Ensure(std::uint16_t lptBase) override;
    void Close(std::uint16_t lptBase) override;

private:
    bool Grants(std::uint16_t lptBase) const;
    Journal& journal_;
    bool grant_;
};

// A cable with nothing on it: reads give the status value, writes are journalled.
class RecordingBackend final : public orbvex::PortBackend {
public:
    explicit RecordingBackend(Journal& journal) : journal_(journal) {}
    std::uint8_t Read(std::uint16_t port) override;
    void Write(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t status = 0x00;

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
// answers each file dialog with the next queued path (nothing queued, or an empty
// path: cancel).
struct Operator {
    QStringList errorBoxes;
    std::vector<bool> windowVisibleAtErrorBox;
    std::vector<unsigned> beeps;
    std::deque<QString> dialogAnswers;
    std::vector<DialogSeen> dialogs;
    // Runs while a file dialog is up, as if the operator did something meanwhile.
    std::function<void()> duringDialog;

    TForm1Hooks Hooks();
};

// The log pane's lines; an empty pane has none.
QStringList LogLines(const TForm1& window);

// Milliseconds that run 50 times faster than real time, so that JtagInit's
// three 100 ms waits cost next to nothing.
void InstallFastClock();

}  // namespace apptest

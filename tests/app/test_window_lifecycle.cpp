// The window's life: what creation sets up, what closing releases, how a running
// operation keeps others (and the close) from cutting in, and the services the
// operations get from it.
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QtTest>

#include <memory>

#include "app/Unit1.h"
#include "app/window_program.h"
#include "link/dcu.h"
#include "link/jtag.h"
#include "link/link_log.h"
#include "ops/operations.h"
#include "port/kqportio.h"
#include "window_test_support.h"

using apptest::Journal;
using Kind = apptest::Journal::Entry::Kind;

namespace {

constexpr std::uint8_t kResetLine = 0x08;

// One window over a recording cable, with the operator stood in.
struct Fixture {
    explicit Fixture(bool grant, TForm1Hooks extra = {}) : access(journal, grant), backend(journal) {
        orbvex::SetPortBackend(&backend);
        TForm1Hooks hooks = who.Hooks();
        if (extra.start) hooks.start = extra.start;
        if (extra.erase) hooks.erase = extra.erase;
        if (extra.write) hooks.write = extra.write;
        if (extra.read) hooks.read = extra.read;
        window = std::make_unique<TForm1>(access, hooks);
    }
    ~Fixture() {
        window.reset();
        orbvex::SetPortBackend(nullptr);
    }
    void Show() {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    Journal journal;
    apptest::Operator who;
    apptest::FakePortAccess access;
    apptest::RecordingBackend backend;
    std::unique_ptr<TForm1> window;
};

}  // namespace

class WindowLifecycleTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        orbvex::app::InitApplication();
        apptest::InstallFastClock();
    }

    void creationSetsTheLinkUpAndOpensLpt1() {
        LptBase = 0x278;
        ClockDelay = -5;
        StartWaitLimit = 7;
        PortAvailable = false;
        Fixture f(true);
        QCOMPARE(LptBase, std::uint16_t(0x378));
        QCOMPARE(ClockDelay, 1);
        QCOMPARE(StartWaitLimit, 2024);
        QVERIFY(PortAvailable);
        QCOMPARE(f.journal.Of(Kind::Open).size(), std::size_t(1));
        QCOMPARE(f.journal.Of(Kind::Open)[0].port, std::uint16_t(0x378));
        QVERIFY(f.who.errorBoxes.isEmpty());
        QCOMPARE(orbvex::ActivePortAccess(), static_cast<orbvex::PortAccess*>(&f.access));
        QCOMPARE(orbvex::LinkLogSink(), static_cast<orbvex::LogSink*>(f.window.get()));
        // Creating the window does not drive the cable.
        QVERIFY(f.journal.Of(Kind::Write).empty());
    }

    void theWindowLetsGoOfTheLinkWhenDestroyed() {
        {
            Fixture f(true);
        }
        QCOMPARE(orbvex::LinkLogSink(), nullptr);
        QCOMPARE(orbvex::ActivePortAccess(), nullptr);
        QCOMPARE(Form1, nullptr);
    }

    void refusedPortIsReportedBeforeTheWindowShows() {
        Fixture f(false);
        QVERIFY(!PortAvailable);
        QCOMPARE(f.who.errorBoxes, QStringList({"The parallel port could not be opened"}));
        QCOMPARE(f.who.windowVisibleAtErrorBox, std::vector<bool>({false}));
        // The window opens anyway.
        f.Show();
        QVERIFY(f.window->isVisible());
    }

    void closingWithoutPortAccessNeverDrivesTheCable() {
        Fixture f(false);
        f.Show();
        QTest::mouseClick(f.window->Button1, Qt::LeftButton);
        QVERIFY(!f.window->isVisible());
        QVERIFY(f.journal.Of(Kind::Write).empty());
        // Access is still handed back: it may have been partly granted.
        QCOMPARE(f.journal.Of(Kind::Close).size(), std::size_t(1));
    }

    void closing_data() {
        QTest::addColumn<bool>("viaExitButton");
        QTest::newRow("Exit button") << true;
        QTest::newRow("close box") << false;
    }

    void closing() {
        QFETCH(bool, viaExitButton);
        Fixture f(true);
        f.Show();
        if (viaExitButton) QTest::mouseClick(f.window->Button1, Qt::LeftButton);
        else f.window->close();
        QVERIFY(!f.window->isVisible());

        // The cable is released (reset line low) while the port is still ours, then
        // access is withdrawn, once, and nothing touches the port after that.
        const auto writes = f.journal.Of(Kind::Write);
        QVERIFY(!writes.empty());
        for (const auto& write : writes) QCOMPARE(write.port, std::uint16_t(0x378));
        QCOMPARE(writes.back().value & kResetLine, 0);
        QVERIFY(!ResetLineLevel);
        const int close = f.journal.IndexOf(Kind::Close);
        QCOMPARE(close, static_cast<int>(f.journal.entries.size()) - 1);
        QCOMPARE(f.journal.entries[close].port, std::uint16_t(0x378));

        // A second close does not release or withdraw again.
        const std::size_t before = f.journal.entries.size();
        f.window->close();
        f.window->FormClose();
        QCOMPARE(f.journal.entries.size(), before);
    }

    void noSecondOperationStartsInsideARunningOne() {
        int starts = 0, erases = 0, writes = 0, reads = 0;
        Fixture* fixture = nullptr;
        TForm1Hooks ops;
        bool lockedInside = false;
        ops.start = [&](orbvex::WindowServices& services) {
            ++starts;
            TForm1& w = *fixture->window;
            // Every button but Abort is locked while it runs.
            lockedInside = w.OperationRunning() && w.Button2->isEnabled();
            for (QPushButton* button : {w.Button5, w.Button6, w.Button7, w.Button8, w.Button1})
                lockedInside = lockedInside && !button->isEnabled();
            // Clicks and calls that arrive while the operation lets messages through.
            QTimer::singleShot(0, &w, [&w] {
                QTest::mouseClick(w.Button6, Qt::LeftButton);
                QTest::mouseClick(w.Button5, Qt::LeftButton);
            });
            services.ProcessMessages();
            w.Button7Click();
            w.Button8Click();
            w.Button5Click();
            return true;
        };
        ops.erase = [&](orbvex::WindowServices&) { return ++erases, true; };
        ops.write = [&](orbvex::WindowServices&) { return ++writes, true; };
        ops.read = [&](orbvex::WindowServices&) { return ++reads, true; };
        Fixture f(true, ops);
        fixture = &f;
        f.Show();
        QTest::mouseClick(f.window->Button5, Qt::LeftButton);
        QVERIFY(lockedInside);
        QCOMPARE(starts, 1);
        QCOMPARE(erases + writes + reads, 0);
        // Once it is over the buttons work again.
        QVERIFY(!f.window->OperationRunning());
        for (QPushButton* button : {f.window->Button5, f.window->Button6, f.window->Button7, f.window->Button8,
                                    f.window->Button1, f.window->Button2})
            QVERIFY(button->isEnabled());
        QTest::mouseClick(f.window->Button6, Qt::LeftButton);
        QCOMPARE(erases, 1);
    }

    void aCloseDuringAnOperationWaitsForItsEnd() {
        Fixture* fixture = nullptr;
        bool stillOpenInside = false;
        bool accessHeldInside = false;
        TForm1Hooks ops;
        ops.write = [&](orbvex::WindowServices& services) {
            TForm1& w = *fixture->window;
            QTest::mouseClick(w.Button1, Qt::LeftButton);  // disabled: nothing
            w.close();                                      // the close box
            services.ProcessMessages();
            stillOpenInside = w.isVisible() && w.ClosePending();
            accessHeldInside = fixture->journal.IndexOf(Kind::Close) < 0 && fixture->journal.Of(Kind::Write).empty();
            return true;
        };
        Fixture f(true, ops);
        fixture = &f;
        f.Show();
        QTest::mouseClick(f.window->Button7, Qt::LeftButton);
        QVERIFY(stillOpenInside);
        QVERIFY(accessHeldInside);
        // Then the close goes through, releasing the cable first.
        QVERIFY(!f.window->isVisible());
        QVERIFY(!f.window->ClosePending());
        const auto writes = f.journal.Of(Kind::Write);
        QVERIFY(!writes.empty());
        QCOMPARE(writes.back().value & kResetLine, 0);
        QCOMPARE(f.journal.IndexOf(Kind::Close), static_cast<int>(f.journal.entries.size()) - 1);
    }

    void abortIsHeardDuringAnOperation() {
        Fixture* fixture = nullptr;
        bool abortSeen = false;
        TForm1Hooks ops;
        ops.write = [&](orbvex::WindowServices& services) {
            AbortRequested = false;
            QTimer::singleShot(0, fixture->window.get(),
                               [fixture] { QTest::mouseClick(fixture->window->Button2, Qt::LeftButton); });
            services.ProcessMessages();
            abortSeen = AbortRequested;
            return true;
        };
        Fixture f(true, ops);
        fixture = &f;
        f.Show();
        QTest::mouseClick(f.window->Button7, Qt::LeftButton);
        QVERIFY(abortSeen);
    }

    void abortWithNothingRunningOnlyRaisesTheFlag() {
        Fixture f(true);
        f.Show();
        AbortRequested = false;
        QTest::mouseClick(f.window->Button2, Qt::LeftButton);
        QVERIFY(AbortRequested);
        QVERIFY(apptest::LogLines(*f.window).isEmpty());
        QVERIFY(f.journal.Of(Kind::Write).empty());
        QVERIFY(f.window->isVisible());
        AbortRequested = false;
    }

    void logServices() {
        Fixture f(true);
        f.window->LogLine("Init JTAG");
        orbvex::LinkLog("IDCODE : 10006A5B");  // the link writes through the same pane
        QCOMPARE(apptest::LogLines(*f.window), QStringList({"Init JTAG", "IDCODE : 10006A5B"}));
        f.window->ClearLog();
        QVERIFY(apptest::LogLines(*f.window).isEmpty());
        f.window->LogLine("File : /tmp/a b.rom");
        QCOMPARE(apptest::LogLines(*f.window), QStringList({"File : /tmp/a b.rom"}));
    }

    void logFollowsItsNewestLine() {
        Fixture f(true);
        f.Show();
        for (int i = 0; i < 200; ++i) f.window->LogLine("line " + std::to_string(i));
        QScrollBar* bar = f.window->Memo1->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());
    }

    void addressAndProgress() {
        Fixture f(true);
        f.window->SetAddressLabel("7FFFF000");
        QCOMPARE(f.window->Label1->text(), QStringLiteral("7FFFF000"));
        f.window->SetProgressPosition(0);
        f.window->SetProgressMaximum(10485);
        f.window->SetProgressPosition(10444);
        QCOMPARE(f.window->ProgressBar1->maximum(), 10485);
        QCOMPARE(f.window->ProgressBar1->value(), 10444);
        // Out of range goes to the nearest end instead of being dropped.
        f.window->SetProgressPosition(20000);
        QCOMPARE(f.window->ProgressBar1->value(), 10485);
        f.window->SetProgressMaximum(100);
        QCOMPARE(f.window->ProgressBar1->value(), 100);
        f.window->SetProgressPosition(-3);
        QCOMPARE(f.window->ProgressBar1->value(), 0);
    }

    void openDialogIsSetUpAndAnswered() {
        Fixture f(true);
        const QString dir = QDir::tempPath();
        f.who.dialogAnswers.push_back(dir + QStringLiteral("/image.rom"));
        orbvex::FileDialogSetup setup{"ROM files (*.rom)|*.rom|All files (*.*)|*.*", dir.toStdString() + "/", "rom"};
        std::string chosen;
        QVERIFY(f.window->RunOpenDialog(setup, chosen));
        QCOMPARE(QString::fromStdString(chosen), QDir::toNativeSeparators(dir + QStringLiteral("/image.rom")));
        QCOMPARE(f.who.dialogs.size(), std::size_t(1));
        const apptest::DialogSeen& seen = f.who.dialogs[0];
        QCOMPARE(seen.mode, QFileDialog::AcceptOpen);
        QCOMPARE(seen.nameFilters.value(0), QStringLiteral("ROM files (*.rom)"));
        QCOMPARE(seen.nameFilters.size(), 2);
        QCOMPARE(seen.directory, QDir(dir).absolutePath());
        QCOMPARE(seen.defaultSuffix, QStringLiteral("rom"));
        QCOMPARE(f.window->OpenDialog1->fileMode(), QFileDialog::ExistingFile);

        // Nothing queued: the operator cancels.
        chosen = "untouched";
        QVERIFY(!f.window->RunOpenDialog(setup, chosen));
        QCOMPARE(chosen, std::string("untouched"));
    }

    void saveDialogAddsTheDefaultExtension_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no extension") << "/tmp/backup" << "/tmp/backup.bin";
        QTest::newRow("own extension") << "/tmp/backup.img" << "/tmp/backup.img";
        QTest::newRow("default extension") << "/tmp/backup.bin" << "/tmp/backup.bin";
    }

    void saveDialogAddsTheDefaultExtension() {
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        Fixture f(true);
        f.who.dialogAnswers.push_back(typed);
        orbvex::FileDialogSetup setup{"BIN files (*.bin)|*.bin|All files (*.*)|*.*", "/tmp/", "bin"};
        std::string chosen;
        QVERIFY(f.window->RunSaveDialog(setup, chosen));
        QCOMPARE(QString::fromStdString(chosen), QDir::toNativeSeparators(expected));
        QCOMPARE(f.who.dialogs.back().mode, QFileDialog::AcceptSave);
        // Read replaces a chosen file without asking, as it always did.
        QVERIFY(f.window->SaveDialog1->testOption(QFileDialog::DontConfirmOverwrite));
    }
};

QTEST_MAIN(WindowLifecycleTest)
#include "test_window_lifecycle.moc"

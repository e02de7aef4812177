// SPDX-License-Identifier: GPL-2.0-or-later
// The window's life: what creation sets up, what closing releases, how a running
// operation keeps others (and the close) from cutting in, and the services the
// operations get from it.
#include "link/dcu.h"
#include "link/link_log.h"
#include "ops/operations.h"
#include "window_test_support.h"

using apptest::Bench;
using Kind = apptest::Journal::Kind;

namespace {

constexpr std::uint8_t kResetLine = 0x08;
const QString kPortRefused = QStringLiteral("The parallel port could not be opened");

}  // namespace

class WindowLifecycleTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { apptest::InitWindowTests(); }

    void creationTakesTheLinkAndDestructionLetsItGo() {
        LptBase = 0x278;
        ClockDelay = -5;
        StartWaitLimit = 7;
        PortAvailable = false;
        {
            Bench f;
            QCOMPARE(LptBase, std::uint16_t(0x378));
            QCOMPARE(ClockDelay, 1);
            QCOMPARE(StartWaitLimit, 2024);
            QVERIFY(PortAvailable);
            QCOMPARE(f.journal.Of(Kind::Open).size(), std::size_t(1));
            QCOMPARE(f.journal.Of(Kind::Open)[0].port, std::uint16_t(0x378));
            QVERIFY(f.who.errorBoxes.isEmpty());
            QCOMPARE(orbvex::LinkLogSink(), static_cast<orbvex::LogSink*>(f.window.get()));
            // Creating the window does not drive the cable.
            QVERIFY(f.journal.Of(Kind::Write).empty());
        }
        QCOMPARE(orbvex::LinkLogSink(), nullptr);
        QVERIFY(!PortAvailable);
        QCOMPARE(orbvex::PortHook, nullptr);
        QCOMPARE(Form1, nullptr);
    }

    void refusedPortIsReportedBeforeTheWindowShows() {
        Bench f(false);
        QVERIFY(!PortAvailable);
        QCOMPARE(f.who.errorBoxes, QStringList({kPortRefused}));
        QCOMPARE(f.who.windowVisibleAtErrorBox, std::vector<bool>({false}));
        // The window opens anyway.
        QVERIFY(f.Show());
    }

    void refusedPortStopsEveryOperationAtTheBox() {
        Bench f(false);
        f.Show();
        // Every operation button says it again; what the operation then leaves alone
        // its own tests check.
        for (QPushButton* button : {f.window->Button5, f.window->Button6, f.window->Button7, f.window->Button8}) {
            const auto boxes = f.who.errorBoxes.size();
            QTest::mouseClick(button, Qt::LeftButton);
            QCOMPARE(f.who.errorBoxes.mid(boxes), QStringList({kPortRefused}));
        }
    }

    void closing_data() {
        QTest::addColumn<bool>("grant");
        QTest::addColumn<bool>("startOnRefusedLpt2");
        QTest::addColumn<bool>("viaExitButton");
        QTest::addColumn<bool>("released");
        QTest::addColumn<int>("closedPort");
        QTest::newRow("Exit button") << true << false << true << true << 0x378;
        QTest::newRow("close box") << true << false << false << true << 0x378;
        // Access is still handed back when refused: it may have been partly granted.
        QTest::newRow("port refused at creation") << false << false << true << false << 0x378;
        // LPT1 was granted at creation, LPT2 refused when START asked for it: the cable
        // is never released on the port that was never got.
        QTest::newRow("LPT2 refused at START") << true << true << true << false << 0x278;
    }

    void closing() {
        QFETCH(bool, grant);
        QFETCH(bool, startOnRefusedLpt2);
        QFETCH(bool, viaExitButton);
        QFETCH(bool, released);
        QFETCH(int, closedPort);
        Bench f(grant);
        f.Show();
        if (startOnRefusedLpt2) {
            f.access.refusedBases = {0x278};
            QTest::mouseClick(f.window->L2, Qt::LeftButton);
            QTest::mouseClick(f.window->Button5, Qt::LeftButton);
            QCOMPARE(f.who.errorBoxes, QStringList({kPortRefused}));
        }
        if (viaExitButton) QTest::mouseClick(f.window->Button1, Qt::LeftButton);
        else f.window->close();
        QVERIFY(!f.window->isVisible());

        // The cable is released (reset line low) while the port is still ours, then
        // access is withdrawn, once, and nothing touches the port after that.
        const auto writes = f.journal.Of(Kind::Write);
        QCOMPARE(!writes.empty(), released);
        for (const auto& write : writes) QCOMPARE(write.port, std::uint16_t(0x378));
        if (released) QCOMPARE(writes.back().value & kResetLine, 0);
        if (released) QVERIFY(!ResetLineLevel);
        QCOMPARE(f.journal.Of(Kind::Close).size(), std::size_t(1));
        QCOMPARE(f.journal.entries.back().kind, Kind::Close);
        QCOMPARE(f.journal.entries.back().port, std::uint16_t(closedPort));

        // A second close does not release or withdraw again.
        const std::size_t before = f.journal.entries.size();
        f.window->close();
        f.window->FormClose();
        QCOMPARE(f.journal.entries.size(), before);
    }

    void onlyAbortIsLiveWhileAnOperationRuns() {
        int starts = 0, others = 0;
        bool lockedInside = false, abortHeard = false;
        TForm1Hooks ops;
        ops.start = [&](orbvex::Link&, orbvex::WindowServices& services, const orbvex::StartInputs&) {
            if (++starts > 1) return true;  // one got in: end here, not in a stack overflow
            TForm1& w = *Form1;
            lockedInside = w.OperationRunning() && w.Button2->isEnabled();
            for (QPushButton* button : {w.Button5, w.Button6, w.Button7, w.Button8, w.Button1})
                lockedInside = lockedInside && !button->isEnabled();
            // Clicks and calls that arrive while the operation lets messages through.
            AbortRequested = false;
            QTimer::singleShot(0, &w, [&w] {
                QTest::mouseClick(w.Button6, Qt::LeftButton);
                QTest::mouseClick(w.Button5, Qt::LeftButton);
                QTest::mouseClick(w.Button2, Qt::LeftButton);
            });
            services.ProcessMessages();
            abortHeard = AbortRequested;
            w.Button7Click();
            w.Button8Click();
            w.Button5Click();
            return true;
        };
        std::optional<orbvex::EraseInputs> erased;
        ops.erase = [&](orbvex::Link&, orbvex::WindowServices&, const orbvex::EraseInputs& in) { return erased = in, ++others, true; };
        ops.write = [&](orbvex::Link&, orbvex::WindowServices&, const orbvex::WriteInputs&) { return ++others, true; };
        ops.read = [&](orbvex::Link&, orbvex::WindowServices&, const orbvex::ReadInputs&) { return ++others, true; };
        Bench f(true, ops);
        f.Show();
        QTest::mouseClick(f.window->Button5, Qt::LeftButton);
        QVERIFY(lockedInside);
        QVERIFY(abortHeard);
        QCOMPARE(starts, 1);
        QCOMPARE(others, 0);
        // Once it is over the buttons work again.
        QVERIFY(!f.window->OperationRunning());
        for (QPushButton* button : {f.window->Button5, f.window->Button6, f.window->Button7, f.window->Button8,
                                    f.window->Button1, f.window->Button2})
            QVERIFY(button->isEnabled());
        // The operation gets the port and flash the operator chose.
        QTest::mouseClick(f.window->L2, Qt::LeftButton);
        QTest::mouseClick(f.window->F2, Qt::LeftButton);
        QTest::mouseClick(f.window->Button6, Qt::LeftButton);
        QCOMPARE(others, 1);
        QVERIFY(erased && erased->lptBase == 0x278 && erased->flash == orbvex::kFlash2M);
        AbortRequested = false;
    }

    void aCloseDuringAnOperationWaitsForItsEnd() {
        apptest::Journal* journal = nullptr;
        bool stillOpenInside = false, accessHeldInside = false;
        TForm1Hooks ops;
        ops.write = [&](orbvex::Link&, orbvex::WindowServices& services, const orbvex::WriteInputs&) {
            TForm1& w = *Form1;
            QTest::mouseClick(w.Button1, Qt::LeftButton);  // disabled: nothing
            w.close();                                     // the close box
            services.ProcessMessages();
            stillOpenInside = w.isVisible() && w.ClosePending();
            accessHeldInside = journal->Of(Kind::Close).empty() && journal->Of(Kind::Write).empty();
            return true;
        };
        Bench f(true, ops);
        journal = &f.journal;
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
        QCOMPARE(f.journal.entries.back().kind, Kind::Close);
    }

    void abortWithNothingRunningOnlyRaisesTheFlag() {
        Bench f;
        f.Show();
        AbortRequested = false;
        QTest::mouseClick(f.window->Button2, Qt::LeftButton);
        QVERIFY(AbortRequested);
        QVERIFY(f.Log().isEmpty());
        QVERIFY(f.journal.Of(Kind::Write).empty());
        QVERIFY(f.window->isVisible());
        AbortRequested = false;
    }

    void logPaneShowsAndFollowsTheNewestLine() {
        Bench f;
        f.Show();
        f.window->LogLine("Init JTAG");
        orbvex::LinkLog("IDCODE : 10006A5B");  // the link writes through the same pane
        QCOMPARE(f.Log(), QStringList({"Init JTAG", "IDCODE : 10006A5B"}));
        f.window->ClearLog();
        QVERIFY(f.Log().isEmpty());
        f.window->LogLine("File : /tmp/a b.rom");
        QCOMPARE(f.Log(), QStringList({"File : /tmp/a b.rom"}));
        for (int i = 0; i < 200; ++i) f.window->LogLine("line " + std::to_string(i));
        QScrollBar* bar = f.window->Memo1->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());
    }

    void addressAndProgress() {
        Bench f;
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

    void fileDialogs_data() {
        QTest::addColumn<bool>("save");
        QTest::addColumn<bool>("installed");  // in a folder where no file can be created
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("chosen");  // empty: cancelled
        const QString dir = QDir::tempPath();
        QTest::newRow("open") << false << false << dir + "/image.rom" << dir + "/image.rom";
        QTest::newRow("open cancelled") << false << false << ""
                                        << "";
        // Save adds the default extension only to a name that has none.
        QTest::newRow("save, no extension") << true << false << dir + "/backup" << dir + "/backup.bin";
        QTest::newRow("save, own extension") << true << false << dir + "/backup.img" << dir + "/backup.img";
        QTest::newRow("save, default extension") << true << false << dir + "/backup.bin" << dir + "/backup.bin";
        QTest::newRow("save cancelled") << true << false << ""
                                        << "";
        QTest::newRow("installed, save") << true << true << dir + "/backup" << dir + "/backup.bin";
    }

    void fileDialogs() {
        QFETCH(bool, save);
        QFETCH(bool, installed);
        QFETCH(QString, typed);
        QFETCH(QString, chosen);
        Bench f;
        f.who.dialogAnswers.push_back(typed);
        orbvex::SetProgramDirectory(installed ? "/proc" : QDir::tempPath().toStdString());
        const std::optional<std::string> answer = f.window->Controller().ChooseFile(save);
        QCOMPARE(answer.has_value(), !chosen.isEmpty());
        if (answer) QCOMPARE(QString::fromStdString(*answer), QDir::toNativeSeparators(chosen));
        f.window->Controller().ChooseFile(save);  // cancelled

        QCOMPARE(f.who.dialogs.size(), std::size_t(2));
        const apptest::DialogSeen& seen = f.who.dialogs[0];
        QCOMPARE(seen.mode, save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        QCOMPARE(seen.nameFilters.size(), 2);
        QCOMPARE(seen.nameFilters[0], save ? QStringLiteral("BIN files (*.bin)") : QStringLiteral("ROM files (*.rom)"));
        QCOMPARE(seen.defaultSuffix, save ? QStringLiteral("bin") : QStringLiteral("rom"));
        // The program's folder; an installed program's dialogs open in the home folder,
        // then in the folder the last file was chosen in.
        const QString tmp = QDir(QDir::tempPath()).absolutePath();
        QCOMPARE(seen.directory, installed ? QDir::homePath() : tmp);
        QCOMPARE(f.who.dialogs[1].directory, tmp);
        // Open takes only a file that exists; Read replaces a chosen file without
        // asking, as it always did.
        if (save) QVERIFY(f.window->SaveDialog1->testOption(QFileDialog::DontConfirmOverwrite));
        else QCOMPARE(f.window->OpenDialog1->fileMode(), QFileDialog::ExistingFile);
        orbvex::SetProgramDirectory("");
    }
};

QTEST_MAIN(WindowLifecycleTest)
#include "test_window_lifecycle.moc"

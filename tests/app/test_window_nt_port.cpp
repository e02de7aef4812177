// SPDX-License-Identifier: GPL-2.0-or-later
// The window on the Windows NT family's port path: the permission driver run over the
// in-memory NT machine, so that what the operator sees can be checked here.
#include <QtTest>

#include "port/lpt.h"
#include "support/nt_standin.h"
#include "window_test_support.h"

using Kind = apptest::Journal::Kind;
using State = orbvex::NtStandIn::ServiceState;

namespace {

// The window over the NT path, with a cable that journals every port write.
struct NtBench {
    explicit NtBench(orbvex::NtStandIn& nt) : access(orbvex::MakeNtPortAccess(nt)), cable(journal) {
        window = std::make_unique<TForm1>(*access, &cable, "trap.bin", who.Hooks());
    }
    apptest::Journal journal;
    apptest::Operator who;
    std::unique_ptr<orbvex::PortAccess> access;
    apptest::RecordingBackend cable;
    std::unique_ptr<TForm1> window;
};

bool MayUse(const orbvex::NtStandIn& nt, std::uint16_t first, std::uint16_t last) {
    for (std::uint32_t p = first; p <= last; ++p)
        if (!nt.ProcessMayAccess(static_cast<std::uint16_t>(p))) return false;
    return true;
}

}  // namespace

class WindowNtPortTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { apptest::InitWindowTests(); }

    void aFailingDriverShowsTheBoxAndEveryOperationRefuses_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("reason");  // the one log line: what failed and what to do
        QTest::newRow("no service manager")
            << 0 << "cannot open the service control manager: Can't connect to Service Control Manager "
                    "(error 9998); run the program as an administrator";
        QTest::newRow("no driver file") << 1 << "; put kqiopm.sys beside the program (it works on 32-bit Windows only)";
        QTest::newRow("device refused") << 2 << "cannot open the driver's device \\\\.\\kqiopm: Access denied (error 5)";
    }

    void aFailingDriverShowsTheBoxAndEveryOperationRefuses() {
        QFETCH(int, fault);
        QFETCH(QString, reason);
        orbvex::NtStandIn nt;
        nt.SetPlatformId(2);
        if (fault == 0) nt.SetServiceManagerAvailable(false);
        if (fault == 1) nt.SetDriverFilePresent(false);
        if (fault == 2) nt.SetDeviceRefused(true);
        NtBench b(nt);
        QVERIFY(!PortAvailable);
        QCOMPARE(b.who.errorBoxes, QStringList({"The parallel port could not be opened"}));
        QCOMPARE(b.who.windowVisibleAtErrorBox, std::vector<bool>({false}));

        b.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(b.window.get()));
        for (QPushButton* button : {b.window->Button5, b.window->Button6, b.window->Button7,
                                    b.window->Button8})
            QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(b.who.errorBoxes.size(), 5);
        const QString log = b.window->Memo1->toPlainText();
        QVERIFY2(!log.contains(QLatin1Char('\n')) && log.contains(reason), qPrintable(log));
        QVERIFY(b.who.beeps.empty());

        QTest::mouseClick(b.window->Button1, Qt::LeftButton);
        QVERIFY(!b.window->isVisible());
        QVERIFY(b.journal.Of(Kind::Write).empty());
        // Whatever the open got as far as is undone: no service is left behind.
        QCOMPARE(nt.StateOf("kqiopm"), State::Absent);
    }

    void theDriverGrantsLpt1ForTheWindowsLifeAndGoesWithIt() {
        orbvex::NtStandIn nt;
        nt.SetPlatformId(2);
        // A service left running by an earlier run is taken over, not refused.
        nt.AddService("kqiopm", "C:\\old\\kqiopm.sys", State::Running);
        NtBench b(nt);
        QVERIFY(PortAvailable);
        QVERIFY(b.who.errorBoxes.isEmpty());
        QVERIFY(MayUse(nt, 0x378, 0x37A));
        QVERIFY(MayUse(nt, 0x778, 0x77A));
        QVERIFY(!nt.ProcessMayAccess(0x37B));

        b.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(b.window.get()));
        QTest::mouseClick(b.window->Button1, Qt::LeftButton);
        QVERIFY(!b.window->isVisible());
        // The cable was released on the granted port before access was withdrawn.
        QVERIFY(!b.journal.Of(Kind::Write).empty());
        QVERIFY(!MayUse(nt, 0x378, 0x378));
        QCOMPARE(nt.StateOf("kqiopm"), State::Absent);
        QVERIFY(!nt.DriverRunning());
    }
};

QTEST_MAIN(WindowNtPortTest)
#include "test_window_nt_port.moc"

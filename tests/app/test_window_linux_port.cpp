// SPDX-License-Identifier: GPL-2.0-or-later
// The window on Linux: the port instructions when ioperm grants them, else LPT1 and LPT2
// through their ppdev devices (a stand-in wired to the virtual receiver at the pins),
// and the error box only when neither can be had, with why in the log.
#include <QtTest>

#include <cerrno>

#include "port/posix/linux_port_access.h"
#include "sim/virtual_receiver.h"
#include "support/ppdev_standin.h"
#include "window_test_support.h"

namespace {

const QString kPortBox = "The parallel port could not be opened";

// The window over Linux port access, with ioperm and the opening of /dev/parport0
// granted (0) or refused (an errno).
struct LinuxBench {
    LinuxBench(int iopermError, int ppdevError = 0, orbvex::PortBackend* backend = nullptr) {
        parport.target = &receiver;
        parport.openError = ppdevError;
        access = orbvex::MakeLinuxPortAccess(
            [this, iopermError](unsigned long from, unsigned long, bool on) {
                iopermCalls.push_back(from);
                return on ? -iopermError : 0;
            },
            parport);
        window = std::make_unique<TForm1>(*access, backend, ORBVEX_VIRTUAL_TRAP_IMAGE, who.Hooks());
    }
    QString Log() const { return window->Memo1->toPlainText(); }

    orbvex::sim::VirtualReceiver receiver;
    orbvex::PpdevStandIn parport;
    std::vector<unsigned long> iopermCalls;
    apptest::Operator who;
    std::unique_ptr<orbvex::PortAccess> access;
    std::unique_ptr<TForm1> window;
};

}  // namespace

class WindowLinuxPortTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { apptest::InitWindowTests(); }

    void withoutIopermLpt1RunsOnParport0AndLpt2AsksForParport1() {
        LinuxBench b(EPERM);
        QVERIFY(PortAvailable);
        QVERIFY(b.who.errorBoxes.isEmpty());
        QCOMPARE(b.iopermCalls.front(), 0x378ul);
        QTest::mouseClick(b.window->Button5, Qt::LeftButton);
        QVERIFY2(b.Log().contains("Init OK :)"), qPrintable(b.Log()));

        // Only /dev/parport0 exists: LPT2 is refused with the box, and the log is left alone.
        const QString log = b.Log();
        b.window->L2->setChecked(true);
        QTest::mouseClick(b.window->Button6, Qt::LeftButton);
        QCOMPARE(b.who.errorBoxes, QStringList({kPortBox}));
        QCOMPARE(b.Log(), log);
        QVERIFY(std::count(b.parport.calls.begin(), b.parport.calls.end(), "open /dev/parport1") == 1);

        b.window->close();
        QCOMPARE(b.parport.calls.back(), std::string("close"));
        QCOMPARE(b.parport.OpenCount(), 0);
    }

    void whenNeitherRouteOpensTheBoxShowsOnceAndTheLogSaysWhatToDo_data() {
        QTest::addColumn<int>("openError");
        QTest::addColumn<QString>("remedy");
        QTest::newRow("not in group lp") << EACCES << "join group lp";
        QTest::newRow("no device") << ENOENT << "the device is missing";
    }

    void whenNeitherRouteOpensTheBoxShowsOnceAndTheLogSaysWhatToDo() {
        QFETCH(int, openError);
        QFETCH(QString, remedy);
        LinuxBench b(EPERM, openError);
        QVERIFY(!PortAvailable);
        QCOMPARE(b.who.errorBoxes, QStringList({kPortBox}));
        QCOMPARE(b.who.windowVisibleAtErrorBox, std::vector<bool>({false}));
        QVERIFY2(!b.Log().contains('\n') && b.Log().contains("run as root, or give the program the right once") && b.Log().contains(remedy),
                 qPrintable(b.Log()));
    }

    void whenIopermGrantsTheInstructionsPpdevIsNeverOpened() {
        apptest::Journal journal;
        apptest::RecordingBackend port(journal);  // stands for the instructions here
        LinuxBench b(0, 0, &port);
        QVERIFY(PortAvailable);
        QTest::mouseClick(b.window->Button5, Qt::LeftButton);
        b.window->close();
        QVERIFY(b.parport.calls.empty());
        QVERIFY(!journal.Of(apptest::Journal::Kind::Write).empty());
        QCOMPARE(b.iopermCalls, std::vector<unsigned long>({0x378, 0x778, 0x778, 0x378}));
    }
};

QTEST_MAIN(WindowLinuxPortTest)
#include "test_window_linux_port.moc"

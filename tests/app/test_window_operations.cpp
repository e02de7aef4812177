// The window's buttons end to end on the virtual receiver: START, Erase, Write and
// Read as the operator presses them, with the file dialogs answered by the test.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <random>

#include "app/Unit1.h"
#include "app/window_program.h"
#include "link/link_log.h"
#include "ops/operations.h"
#include "port/kqportio.h"
#include "port/program_dir.h"
#include "sim/virtual_receiver.h"
#include "window_test_support.h"

namespace {

const QString kSeparator = QStringLiteral("---------------------");

QString Hex(std::uint32_t value) { return QString::fromStdString(orbvex::Hex8(value)); }

QByteArray RandomBytes(int size, unsigned seed) {
    std::mt19937 generator(seed);
    QByteArray bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(generator() & 0xFF);
    return bytes;
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The window wired to a virtual receiver, as orbvex_up_virtual wires it.
struct VirtualBench {
    explicit VirtualBench(bool grant = true, orbvex::sim::ReceiverConfig config = {})
        : receiver(config), access(journal, grant) {
        orbvex::SetPortBackend(&receiver);
        orbvex::TrapFileName = ORBVEX_VIRTUAL_TRAP_IMAGE;
        window = std::make_unique<TForm1>(access, who.Hooks());
        window->show();
    }
    ~VirtualBench() {
        window.reset();
        orbvex::SetPortBackend(nullptr);
    }

    QStringList Log() const { return apptest::LogLines(*window); }
    // The lines one operation added to the log.
    QStringList LogSince(int first) const { return Log().mid(first); }
    QStringList Press(QPushButton* button) {
        const int before = Log().size();
        QTest::mouseClick(button, Qt::LeftButton);
        return LogSince(before);
    }
    QByteArray Flash() const {
        const std::vector<std::uint8_t>& flash = receiver.Flash();
        return QByteArray(reinterpret_cast<const char*>(flash.data()), static_cast<int>(flash.size()));
    }
    QString TrapWptrLine() const { return QStringLiteral("Trap_Wptr : ") + Hex(receiver.PeekWord(0x80000048)); }

    orbvex::sim::VirtualReceiver receiver;
    apptest::Journal journal;
    apptest::Operator who;
    apptest::FakePortAccess access;
    std::unique_ptr<TForm1> window;
};

}  // namespace

class WindowOperationsTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString PathIn(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

private slots:
    void initTestCase() {
        orbvex::app::InitApplication();
        apptest::InstallFastClock();
        QVERIFY(dir_.isValid());
        QVERIFY2(QFile::exists(QStringLiteral(ORBVEX_VIRTUAL_TRAP_IMAGE)), ORBVEX_VIRTUAL_TRAP_IMAGE);
    }

    void startConnectsToTheVirtualReceiver() {
        VirtualBench bench;
        bench.window->LogLine("left over from before");
        QTest::mouseClick(bench.window->Button5, Qt::LeftButton);
        const QStringList log = bench.Log();
        QCOMPARE(log, QStringList({"Init JTAG", "IDCODE : 10006A5B", "CPU : STi5512", "Stop CPU",
                                   "Clear Trap : Please Wait...", "Load Trap -> Ram : Please Wait...",
                                   "Load Trap : LEN Ok", "Init Trap : Please Wait...",
                                   "Trap_Wptr " + Hex(bench.receiver.PeekWord(0x80000048)),
                                   "Trap_Iptr " + Hex(bench.receiver.PeekWord(0x8000004C)),
                                   "Start Trap  : Please Wait...", "Load EMI : Please Wait...", "Init OK :)",
                                   kSeparator}));
        QCOMPARE(bench.who.beeps, std::vector<unsigned>({0x40}));
        QVERIFY(bench.receiver.TrapRunning());
        QVERIFY(bench.window->Button6->isEnabled());
        QVERIFY(!bench.window->OperationRunning());
    }

    void refusedPortStopsEveryOperationAtTheBox_data() {
        QTest::addColumn<int>("button");
        QTest::newRow("START") << 5;
        QTest::newRow("Erase") << 6;
        QTest::newRow("Write") << 7;
        QTest::newRow("Read") << 8;
    }

    void refusedPortStopsEveryOperationAtTheBox() {
        QFETCH(int, button);
        VirtualBench bench(false);
        QCOMPARE(bench.who.errorBoxes.size(), 1);  // at creation
        bench.window->LogLine("kept");
        bench.window->SetProgressMaximum(100);
        bench.window->SetProgressPosition(50);
        AbortRequested = true;
        bench.receiver.ResetCounters();

        QPushButton* buttons[] = {bench.window->Button5, bench.window->Button6, bench.window->Button7,
                                  bench.window->Button8};
        QTest::mouseClick(buttons[button - 5], Qt::LeftButton);

        QCOMPARE(bench.who.errorBoxes, QStringList({"The parallel port could not be opened",
                                                    "The parallel port could not be opened"}));
        QCOMPARE(bench.Log(), QStringList({"kept"}));
        QVERIFY(bench.who.beeps.empty());
        QVERIFY(bench.who.dialogs.empty());
        QCOMPARE(bench.receiver.Counters().portWrites, std::uint64_t(0));
        QCOMPARE(bench.receiver.Counters().portReads, std::uint64_t(0));
        if (button == 5) {
            // START readies the bar and the flag before it asks for the port.
            QCOMPARE(bench.window->ProgressBar1->value(), 0);
            QVERIFY(!AbortRequested);
        }
        AbortRequested = false;
    }

    void aRefusedSecondPortIsNeverDriven() {
        // LPT1 was granted at creation; LPT2 is refused when START asks for it. The
        // close that follows must not release a cable on the port it never got.
        VirtualBench bench;
        bench.access.refusedBases = {0x278};
        QTest::mouseClick(bench.window->L2, Qt::LeftButton);
        QTest::mouseClick(bench.window->Button5, Qt::LeftButton);
        QCOMPARE(bench.who.errorBoxes, QStringList({"The parallel port could not be opened"}));
        QTest::mouseClick(bench.window->Button1, Qt::LeftButton);
        QVERIFY(!bench.window->isVisible());
        QCOMPARE(bench.receiver.Counters().portWrites, std::uint64_t(0));
        const auto closes = bench.journal.Of(apptest::Journal::Entry::Kind::Close);
        QCOMPARE(closes.size(), std::size_t(1));
        QCOMPARE(closes[0].port, std::uint16_t(0x278));
    }

    void eraseWriteAndReadAppendBelowStart() {
        VirtualBench bench;
        bench.Press(bench.window->Button5);
        const QString wptr = bench.TrapWptrLine();

        QCOMPARE(bench.Press(bench.window->Button6),
                 QStringList({"Init JTAG", "DCU OK", wptr, "Erase ADR[7FF00000] : Please Wait...", "Erase success !!!",
                              kSeparator}));
        QCOMPARE(bench.Flash(), QByteArray(0x100000, '\xFF'));

        const QByteArray rom = RandomBytes(5000, 1);
        const QString romPath = PathIn("five-thousand.rom");
        QVERIFY(WriteFile(romPath, rom));
        bench.who.dialogAnswers.push_back(romPath);
        QCOMPARE(bench.Press(bench.window->Button7),
                 QStringList({"Init JTAG", "DCU OK", wptr, "File : " + QDir::toNativeSeparators(romPath),
                              "Write Flash ADR[7FF00000] LEN[00001388] : Please Wait...", "Write Flash END",
                              kSeparator}));
        QCOMPARE(bench.window->Label1->text(), QStringLiteral("7FF01000"));
        QCOMPARE(bench.window->ProgressBar1->maximum(), 10485);
        QCOMPARE(bench.window->ProgressBar1->value(), 40);
        QCOMPARE(bench.Flash().left(5000), rom);

        const QString binPath = PathIn("back.bin");
        bench.who.dialogAnswers.push_back(binPath);
        QCOMPARE(bench.Press(bench.window->Button8),
                 QStringList({"Init JTAG", "DCU OK", "Read ADR[7FF00000]:LEN[00100000]", "Read END", kSeparator}));
        QCOMPARE(bench.window->Label1->text(), QStringLiteral("7FFFFF00"));
        const QByteArray image = ReadFile(binPath);
        QCOMPARE(image.size(), 0x100000);
        QCOMPARE(image.left(5000), rom);
        QCOMPARE(image.mid(5000), QByteArray(0x100000 - 5000, '\xFF'));

        QCOMPARE(bench.Log().value(0), QStringLiteral("Init JTAG"));
        QCOMPARE(bench.Log().count(QStringLiteral("Init OK :)")), 1);
        QCOMPARE(bench.who.beeps.size(), std::size_t(4));
    }

    void fileDialogsOpenInTheProgramFolder() {
        VirtualBench bench;
        bench.Press(bench.window->Button5);
        bench.Press(bench.window->Button7);  // cancelled: nothing queued
        bench.Press(bench.window->Button8);
        QCOMPARE(bench.who.dialogs.size(), std::size_t(2));
        const QString programDir = QDir(QString::fromStdString(orbvex::ProgramDirectory())).absolutePath();
        const apptest::DialogSeen& open = bench.who.dialogs[0];
        QCOMPARE(open.mode, QFileDialog::AcceptOpen);
        QCOMPARE(open.nameFilters.value(0), QStringLiteral("ROM files (*.rom)"));
        QCOMPARE(open.defaultSuffix, QStringLiteral("rom"));
        QCOMPARE(open.directory, programDir);
        const apptest::DialogSeen& save = bench.who.dialogs[1];
        QCOMPARE(save.mode, QFileDialog::AcceptSave);
        QCOMPARE(save.nameFilters.value(0), QStringLiteral("BIN files (*.bin)"));
        QCOMPARE(save.defaultSuffix, QStringLiteral("bin"));
        QCOMPARE(save.directory, programDir);
    }

    void cancelledDialogsLeaveFlashAndFilesAlone() {
        VirtualBench bench;
        bench.Press(bench.window->Button5);
        const QString wptr = bench.TrapWptrLine();
        const QByteArray flashBefore = bench.Flash();
        const QStringList filesBefore = QDir(dir_.path()).entryList(QDir::Files);
        QCOMPARE(bench.Press(bench.window->Button7), QStringList({"Init JTAG", "DCU OK", wptr, kSeparator}));
        QCOMPARE(bench.Flash(), flashBefore);
        QCOMPARE(bench.Press(bench.window->Button8), QStringList({"Init JTAG", "DCU OK", kSeparator}));
        QCOMPARE(QDir(dir_.path()).entryList(QDir::Files), filesBefore);
    }

    void abortBeforeTheTransferWritesNothing() {
        VirtualBench bench;
        bench.Press(bench.window->Button5);
        bench.Press(bench.window->Button6);
        const QString romPath = PathIn("aborted.rom");
        QVERIFY(WriteFile(romPath, RandomBytes(3 * 4096, 2)));
        // The operator presses Abort as the dialog closes; Write hears it before the
        // first chunk.
        TForm1* window = bench.window.get();
        bench.who.dialogAnswers.push_back(romPath);
        bench.who.duringDialog = [window] {
            QTimer::singleShot(0, window, [window] { QTest::mouseClick(window->Button2, Qt::LeftButton); });
        };
        const QStringList lines = bench.Press(bench.window->Button7);
        QCOMPARE(lines.mid(std::max<qsizetype>(0, lines.size() - 3)),
                 QStringList({"Write Flash ADR[7FF00000] LEN[00003000] : Please Wait...", "Write Flash END",
                              kSeparator}));
        QCOMPARE(bench.Flash(), QByteArray(0x100000, '\xFF'));
    }

    void clicksDuringAWriteWaitForItsEnd() {
        VirtualBench bench;
        bench.Press(bench.window->Button5);
        bench.Press(bench.window->Button6);
        const QByteArray rom = RandomBytes(4 * 4096, 3);
        const QString romPath = PathIn("busy.rom");
        QVERIFY(WriteFile(romPath, rom));
        TForm1* window = bench.window.get();
        bench.who.dialogAnswers.push_back(romPath);
        // START, Read, Exit and the close box, all while Write lets messages through.
        bench.who.duringDialog = [window] {
            QTimer::singleShot(0, window, [window] {
                QTest::mouseClick(window->Button5, Qt::LeftButton);
                QTest::mouseClick(window->Button8, Qt::LeftButton);
                QTest::mouseClick(window->Button1, Qt::LeftButton);
                window->close();
            });
        };
        const QStringList lines = bench.Press(bench.window->Button7);
        QCOMPARE(lines.count(QStringLiteral("Init JTAG")), 1);
        QCOMPARE(lines.mid(lines.size() - 2), QStringList({"Write Flash END", kSeparator}));
        QCOMPARE(bench.Flash().left(rom.size()), rom);
        QVERIFY(bench.who.dialogs.size() == 1);  // Read never asked for a file
        // The close came through once Write was over.
        QVERIFY(!bench.window->isVisible());
        QCOMPARE(bench.journal.Of(apptest::Journal::Entry::Kind::Close).size(), std::size_t(1));
    }

    void wholeFlashRoundTrip_data() {
        QTest::addColumn<bool>("twoMegabytes");
        QTest::newRow("1 MB") << false;
        QTest::newRow("2 MB") << true;
    }

    void wholeFlashRoundTrip() {
        QFETCH(bool, twoMegabytes);
        const int size = twoMegabytes ? 0x200000 : 0x100000;
        orbvex::sim::ReceiverConfig config;
        config.flashSize = static_cast<std::uint32_t>(size);
        VirtualBench bench(true, config);
        if (twoMegabytes) QTest::mouseClick(bench.window->F2, Qt::LeftButton);
        bench.Press(bench.window->Button5);
        bench.Press(bench.window->Button6);
        const QByteArray rom = RandomBytes(size, 4);
        const QString romPath = PathIn("whole.rom");
        const QString binPath = PathIn("whole.bin");
        QVERIFY(WriteFile(romPath, rom));
        bench.who.dialogAnswers.push_back(romPath);
        const QStringList written = bench.Press(bench.window->Button7);
        QCOMPARE(written.mid(written.size() - 2), QStringList({"Write Flash END", kSeparator}));
        QCOMPARE(bench.window->Label1->text(), QStringLiteral("7FFFF000"));
        QCOMPARE(bench.window->ProgressBar1->maximum(), size / 100);
        QCOMPARE(bench.window->ProgressBar1->value(), (size - 4096) / 100);
        bench.who.dialogAnswers.push_back(binPath);
        const QStringList read = bench.Press(bench.window->Button8);
        QCOMPARE(read.mid(read.size() - 2), QStringList({"Read END", kSeparator}));
        QCOMPARE(bench.window->Label1->text(), twoMegabytes ? QStringLiteral("7FFFFE00") : QStringLiteral("7FFFFF00"));
        QVERIFY(ReadFile(binPath) == rom);
    }
};

QTEST_MAIN(WindowOperationsTest)
#include "test_window_operations.moc"

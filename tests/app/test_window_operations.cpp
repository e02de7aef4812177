// SPDX-License-Identifier: GPL-2.0-or-later
// The window's buttons end to end on the virtual receiver: START, Erase, Write and
// Read as the operator presses them, with the file dialogs answered by the test.
#include <random>

#include "app/window_cable.h"
#include "link/link_log.h"
#include "ops/operations.h"
#include "sim/virtual_receiver.h"
#include "window_test_support.h"

namespace {

const QString kSeparator = QStringLiteral("---------------------");

QString Hex(std::uint32_t value) { return QString::fromStdString(orbvex::Hex8(value)); }

// The window wired to a virtual receiver, as orbvex_up_virtual wires it.
struct VirtualBench {
    VirtualBench() { bench.Show(); }
    explicit VirtualBench(orbvex::PortBackend* cable, TForm1Hooks ops = {})
        : bench(true, std::move(ops), cable ? cable : &receiver) {
        bench.Show();
    }
    QByteArray Flash() const {
        const std::vector<std::uint8_t>& flash = receiver.Flash();
        return QByteArray(reinterpret_cast<const char*>(flash.data()), static_cast<int>(flash.size()));
    }
    QString Word(std::uint32_t address) const { return Hex(receiver.PeekWord(address)); }

    orbvex::sim::VirtualReceiver receiver;
    apptest::Bench bench{true, {}, &receiver};
    TForm1& window = *bench.window;
};

// The served receiver in a program of its own, on a free loopback port.
struct ServedReceiver {
    ServedReceiver() {
        process.start(QStringLiteral(ORBVEX_BIN_DIR "/orbvex_receiver"), {"--once", "--quiet"});
        if (process.waitForReadyRead(10000)) address = QString::fromLatin1(process.readLine()).trimmed().section(' ', 2);
    }
    ~ServedReceiver() {
        process.terminate();
        process.waitForFinished(10000);
    }
    QProcess process;
    QString address;  // "listening on 127.0.0.1:PORT"
};

}  // namespace

class WindowOperationsTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

private slots:
    void initTestCase() {
        apptest::InitWindowTests();
        QVERIFY(dir_.isValid());
        QVERIFY2(QFile::exists(QStringLiteral(ORBVEX_VIRTUAL_TRAP_IMAGE)), ORBVEX_VIRTUAL_TRAP_IMAGE);
    }

    void startConnectsToTheVirtualReceiver() {
        VirtualBench v;
        v.window.LogLine("left over from before");
        QTest::mouseClick(v.window.Button5, Qt::LeftButton);
        QCOMPARE(v.bench.Log(), QStringList({"Init JTAG", "IDCODE : 10006A5B", "CPU : STi5512", "Stop CPU",
                                             "Clear Trap : Please Wait...", "Load Trap -> Ram : Please Wait...",
                                             "Load Trap : LEN Ok", "Init Trap : Please Wait...",
                                             "Trap_Wptr " + v.Word(0x80000048), "Trap_Iptr " + v.Word(0x8000004C),
                                             "Start Trap  : Please Wait...", "Load EMI : Please Wait...",
                                             "Init OK :)", kSeparator}));
        QCOMPARE(v.bench.who.beeps, std::vector<unsigned>({0x40}));
        QVERIFY(v.receiver.TrapRunning());
        QVERIFY(v.window.Button6->isEnabled());
        QVERIFY(!v.window.OperationRunning());
    }

    // With a cable named on the command line, the port choice shows its port, greyed, and
    // the operations drive that port: a base that is neither LPT1 nor LPT2 included.
    void aNamedCableFixesThePortChoice() {
        for (const std::uint16_t base : {orbvex::kLpt2Base, std::uint16_t{0xD010}}) {
            std::optional<std::uint16_t> erased;
            TForm1Hooks ops;
            ops.erase = [&erased](orbvex::Link&, orbvex::WindowServices&, const orbvex::EraseInputs& in) { return erased = in.lptBase, true; };
            apptest::Bench b(true, ops);
            orbvex::app::FixPortChoice(*b.window, base);
            b.Show();
            QVERIFY(!b.window->L1->isEnabled() && !b.window->L2->isEnabled());
            QCOMPARE(b.window->L1->isChecked(), false);
            QCOMPARE(b.window->L2->isChecked(), base == orbvex::kLpt2Base);
            QTest::mouseClick(b.window->Button6, Qt::LeftButton);
            QCOMPARE(erased.value_or(0), base);
        }
    }

    // On the virtual receiver inside the window, and on one served over remote bit-bang
    // as orbvex_up_virtual --remote drives it.
    void eraseWriteAndReadAppendBelowStart_data() {
        QTest::addColumn<bool>("remote");
        QTest::newRow("in process") << false;
        QTest::newRow("orbvex_up_virtual --remote") << true;
    }
    void eraseWriteAndReadAppendBelowStart() {
        QFETCH(bool, remote);
        std::optional<ServedReceiver> served;
        orbvex::app::WindowCable opened;
        if (remote) {
            QVERIFY(!served.emplace().address.isEmpty());
            const QByteArray address = served->address.toLatin1();
            const char* const argv[] = {"orbvex_up_virtual", "--remote", address.constData()};
            opened = orbvex::app::OpenWindowCable(orbvex::app::kVirtualProgram, 3, argv);
            QVERIFY2(opened.cable, opened.message.c_str());
        }
        // A whole megabyte over remote bit-bang takes most of a minute: there the Read
        // button saves the file's bytes alone, through the same dialog.
        TForm1Hooks ops;
        if (remote)
            ops.read = [](orbvex::Link& link, orbvex::WindowServices& window, const orbvex::ReadInputs& in) {
                const std::optional<orbvex::ChosenFile> chosen = in.chooseBin();
                return chosen && orbvex::RunReadRange(link, window, {in.lptBase, chosen->flash.base, 5000, chosen->path});
            };
        VirtualBench v(remote ? opened.cable->Backend() : nullptr, std::move(ops));
        apptest::Bench& b = v.bench;
        const QStringList started = b.Press(v.window.Button5);
        QCOMPARE(started.value(started.size() - 2), QStringLiteral("Init OK :)"));
        const QString wptr = QStringLiteral("Trap_Wptr : ") + started.filter(QStringLiteral("Trap_Wptr ")).value(0).mid(10);

        QCOMPARE(b.Press(v.window.Button6), QStringList({"Init JTAG", "DCU OK", wptr,
                                                         "Erase ADR[7FF00000] : Please Wait...", "Erase success !!!",
                                                         kSeparator}));

        std::mt19937 random(1);
        QByteArray rom(5000, '\0');
        for (char& byte : rom) byte = static_cast<char>(random() & 0xFF);
        const QString romPath = dir_.filePath(QStringLiteral("five-thousand.rom"));
        QFile romFile(romPath);
        QVERIFY(romFile.open(QIODevice::WriteOnly) && romFile.write(rom) == rom.size());
        romFile.close();
        b.who.dialogAnswers.push_back(romPath);
        QCOMPARE(b.Press(v.window.Button7),
                 QStringList({"Init JTAG", "DCU OK", wptr, "File : " + QDir::toNativeSeparators(romPath),
                              "Write Flash ADR[7FF00000] LEN[00001388] : Please Wait...", "Write Flash END",
                              kSeparator}));
        QCOMPARE(v.window.Label1->text(), QStringLiteral("7FF01000"));
        QCOMPARE(v.window.ProgressBar1->maximum(), 10485);
        QCOMPARE(v.window.ProgressBar1->value(), 40);

        const QString binPath = dir_.filePath(QStringLiteral("back.bin"));
        b.who.dialogAnswers.push_back(binPath);
        const QString length = remote ? QStringLiteral("00001388") : QStringLiteral("00100000");
        QCOMPARE(b.Press(v.window.Button8),
                 QStringList({"Init JTAG", "DCU OK", "Read ADR[7FF00000]:LEN[" + length + "]", "Read END", kSeparator}));
        QCOMPARE(v.window.Label1->text(), remote ? QStringLiteral("7FF01000") : QStringLiteral("7FFFFF00"));
        QFile image(binPath);
        QVERIFY(image.open(QIODevice::ReadOnly));
        const QByteArray read = image.readAll();
        QCOMPARE(read.left(5000), rom);
        QVERIFY(read.mid(5000) == (remote ? QByteArray() : QByteArray(0x100000 - 5000, '\xFF')));
        if (!remote) QVERIFY(read == v.Flash());
        b.window.reset();
        QCOMPARE(orbvex::app::CloseWindowCable(opened, 0), 0);
    }
};

QTEST_MAIN(WindowOperationsTest)
#include "test_window_operations.moc"

// The window's buttons end to end on the virtual receiver: START, Erase, Write and
// Read as the operator presses them, with the file dialogs answered by the test.
#include <random>

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
    QByteArray Flash() const {
        const std::vector<std::uint8_t>& flash = receiver.Flash();
        return QByteArray(reinterpret_cast<const char*>(flash.data()), static_cast<int>(flash.size()));
    }
    QString Word(std::uint32_t address) const { return Hex(receiver.PeekWord(address)); }

    orbvex::sim::VirtualReceiver receiver;
    apptest::Bench bench{true, {}, &receiver};
    TForm1& window = *bench.window;
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

    void eraseWriteAndReadAppendBelowStart() {
        VirtualBench v;
        apptest::Bench& b = v.bench;
        b.Press(v.window.Button5);
        const QString wptr = QStringLiteral("Trap_Wptr : ") + v.Word(0x80000048);

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
        QCOMPARE(v.Flash().left(5000), rom);

        const QString binPath = dir_.filePath(QStringLiteral("back.bin"));
        b.who.dialogAnswers.push_back(binPath);
        QCOMPARE(b.Press(v.window.Button8),
                 QStringList({"Init JTAG", "DCU OK", "Read ADR[7FF00000]:LEN[00100000]", "Read END", kSeparator}));
        QCOMPARE(v.window.Label1->text(), QStringLiteral("7FFFFF00"));
        QFile image(binPath);
        QVERIFY(image.open(QIODevice::ReadOnly));
        QVERIFY(image.readAll() == v.Flash());
    }
};

QTEST_MAIN(WindowOperationsTest)
#include "test_window_operations.moc"

// The window as the operator first sees it: every control where it belongs, saying
// what it should, in the right face, in the right order.
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <memory>

#include "app/Unit1.h"
#include "app/dialog_filter.h"
#include "app/window_program.h"
#include "port/kqportio.h"
#include "window_test_support.h"

class WindowLayoutTest : public QObject {
    Q_OBJECT

private:
    apptest::Journal journal_;
    apptest::Operator operator_;
    std::unique_ptr<apptest::FakePortAccess> access_;
    std::unique_ptr<apptest::RecordingBackend> cable_;
    std::unique_ptr<TForm1> window_;

    QWidget* Control(const QString& name) const {
        if (name == QLatin1String("Form1")) return window_.get();
        return window_->findChild<QWidget*>(name);
    }

private slots:
    void initTestCase() {
        orbvex::app::InitApplication();
        access_ = std::make_unique<apptest::FakePortAccess>(journal_, true);
        cable_ = std::make_unique<apptest::RecordingBackend>(journal_);
        orbvex::SetPortBackend(cable_.get());
        window_ = std::make_unique<TForm1>(*access_, operator_.Hooks());
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }

    void cleanupTestCase() {
        window_->close();
        window_.reset();
        orbvex::SetPortBackend(nullptr);
    }

    void windowProperties() {
        QCOMPARE(window_->windowTitle(), QStringLiteral("TARNO_UP 2.2"));
        QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("orbvex_up 2.1"));
        QCOMPARE(window_->size(), QSize(563, 583));
        QCOMPARE(window_->minimumSize(), QSize(563, 583));
        QCOMPARE(window_->maximumSize(), QSize(563, 583));
        const Qt::WindowFlags flags = window_->windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(window_->font().family(), QStringLiteral("MS Sans Serif"));
        QCOMPARE(window_->font().pixelSize(), 11);
        QVERIFY(!window_->font().bold());
        QCOMPARE(window_->backgroundRole(), QPalette::Button);
        QCOMPARE(Form1, window_.get());
    }

    void controls_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("fontFamily");
        QTest::addColumn<int>("fontPixels");
        QTest::addColumn<bool>("bold");

        const QString window = QStringLiteral("Form1");
        const QString sans = QStringLiteral("MS Sans Serif");
        const QString courier = QStringLiteral("Courier New");
        auto row = [](const char* name, const QString& parent, QRect geometry, const char* caption,
                      const QString& family, int pixels, bool bold) {
            QTest::newRow(name) << QString::fromLatin1(name) << parent << geometry << QString::fromLatin1(caption)
                                << family << pixels << bold;
        };
        row("Image1", window, QRect(7, -1, 550, 165), "", sans, 11, false);
        row("Bevel1", window, QRect(7, 208, 553, 9), "", sans, 11, false);
        row("GroupBox4", window, QRect(414, 218, 139, 40), "  3  -  Connection  ", sans, 11, false);
        row("GroupBox1", window, QRect(7, 218, 267, 40), " 1 - Adr Flash ", courier, 12, false);
        row("F1", "GroupBox1", QRect(15, 16, 113, 17), "1MB(7FF00000)", courier, 12, false);
        row("F2", "GroupBox1", QRect(142, 16, 113, 17), "2MB(7FE00000)", courier, 12, false);
        row("GroupBox2", window, QRect(286, 218, 124, 40), " 2 - LPT Port ", courier, 12, false);
        row("L1", "GroupBox2", QRect(12, 16, 50, 17), "LPT1", courier, 12, false);
        row("L2", "GroupBox2", QRect(67, 16, 49, 17), "LPT2", courier, 12, false);
        row("GroupBox3", window, QRect(7, 269, 462, 46), " 4 - Flash operations (connection required first)",
            courier, 12, false);
        row("Label1", "GroupBox3", QRect(271, 20, 104, 23), "00000000", courier, 21, true);
        row("Button6", "GroupBox3", QRect(8, 23, 75, 17), "Erase", courier, 12, false);
        row("Button7", "GroupBox3", QRect(88, 23, 75, 17), "Write", courier, 12, false);
        row("Button2", "GroupBox3", QRect(176, 23, 75, 17), "Abort", courier, 12, false);
        row("Button8", "GroupBox3", QRect(392, 23, 60, 17), "Read", courier, 12, false);
        row("Button5", window, QRect(427, 235, 113, 17), "START", sans, 11, false);
        row("Button1", window, QRect(481, 292, 65, 17), "Exit", sans, 11, false);
        row("Memo1", window, QRect(7, 328, 550, 225), "", courier, 15, true);
        row("ProgressBar1", window, QRect(9, 561, 547, 16), "", sans, 11, false);
    }

    void controls() {
        QFETCH(QString, name);
        QFETCH(QString, parent);
        QFETCH(QRect, geometry);
        QFETCH(QString, caption);
        QFETCH(QString, fontFamily);
        QFETCH(int, fontPixels);
        QFETCH(bool, bold);

        QWidget* control = Control(name);
        QVERIFY2(control, qPrintable(name));
        QCOMPARE(control->parentWidget(), Control(parent));
        QCOMPARE(control->geometry(), geometry);
        QCOMPARE(control->font().family(), fontFamily);
        QCOMPARE(control->font().pixelSize(), fontPixels);
        QCOMPARE(control->font().bold(), bold);
        QVERIFY(control->isVisible());

        if (auto* box = qobject_cast<QGroupBox*>(control)) QCOMPARE(box->title(), caption);
        else if (auto* button = qobject_cast<QAbstractButton*>(control)) QCOMPARE(button->text(), caption);
        else if (auto* label = qobject_cast<QLabel*>(control)) QCOMPARE(label->text(), caption);
        else if (auto* memo = qobject_cast<QPlainTextEdit*>(control)) QCOMPARE(memo->toPlainText(), caption);
    }

    void bannerWrapsAndShowsWhole() {
        // Word-wrapped, the banner keeps its place and width and grows down to fit.
        QLabel* banner = window_->Label2;
        QCOMPARE(banner->text(), QStringLiteral("Tarno Nimbex II satellite receiver JTAG utility     "
                                                "[www.orbvex.example]"));
        QCOMPARE(banner->pos(), QPoint(98, 28));
        QCOMPARE(banner->width(), 438);
        QVERIFY(banner->wordWrap());
        QCOMPARE(banner->font().family(), QStringLiteral("Arial"));
        QCOMPARE(banner->font().pixelSize(), 24);
        QVERIFY(banner->font().bold());
        QVERIFY(banner->height() >= 28);
        QVERIFY(banner->height() >= banner->heightForWidth(438));
        // ...and stays over the empty picture area, above the rule.
        QVERIFY(banner->geometry().bottom() < window_->Bevel1->y());
    }

    void pictureAreaIsEmpty() { QVERIFY(window_->Image1->pixmap().isNull()); }

    void startState() {
        QVERIFY(window_->F1->isChecked());
        QVERIFY(!window_->F2->isChecked());
        QVERIFY(window_->L1->isChecked());
        QVERIFY(!window_->L2->isChecked());
        QCOMPARE(window_->Label1->text(), QStringLiteral("00000000"));
        QCOMPARE(window_->ProgressBar1->minimum(), 0);
        QCOMPARE(window_->ProgressBar1->maximum(), 100);
        QCOMPARE(window_->ProgressBar1->value(), 0);
        for (QPushButton* button : {window_->Button1, window_->Button2, window_->Button5, window_->Button6,
                                    window_->Button7, window_->Button8})
            QVERIFY(button->isEnabled());
        QVERIFY(window_->OpenDialog1->isHidden());
        QVERIFY(window_->SaveDialog1->isHidden());
    }

    void logPane() {
        QPlainTextEdit* memo = window_->Memo1;
        QVERIFY(memo->toPlainText().isEmpty());
        QCOMPARE(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QVERIFY(!memo->isReadOnly());
        QCOMPARE(memo->frameShadow(), QFrame::Plain);
    }

    void flashAndPortChoicesAreSeparateGroups() {
        // Choosing LPT2 must not clear the flash size, and the other way round.
        QTest::mouseClick(window_->L2, Qt::LeftButton);
        QVERIFY(window_->L2->isChecked());
        QVERIFY(!window_->L1->isChecked());
        QVERIFY(window_->F1->isChecked());
        QTest::mouseClick(window_->F2, Qt::LeftButton);
        QVERIFY(window_->F2->isChecked());
        QVERIFY(!window_->F1->isChecked());
        QVERIFY(window_->L2->isChecked());
        QVERIFY(window_->IsChecked(orbvex::Radio::F2));
        QVERIFY(window_->IsChecked(orbvex::Radio::L2));
        QVERIFY(!window_->IsChecked(orbvex::Radio::F1));
        QVERIFY(!window_->IsChecked(orbvex::Radio::L1));
        QTest::mouseClick(window_->F1, Qt::LeftButton);
        QTest::mouseClick(window_->L1, Qt::LeftButton);
        QVERIFY(window_->F1->isChecked());
        QVERIFY(window_->L1->isChecked());
    }

    void stackingOrderBottomToTop() {
        QStringList order;
        for (QObject* child : window_->children()) {
            auto* widget = qobject_cast<QWidget*>(child);
            if (widget && !widget->isWindow()) order << widget->objectName();
        }
        QCOMPARE(order, QStringList({"Image1", "Bevel1", "Label2", "GroupBox4", "GroupBox1", "GroupBox2",
                                     "GroupBox3", "Button5", "Button1", "Memo1", "ProgressBar1"}));
        // START is drawn over the frame of its group.
        QCOMPARE(window_->childAt(430, 240), window_->Button5);
    }

    void tabOrder() {
        // The chain through every control that can take the focus, in order.
        const QStringList controls({"F1", "F2", "L1", "L2", "Button6", "Button7", "Button8", "Button2", "Button5",
                                    "Button1", "Memo1"});
        QStringList chain;
        QWidget* widget = window_.get();
        do {
            if (controls.contains(widget->objectName())) chain << widget->objectName();
            widget = widget->nextInFocusChain();
        } while (widget != window_.get());
        QCOMPARE(chain, controls);
        // Of each radio pair only the checked one is a tab stop; the arrows move within.
        QVERIFY(window_->F1->focusPolicy() & Qt::TabFocus);
        QVERIFY(!(window_->F2->focusPolicy() & Qt::TabFocus));
        QVERIFY(window_->L1->focusPolicy() & Qt::TabFocus);
        QVERIFY(!(window_->L2->focusPolicy() & Qt::TabFocus));
        // Tab leaves the log pane instead of typing into it; the bar takes no focus.
        QVERIFY(window_->Memo1->tabChangesFocus());
        QCOMPARE(window_->ProgressBar1->focusPolicy(), Qt::NoFocus);
    }

    void dialogFilters_data() {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("expected");
#if defined(_WIN32)
        const QString all = QStringLiteral("All files (*.*)");
#else
        const QString all = QStringLiteral("All files (*)");
#endif
        QTest::newRow("rom") << "ROM files (*.rom)|*.rom|All files (*.*)|*.*"
                             << QStringList({"ROM files (*.rom)", all});
        QTest::newRow("bin") << "BIN files (*.bin)|*.bin|All files (*.*)|*.*"
                             << QStringList({"BIN files (*.bin)", all});
        QTest::newRow("several patterns") << "Images|*.rom;*.bin" << QStringList({"Images (*.rom *.bin)"});
        QTest::newRow("no description") << "|*.rom" << QStringList({"*.rom (*.rom)"});
        QTest::newRow("dangling description") << "ROM files (*.rom)" << QStringList();
        QTest::newRow("empty") << "" << QStringList();
    }

    void dialogFilters() {
        QFETCH(QString, filter);
        QFETCH(QStringList, expected);
        QCOMPARE(ToQtNameFilters(filter.toStdString()), expected);
    }
};

QTEST_MAIN(WindowLayoutTest)
#include "test_window_layout.moc"

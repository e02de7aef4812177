// The window as the operator first sees it: every control where it belongs, saying
// what it should, in the right face, in the right order.
#include "app/dialog_filter.h"
#include "window_test_support.h"

namespace {

struct ExpectedControl {
    const char* name;
    const char* parent;
    QRect geometry;
    const char* caption;
    const char* family;
    int pixels;
    bool bold;
};

const char* const kSans = "MS Sans Serif";
const char* const kCourier = "Courier New";
const ExpectedControl kControls[] = {
    {"Image1", "Form1", QRect(7, -1, 550, 165), "", kSans, 11, false},
    {"Bevel1", "Form1", QRect(7, 208, 553, 9), "", kSans, 11, false},
    {"GroupBox4", "Form1", QRect(414, 218, 139, 40), "  3  -  Connection  ", kSans, 11, false},
    {"GroupBox1", "Form1", QRect(7, 218, 267, 40), " 1 - Adr Flash ", kCourier, 12, false},
    {"F1", "GroupBox1", QRect(15, 16, 113, 17), "1MB(7FF00000)", kCourier, 12, false},
    {"F2", "GroupBox1", QRect(142, 16, 113, 17), "2MB(7FE00000)", kCourier, 12, false},
    {"GroupBox2", "Form1", QRect(286, 218, 124, 40), " 2 - LPT Port ", kCourier, 12, false},
    {"L1", "GroupBox2", QRect(12, 16, 50, 17), "LPT1", kCourier, 12, false},
    {"L2", "GroupBox2", QRect(67, 16, 49, 17), "LPT2", kCourier, 12, false},
    {"GroupBox3", "Form1", QRect(7, 269, 462, 46), " 4 - Flash operations (connection required first)", kCourier,
     12, false},
    {"Label1", "GroupBox3", QRect(271, 20, 104, 23), "00000000", kCourier, 21, true},
    {"Button6", "GroupBox3", QRect(8, 23, 75, 17), "Erase", kCourier, 12, false},
    {"Button7", "GroupBox3", QRect(88, 23, 75, 17), "Write", kCourier, 12, false},
    {"Button2", "GroupBox3", QRect(176, 23, 75, 17), "Abort", kCourier, 12, false},
    {"Button8", "GroupBox3", QRect(392, 23, 60, 17), "Read", kCourier, 12, false},
    {"Button5", "Form1", QRect(427, 235, 113, 17), "START", kSans, 11, false},
    {"Button1", "Form1", QRect(481, 292, 65, 17), "Exit", kSans, 11, false},
    {"Memo1", "Form1", QRect(7, 328, 550, 225), "", kCourier, 15, true},
    {"ProgressBar1", "Form1", QRect(9, 561, 547, 16), "", kSans, 11, false},
};

QString CaptionOf(const QWidget* control) {
    if (auto* box = qobject_cast<const QGroupBox*>(control)) return box->title();
    if (auto* button = qobject_cast<const QAbstractButton*>(control)) return button->text();
    if (auto* label = qobject_cast<const QLabel*>(control)) return label->text();
    if (auto* memo = qobject_cast<const QPlainTextEdit*>(control)) return memo->toPlainText();
    return QString();
}

// All a control's checked properties on one line, so that a mismatch names the control.
QString Describe(const QString& name, const QString& parent, QRect geometry, const QString& caption,
                 const QString& family, int pixels, bool bold, bool visible) {
    return QStringLiteral("%1 in %2 at %3,%4 %5x%6 \"%7\" %8 %9px%10%11")
        .arg(name, parent)
        .arg(geometry.x())
        .arg(geometry.y())
        .arg(geometry.width())
        .arg(geometry.height())
        .arg(caption, family)
        .arg(pixels)
        .arg(bold ? " bold" : "", visible ? "" : " hidden");
}

}  // namespace

class WindowLayoutTest : public QObject {
    Q_OBJECT

    std::unique_ptr<apptest::Bench> bench_;
    TForm1* window_ = nullptr;

private slots:
    void initTestCase() {
        apptest::InitWindowTests();
        bench_ = std::make_unique<apptest::Bench>();
        window_ = bench_->window.get();
        QVERIFY(bench_->Show());
    }

    void cleanupTestCase() { bench_.reset(); }

    void windowProperties() {
        QCOMPARE(window_->windowTitle(), QStringLiteral("TARNO_UP 2.2"));
        QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("orbvex_up 2.1"));
        QCOMPARE(window_->size(), QSize(563, 583));
        QCOMPARE(window_->minimumSize(), QSize(563, 583));
        QCOMPARE(window_->maximumSize(), QSize(563, 583));
        const Qt::WindowFlags flags = window_->windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint) && flags.testFlag(Qt::WindowSystemMenuHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint) && !flags.testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(window_->font().family(), QString::fromLatin1(kSans));
        QCOMPARE(window_->font().pixelSize(), 11);
        QVERIFY(!window_->font().bold());
        QCOMPARE(window_->backgroundRole(), QPalette::Button);
        QCOMPARE(Form1, window_);
    }

    void controls() {
        for (const ExpectedControl& want : kControls) {
            auto* control = window_->findChild<QWidget*>(QString::fromLatin1(want.name));
            QVERIFY2(control, want.name);
            const QFont font = control->font();
            QCOMPARE(Describe(want.name, control->parentWidget()->objectName(), control->geometry(),
                              CaptionOf(control), font.family(), font.pixelSize(), font.bold(), control->isVisible()),
                     Describe(want.name, want.parent, want.geometry, want.caption, want.family, want.pixels,
                              want.bold, true));
        }
    }

    void bannerWrapsAndShowsWhole() {
        // Word-wrapped, the banner keeps its place and width and grows down to fit,
        // over the empty picture area and above the rule.
        QLabel* banner = window_->Label2;
        QCOMPARE(banner->text(), QStringLiteral("Tarno Nimbex II satellite receiver JTAG utility     "
                                                "[www.orbvex.example]"));
        QCOMPARE(banner->pos(), QPoint(98, 28));
        QCOMPARE(banner->width(), 438);
        QVERIFY(banner->wordWrap());
        QCOMPARE(banner->font().family(), QStringLiteral("Arial"));
        QCOMPARE(banner->font().pixelSize(), 24);
        QVERIFY(banner->font().bold());
        QVERIFY(banner->height() >= std::max(28, banner->heightForWidth(438)));
        QVERIFY(banner->geometry().bottom() < window_->Bevel1->y());
        QVERIFY(window_->Image1->pixmap().isNull());
    }

    void startState() {
        QVERIFY(window_->F1->isChecked() && !window_->F2->isChecked());
        QVERIFY(window_->L1->isChecked() && !window_->L2->isChecked());
        QCOMPARE(window_->ProgressBar1->minimum(), 0);
        QCOMPARE(window_->ProgressBar1->maximum(), 100);
        QCOMPARE(window_->ProgressBar1->value(), 0);
        for (QPushButton* button : {window_->Button1, window_->Button2, window_->Button5, window_->Button6,
                                    window_->Button7, window_->Button8})
            QVERIFY(button->isEnabled());
        QVERIFY(window_->OpenDialog1->isHidden() && window_->SaveDialog1->isHidden());
        // The log pane: scrolls down only, wraps at its width, takes typing.
        QPlainTextEdit* memo = window_->Memo1;
        QCOMPARE(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QVERIFY(!memo->isReadOnly());
        QCOMPARE(memo->frameShadow(), QFrame::Plain);
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
        QWidget* widget = window_;
        do {
            if (controls.contains(widget->objectName())) chain << widget->objectName();
            widget = widget->nextInFocusChain();
        } while (widget != window_);
        QCOMPARE(chain, controls);
        // Of each radio pair only the checked one is a tab stop; the arrows move within.
        QVERIFY((window_->F1->focusPolicy() & Qt::TabFocus) && (window_->L1->focusPolicy() & Qt::TabFocus));
        QVERIFY(!(window_->F2->focusPolicy() & Qt::TabFocus) && !(window_->L2->focusPolicy() & Qt::TabFocus));
        // Tab leaves the log pane instead of typing into it; the bar takes no focus.
        QVERIFY(window_->Memo1->tabChangesFocus());
        QCOMPARE(window_->ProgressBar1->focusPolicy(), Qt::NoFocus);
    }

    void flashAndPortChoicesAreSeparateGroups() {
        // Choosing LPT2 must not clear the flash size, and the other way round. It
        // clicks, so it runs after the tests of the start state.
        QTest::mouseClick(window_->L2, Qt::LeftButton);
        QTest::mouseClick(window_->F2, Qt::LeftButton);
        QVERIFY(window_->F2->isChecked() && !window_->F1->isChecked());
        QVERIFY(window_->L2->isChecked() && !window_->L1->isChecked());
        QTest::mouseClick(window_->F1, Qt::LeftButton);
        QVERIFY(window_->F1->isChecked() && window_->L2->isChecked());
        QTest::mouseClick(window_->L1, Qt::LeftButton);
        QVERIFY(window_->F1->isChecked() && window_->L1->isChecked());
    }

    void dialogFilters() {
#if defined(_WIN32)
        const QString all = QStringLiteral("All files (*.*)");
#else
        const QString all = QStringLiteral("All files (*)");
#endif
        const std::pair<const char*, QStringList> cases[] = {
            {"ROM files (*.rom)|*.rom|All files (*.*)|*.*", {"ROM files (*.rom)", all}},
            {"BIN files (*.bin)|*.bin|All files (*.*)|*.*", {"BIN files (*.bin)", all}},
            {"Images|*.rom;*.bin", {"Images (*.rom *.bin)"}},
            {"|*.rom", {"*.rom (*.rom)"}},
            {"ROM files (*.rom)", {}},  // a description without its patterns
            {"", {}},
        };
        // The filter leads each list so that a mismatch names its case.
        for (const auto& [filter, expected] : cases)
            QCOMPARE(QStringList(filter) << ToQtNameFilters(filter), QStringList(filter) << expected);
    }
};

QTEST_MAIN(WindowLayoutTest)
#include "test_window_layout.moc"

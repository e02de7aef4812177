// SPDX-License-Identifier: GPL-2.0-or-later
// The window as the operator first sees it: every control where it belongs, saying
// what it should, in the right face, in the right order.
#include "app/dialog_filter.h"
#include "app/form_layout.h"
#include "window_test_support.h"

namespace {

using orbvex::app::ControlSpec;
using orbvex::app::kControls;

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

// A property of the window as the X server holds it, in xprop's words ("..." for text).
QString XProperty(WId window, const char* name) {
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window), QString::fromLatin1(name)});
    if (!xprop.waitForFinished(10000)) return QStringLiteral("(xprop did not answer)");
    const QString out = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
    const auto equals = out.indexOf(QLatin1String(" = "));
    return equals < 0 ? out : out.mid(equals + 3);
}

// The window's own controls as the description lists them: bottom to top.
QStringList WindowChildrenInStackingOrder() {
    QStringList names;
    for (const ControlSpec& control : kControls) {
        if (!control.parent && !(control.flags & orbvex::app::kNotVisible)) names << QString::fromLatin1(control.name);
    }
    return names;
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
        // What the window system shows: the caption alone in the title bar (nothing
        // appended), the application's name for the task bar.
        if (QGuiApplication::platformName() == QLatin1String("xcb")) {
            QCOMPARE(XProperty(window_->winId(), "_NET_WM_NAME"), QStringLiteral("\"TARNO_UP 2.2\""));
            QCOMPARE(XProperty(window_->winId(), "WM_NAME"), QStringLiteral("\"TARNO_UP 2.2\""));
            QCOMPARE(XProperty(window_->winId(), "_NET_WM_ICON_NAME"), QStringLiteral("\"orbvex_up 2.1\""));
        }
        QCOMPARE(window_->size(), QSize(563, 583));
        QCOMPARE(window_->minimumSize(), QSize(563, 583));
        QCOMPARE(window_->maximumSize(), QSize(563, 583));
        const Qt::WindowFlags flags = window_->windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint) && flags.testFlag(Qt::WindowSystemMenuHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint) && !flags.testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(window_->font().family(), QStringLiteral("MS Sans Serif"));
        QCOMPARE(window_->font().pixelSize(), 11);
        QVERIFY(!window_->font().bold());
        QCOMPARE(window_->backgroundRole(), QPalette::Button);
        QCOMPARE(Form1, window_);
    }

    void controls() {
        for (const ControlSpec& want : kControls) {
            auto* control = window_->findChild<QWidget*>(QString::fromLatin1(want.name));
            QVERIFY2(control, want.name);
            if (want.flags & orbvex::app::kNotVisible) {
                QVERIFY2(control->isHidden(), want.name);
                continue;
            }
            const QFont font = control->font();
            const orbvex::app::FontSpec wantFont = orbvex::app::EffectiveFont(want);
            // A word-wrapped label may grow downwards to show its text whole.
            QRect geometry = control->geometry();
            if (want.kind == orbvex::app::ControlKind::Label && control->height() >= want.height)
                geometry.setHeight(want.height);
            QCOMPARE(Describe(want.name, control->parentWidget()->objectName(), geometry, CaptionOf(control),
                              font.family(), font.pixelSize(), font.bold(), control->isVisible()),
                     Describe(want.name, want.parent ? want.parent : "Form1",
                              QRect(want.left, want.top, want.width, want.height), want.caption, wantFont.face,
                              wantFont.pixels, wantFont.bold, true));
            if (auto* radio = qobject_cast<QRadioButton*>(control))
                QCOMPARE(radio->isChecked(), bool(want.flags & orbvex::app::kChecked));
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
        QCOMPARE(order, WindowChildrenInStackingOrder());
        // START is drawn over the frame of its group.
        QCOMPARE(window_->childAt(430, 240), window_->Button5);
    }

    void tabOrder() {
        // The chain through every control that can take the focus, in order.
        QStringList controls;
        for (const ControlSpec* control : orbvex::app::TabChain()) {
            if (window_->findChild<QWidget*>(QString::fromLatin1(control->name))->focusPolicy() != Qt::NoFocus)
                controls << QString::fromLatin1(control->name);
        }
        QCOMPARE(controls.size(), 11);
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

// SPDX-License-Identifier: GPL-2.0-or-later
// The window's controls in Qt, built from the window's description (form_layout.h):
// where they sit, what they say, how they look, the order the Tab key visits them
// and which is drawn over which.
#include <QFileDialog>
#include <QFont>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include "app/Unit1.h"
#include "app/bottom_line_bevel.h"
#include "app/flat_group_box.h"
#include "app/form_layout.h"

namespace {

using orbvex::app::ControlKind;
using orbvex::app::ControlSpec;

QFont ToQFont(const orbvex::app::FontSpec& spec) {
    QFont font(QString::fromLatin1(spec.face));
    font.setPixelSize(spec.pixels);
    font.setBold(spec.bold);
    // Where the face is missing, a fixed-pitch one keeps the columns of the log.
    if (orbvex::app::IsFixedPitch(spec)) font.setStyleHint(QFont::TypeWriter);
    return font;
}

QWidget* CreateWidget(const ControlSpec& spec, QWidget* parent) {
    const QString caption = QString::fromLatin1(spec.caption);
    switch (spec.kind) {
    case ControlKind::Image: return new QLabel(parent);
    case ControlKind::Bevel: return new BottomLineBevel(parent);
    case ControlKind::Label: return new QLabel(caption, parent);
    case ControlKind::GroupBox: return new FlatGroupBox(caption, parent);
    case ControlKind::RadioButton: return new QRadioButton(caption, parent);
    case ControlKind::PushButton: return new QPushButton(caption, parent);
    case ControlKind::Memo: return new QPlainTextEdit(parent);
    case ControlKind::ProgressBar: return new QProgressBar(parent);
    case ControlKind::OpenDialog:
    case ControlKind::SaveDialog: return new QFileDialog(parent);
    }
    return nullptr;
}

// What the flags of the description mean for each kind of Qt widget.
void ApplyFlags(const ControlSpec& spec, QWidget* widget) {
    using namespace orbvex::app;
    if (spec.flags & kButtonFace) {
        widget->setBackgroundRole(QPalette::Button);
        widget->setAutoFillBackground(true);
    }
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setLayoutDirection(Qt::LeftToRight);
        // A word-wrapped label keeps its width and grows downwards until its text
        // fits, so the banner shows whole over the empty picture area.
        if (spec.flags & kWordWrap) {
            label->setWordWrap(true);
            label->resize(spec.width, std::max(spec.height, label->heightForWidth(spec.width)));
        }
    } else if (auto* radio = qobject_cast<QRadioButton*>(widget)) {
        radio->setChecked(spec.flags & kChecked);
        // Of each pair only the checked one is a tab stop; the arrow keys move within it.
        const Qt::FocusPolicy policy = radio->focusPolicy();
        radio->setFocusPolicy((spec.flags & kTabStop) ? Qt::FocusPolicy(policy | Qt::TabFocus)
                                                      : Qt::FocusPolicy(policy & ~Qt::TabFocus));
    } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
        button->setAutoDefault(false);
    } else if (auto* memo = qobject_cast<QPlainTextEdit*>(widget)) {
        if (spec.flags & kFlat) memo->setFrameStyle(QFrame::Box | QFrame::Plain);
        memo->setLineWidth(1);
        memo->setVerticalScrollBarPolicy((spec.flags & kVerticalScrollBar) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded);
        memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        memo->setLineWrapMode((spec.flags & kWordWrap) ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
        memo->setReadOnly(false);
        // Tab moves on to the next control, as in any single-window form.
        memo->setTabChangesFocus(true);
    } else if (auto* bar = qobject_cast<QProgressBar*>(widget)) {
        bar->setRange(0, kProgressMaximumAtStart);
        bar->setValue(0);
        bar->setTextVisible(false);
        bar->setFocusPolicy(Qt::NoFocus);
    }
}

template <typename Control>
void Bind(Control*& member, const QHash<QString, QWidget*>& made, const char* name) {
    member = qobject_cast<Control*>(made.value(QString::fromLatin1(name)));
    Q_ASSERT_X(member, "TForm1::CreateControls", name);
}

}  // namespace

void TForm1::CreateControls() {
    using orbvex::app::kWindow;
    setWindowTitle(QString::fromLatin1(kWindow.caption));
    setWindowIconText(QString::fromLatin1(kWindow.applicationTitle));
    setFixedSize(kWindow.clientWidth, kWindow.clientHeight);
    setFont(ToQFont(kWindow.font));
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);

    // In the order of the description, which stacks each later control over the ones
    // before it.
    QHash<QString, QWidget*> made;
    for (const ControlSpec& spec : orbvex::app::kControls) {
        QWidget* parent = spec.parent ? made.value(QString::fromLatin1(spec.parent)) : this;
        QWidget* widget = CreateWidget(spec, parent);
        widget->setObjectName(QString::fromLatin1(spec.name));
        if (spec.font.face) widget->setFont(ToQFont(spec.font));
        if (!(spec.flags & orbvex::app::kNotVisible)) widget->setGeometry(spec.left, spec.top, spec.width, spec.height);
        ApplyFlags(spec, widget);
        if (!widget->isWindow()) widget->raise();
        made.insert(widget->objectName(), widget);
    }

#define ORBVEX_BIND(member) Bind(member, made, #member)
    ORBVEX_BIND(GroupBox1), ORBVEX_BIND(GroupBox2), ORBVEX_BIND(F1), ORBVEX_BIND(F2), ORBVEX_BIND(Button5);
    ORBVEX_BIND(L1), ORBVEX_BIND(L2), ORBVEX_BIND(GroupBox3), ORBVEX_BIND(Button6), ORBVEX_BIND(Button7);
    ORBVEX_BIND(Button8), ORBVEX_BIND(Label1), ORBVEX_BIND(OpenDialog1), ORBVEX_BIND(SaveDialog1);
    ORBVEX_BIND(GroupBox4), ORBVEX_BIND(Button1), ORBVEX_BIND(Image1), ORBVEX_BIND(Memo1), ORBVEX_BIND(Bevel1);
    ORBVEX_BIND(ProgressBar1), ORBVEX_BIND(Button2), ORBVEX_BIND(Label2);
#undef ORBVEX_BIND

    // The focus chain through every control that can take the focus, in tab order.
    QWidget* previous = nullptr;
    for (const ControlSpec* spec : orbvex::app::TabChain()) {
        QWidget* control = made.value(QString::fromLatin1(spec->name));
        if (control->focusPolicy() == Qt::NoFocus) continue;
        if (previous) setTabOrder(previous, control);
        previous = control;
    }
}

// The window's controls: where they sit, what they say, how they look, the order
// the Tab key visits them and which is drawn over which.
#include <QFileDialog>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include "app/Unit1.h"
#include "app/bottom_line_bevel.h"
#include "app/flat_group_box.h"
#include "app/window_text.h"

namespace {

QFont PixelFont(const char* family, int pixels, bool bold = false) {
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QFont CourierFont(int pixels, bool bold = false) {
    QFont font = PixelFont("Courier New", pixels, bold);
    font.setStyleHint(QFont::TypeWriter);
    return font;
}

template <typename Control>
Control* Place(Control* control, const char* name, int left, int top, int width, int height) {
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(left, top, width, height);
    return control;
}

}  // namespace

void TForm1::CreateControls() {
    setFont(PixelFont("MS Sans Serif", 11));
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);

    Image1 = Place(new QLabel(this), "Image1", 7, -1, 550, 165);

    Bevel1 = Place(new BottomLineBevel(this), "Bevel1", 7, 208, 553, 9);

    Label2 = Place(new QLabel(QString::fromLatin1(orbvex::app::kBanner), this), "Label2", 98, 28, 438, 28);
    Label2->setFont(PixelFont("Arial", 24, true));
    Label2->setWordWrap(true);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // A word-wrapped label keeps its width and grows downwards until its text fits,
    // so the banner shows whole over the empty picture area.
    Label2->resize(438, std::max(28, Label2->heightForWidth(438)));

    CreateConnectionControls();
    CreateFlashControls();

    Button5 = Place(new QPushButton(QStringLiteral("START"), this), "Button5", 427, 235, 113, 17);
    Button1 = Place(new QPushButton(QStringLiteral("Exit"), this), "Button1", 481, 292, 65, 17);

    CreateLogControls();

    OpenDialog1 = new QFileDialog(this);
    OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
    SaveDialog1 = new QFileDialog(this);
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));

    for (QPushButton* button : {Button5, Button6, Button7, Button8, Button2, Button1}) button->setAutoDefault(false);

    ApplyStackingOrder();
    ApplyTabOrder();
}

void TForm1::CreateConnectionControls() {
    GroupBox4 = Place(new FlatGroupBox(QStringLiteral("  3  -  Connection  "), this), "GroupBox4", 414, 218, 139, 40);

    GroupBox1 = Place(new FlatGroupBox(QStringLiteral(" 1 - Adr Flash "), this), "GroupBox1", 7, 218, 267, 40);
    GroupBox1->setFont(CourierFont(12));
    F1 = Place(new QRadioButton(QStringLiteral("1MB(7FF00000)"), GroupBox1), "F1", 15, 16, 113, 17);
    F1->setFont(CourierFont(12));
    F2 = Place(new QRadioButton(QStringLiteral("2MB(7FE00000)"), GroupBox1), "F2", 142, 16, 113, 17);
    F2->setFont(CourierFont(12));

    GroupBox2 = Place(new FlatGroupBox(QStringLiteral(" 2 - LPT Port "), this), "GroupBox2", 286, 218, 124, 40);
    GroupBox2->setFont(CourierFont(12));
    L1 = Place(new QRadioButton(QStringLiteral("LPT1"), GroupBox2), "L1", 12, 16, 50, 17);
    L2 = Place(new QRadioButton(QStringLiteral("LPT2"), GroupBox2), "L2", 67, 16, 49, 17);

    F1->setChecked(true);
    L1->setChecked(true);
    // Of each pair only the checked one is a tab stop; the arrow keys move within it.
    for (QRadioButton* radio : {F1, F2, L1, L2}) {
        const Qt::FocusPolicy policy = radio->focusPolicy();
        radio->setFocusPolicy(radio->isChecked() ? Qt::FocusPolicy(policy | Qt::TabFocus)
                                                 : Qt::FocusPolicy(policy & ~Qt::TabFocus));
    }
}

void TForm1::CreateFlashControls() {
    GroupBox3 = Place(new FlatGroupBox(QStringLiteral(" 4 - Flash operations (connection required first)"), this),
                      "GroupBox3", 7, 269, 462, 46);
    GroupBox3->setFont(CourierFont(12));

    Label1 = Place(new QLabel(QStringLiteral("00000000"), GroupBox3), "Label1", 271, 20, 104, 23);
    Label1->setFont(CourierFont(21, true));
    Label1->setBackgroundRole(QPalette::Button);
    Label1->setAutoFillBackground(true);
    Label1->setLayoutDirection(Qt::LeftToRight);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Button6 = Place(new QPushButton(QStringLiteral("Erase"), GroupBox3), "Button6", 8, 23, 75, 17);
    Button7 = Place(new QPushButton(QStringLiteral("Write"), GroupBox3), "Button7", 88, 23, 75, 17);
    Button2 = Place(new QPushButton(QStringLiteral("Abort"), GroupBox3), "Button2", 176, 23, 75, 17);
    Button8 = Place(new QPushButton(QStringLiteral("Read"), GroupBox3), "Button8", 392, 23, 60, 17);
}

void TForm1::CreateLogControls() {
    Memo1 = Place(new QPlainTextEdit(this), "Memo1", 7, 328, 550, 225);
    Memo1->setFont(CourierFont(15, true));
    Memo1->setFrameStyle(QFrame::Box | QFrame::Plain);
    Memo1->setLineWidth(1);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setReadOnly(false);
    // Tab moves on to the next control, as in any single-window form.
    Memo1->setTabChangesFocus(true);

    ProgressBar1 = Place(new QProgressBar(this), "ProgressBar1", 9, 561, 547, 16);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setFocusPolicy(Qt::NoFocus);
}

void TForm1::ApplyStackingOrder() {
    // Bottom to top: the banner over the picture area, START over its group's frame.
    for (QWidget* control : std::initializer_list<QWidget*>{Image1, Bevel1, Label2, GroupBox4, GroupBox1, GroupBox2,
                                                             GroupBox3, Button5, Button1, Memo1, ProgressBar1}) {
        control->raise();
    }
}

void TForm1::ApplyTabOrder() {
    // Window: GroupBox1, GroupBox2, GroupBox3, START, GroupBox4 (nothing to focus),
    // Exit, the log; inside the flash group: Erase, Write, Read, Abort.
    const std::initializer_list<QWidget*> chain{F1, F2, L1, L2, Button6, Button7, Button8, Button2, Button5, Button1, Memo1};
    QWidget* previous = nullptr;
    for (QWidget* control : chain) {
        if (previous) setTabOrder(previous, control);
        previous = control;
    }
}

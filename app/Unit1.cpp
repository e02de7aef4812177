// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/Unit1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

#include <algorithm>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "app/dialog_filter.h"
#include "app/form_layout.h"
#include "port/port_access.h"

TForm1* Form1 = nullptr;

namespace {

// Texts cross the boundary to the operations in the platform's narrow encoding, the
// one its file functions take: file names travel inside them.
QString FromNarrow(const std::string& text) { return QString::fromLocal8Bit(text.c_str()); }
std::string ToNarrow(const QString& text) { return QFile::encodeName(text).toStdString(); }

std::optional<QString> ExecFileDialog(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    return files.first();
}

}  // namespace

TForm1::TForm1(orbvex::PortAccess& portAccess, orbvex::PortBackend* backend, std::string trapFile,
               TForm1Hooks hooks, QWidget* parent)
    : QWidget(parent,
              Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                  Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      hooks_(std::move(hooks)),
      controller_(*this, *this, portAccess, backend, std::move(trapFile), hooks_) {
    Form1 = this;
    setObjectName(QStringLiteral("Form1"));
    CreateControls();
    ConnectHandlers();
    FormCreate();
}

TForm1::~TForm1() {
    if (Form1 == this) Form1 = nullptr;
}

void TForm1::ConnectHandlers() {
    connect(Button5, &QPushButton::clicked, this, &TForm1::Button5Click);
    connect(Button6, &QPushButton::clicked, this, &TForm1::Button6Click);
    connect(Button7, &QPushButton::clicked, this, &TForm1::Button7Click);
    connect(Button8, &QPushButton::clicked, this, &TForm1::Button8Click);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
}

void TForm1::FormCreate() { controller_.Open(); }

void TForm1::FormClose() { controller_.Close(); }

void TForm1::closeEvent(QCloseEvent* event) {
    if (!controller_.MayClose()) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

void TForm1::Button5Click() { controller_.Start(); }
void TForm1::Button6Click() { controller_.Erase(); }
void TForm1::Button7Click() { controller_.Write(); }
void TForm1::Button8Click() { controller_.Read(); }
void TForm1::Button1Click() { close(); }
void TForm1::Button2Click() { controller_.Abort(); }

bool TForm1::IsChecked(orbvex::app::Choice button) const {
    switch (button) {
    case orbvex::app::Choice::F1: return F1->isChecked();
    case orbvex::app::Choice::F2: return F2->isChecked();
    case orbvex::app::Choice::L1: return L1->isChecked();
    case orbvex::app::Choice::L2: return L2->isChecked();
    }
    return false;
}

void TForm1::SetOperationButtonsEnabled(bool enabled) {
    if (!enabled) focusBeforeRun_ = QApplication::focusWidget();
    for (QPushButton* button : {Button5, Button6, Button7, Button8, Button1}) button->setEnabled(enabled);
    if (enabled && focusBeforeRun_ && focusBeforeRun_->isEnabled() && isActiveWindow()) focusBeforeRun_->setFocus();
}

void TForm1::LogLine(const std::string& line) {
    Memo1->appendPlainText(FromNarrow(line));
    QScrollBar* bar = Memo1->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void TForm1::ClearLog() { Memo1->clear(); }

void TForm1::SetAddressLabel(const std::string& text) { Label1->setText(QString::fromStdString(text)); }

void TForm1::SetProgressPosition(int position) {
    ProgressBar1->setValue(std::clamp(position, ProgressBar1->minimum(), ProgressBar1->maximum()));
}

void TForm1::SetProgressMaximum(int maximum) {
    // A position past the new end stays at the end rather than emptying the bar.
    const int position = ProgressBar1->value();
    ProgressBar1->setMaximum(maximum);
    SetProgressPosition(position);
}

std::optional<std::string> TForm1::RunFileDialog(bool save, const orbvex::app::FileDialogSetup& setup,
                                                 const std::string& folder) {
    QFileDialog& dialog = save ? *SaveDialog1 : *OpenDialog1;
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // Read replaces a chosen file without asking, as it always did.
    if (save) dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    const QString defaultSuffix = QString::fromLatin1(setup.defaultExt);
    dialog.setNameFilters(ToQtNameFilters(setup.filter));
    dialog.setDirectory(FromNarrow(folder));
    dialog.setDefaultSuffix(defaultSuffix);
    dialog.selectFile(QString());

    std::optional<QString> path = hooks_.runFileDialog ? hooks_.runFileDialog(dialog) : ExecFileDialog(dialog);
    if (!path || path->isEmpty()) return std::nullopt;
    // A typed name without an extension gets the default one, whichever dialog ran.
    if (save && !defaultSuffix.isEmpty() && QFileInfo(*path).suffix().isEmpty()) *path += QLatin1Char('.') + defaultSuffix;
    return ToNarrow(QDir::toNativeSeparators(*path));
}

void TForm1::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void TForm1::ShowErrorBox(const std::string& text) {
    const QString message = FromNarrow(text);
    if (hooks_.showErrorBox) {
        hooks_.showErrorBox(message);
        return;
    }
    QMessageBox::critical(isVisible() ? this : nullptr, QString::fromLatin1(orbvex::app::kWindow.errorBoxCaption), message,
                          QMessageBox::Ok);
}

void TForm1::Beep(unsigned type) {
    if (hooks_.beep) {
        hooks_.beep(type);
        return;
    }
#if defined(_WIN32)
    MessageBeep(type);
#else
    QApplication::beep();
#endif
}

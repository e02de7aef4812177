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
#include <QPointer>
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
#include "link/dcu.h"
#include "link/jtag.h"
#include "link/link_log.h"
#include "ops/operations.h"
#include "port/kqportio.h"
#include "port/port_access.h"
#include "port/program_dir.h"

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
      portAccess_(portAccess),
      backend_(backend),
      trapFile_(std::move(trapFile)),
      hooks_(std::move(hooks)) {
    if (!hooks_.start) hooks_.start = orbvex::RunStart;
    if (!hooks_.erase) hooks_.erase = orbvex::RunErase;
    if (!hooks_.write) hooks_.write = orbvex::RunWrite;
    if (!hooks_.read) hooks_.read = orbvex::RunRead;

    Form1 = this;
    setObjectName(QStringLiteral("Form1"));
    CreateControls();
    ConnectHandlers();
    FormCreate();
}

TForm1::~TForm1() {
    link_.reset();
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

void TForm1::FormCreate() { link_.emplace().Open(*this, portAccess_, backend_); }

void TForm1::FormClose() { link_->Close(); }

void TForm1::closeEvent(QCloseEvent* event) {
    // Port access must not be withdrawn under a running operation: the close waits
    // until the operation has returned.
    if (operationRunning_) {
        closePending_ = true;
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

// Each handler reads its choices at the moment the operation needs them: the port at
// the click, the file and then the flash size when the operation asks for its file.
void TForm1::Button5Click() {
    RunOperation([this] { return hooks_.start(*this, {ChosenPort(), trapFile_}); });
}
void TForm1::Button6Click() {
    RunOperation([this] { return hooks_.erase(*this, {ChosenPort(), ChosenFlash()}); });
}
void TForm1::Button7Click() {
    RunOperation([this] { return hooks_.write(*this, {ChosenPort(), FileChooserFor(false)}); });
}
void TForm1::Button8Click() {
    RunOperation([this] { return hooks_.read(*this, {ChosenPort(), FileChooserFor(true)}); });
}

std::uint16_t TForm1::ChosenPort() const {
    return orbvex::app::PortFromButtons(L1->isChecked(), L2->isChecked(), LptBase);
}

orbvex::FlashRange TForm1::ChosenFlash() const {
    return orbvex::app::FlashFromButtons(F1->isChecked(), F2->isChecked());
}

orbvex::FileChooser TForm1::FileChooserFor(bool save) {
    return [this, save]() -> std::optional<orbvex::ChosenFile> {
        std::string path;
        const bool chosen = save ? RunSaveDialog(orbvex::app::kBinDialog, path)
                                 : RunOpenDialog(orbvex::app::kRomDialog, path);
        if (!chosen) return std::nullopt;
        return orbvex::ChosenFile{path, ChosenFlash()};
    };
}

void TForm1::Button1Click() { close(); }

void TForm1::Button2Click() { orbvex::RunAbort(*this); }

void TForm1::RunOperation(const std::function<bool()>& operation) {
    // Operations let window messages through while they run; a second one started
    // from there would interleave with the first on the one JTAG link.
    if (operationRunning_) return;
    operationRunning_ = true;
    QPointer<QWidget> focused = QApplication::focusWidget();
    SetOperationButtonsEnabled(false);

    operation();

    SetOperationButtonsEnabled(true);
    if (focused && focused->isEnabled() && isActiveWindow()) focused->setFocus();
    operationRunning_ = false;
    if (closePending_) {
        closePending_ = false;
        close();
    }
}

void TForm1::SetOperationButtonsEnabled(bool enabled) {
    // Abort stays live: it is how a running Write is stopped.
    for (QPushButton* button : {Button5, Button6, Button7, Button8, Button1}) button->setEnabled(enabled);
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

bool TForm1::RunOpenDialog(const orbvex::app::FileDialogSetup& setup, std::string& chosen) {
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog1->setFileMode(QFileDialog::ExistingFile);
    return RunFileDialog(*OpenDialog1, setup, chosen);
}

bool TForm1::RunSaveDialog(const orbvex::app::FileDialogSetup& setup, std::string& chosen) {
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1->setFileMode(QFileDialog::AnyFile);
    SaveDialog1->setOption(QFileDialog::DontConfirmOverwrite, true);
    return RunFileDialog(*SaveDialog1, setup, chosen);
}

bool TForm1::RunFileDialog(QFileDialog& dialog, const orbvex::app::FileDialogSetup& setup, std::string& chosen) {
    const QString defaultSuffix = QString::fromLatin1(setup.defaultExt);
    dialog.setNameFilters(ToQtNameFilters(setup.filter));
    dialog.setDirectory(FromNarrow(orbvex::ProgramDirectory()));
    dialog.setDefaultSuffix(defaultSuffix);
    dialog.selectFile(QString());

    std::optional<QString> path = hooks_.runFileDialog ? hooks_.runFileDialog(dialog) : ExecFileDialog(dialog);
    if (!path || path->isEmpty()) return false;
    // A typed name without an extension gets the default one, whichever dialog ran.
    if (dialog.acceptMode() == QFileDialog::AcceptSave && !defaultSuffix.isEmpty() &&
        QFileInfo(*path).suffix().isEmpty()) {
        *path += QLatin1Char('.') + defaultSuffix;
    }
    chosen = ToNarrow(QDir::toNativeSeparators(*path));
    return true;
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

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>

#include "app/window_controller.h"
#include "ops/link_session.h"
#include "ops/window_services.h"

class QFileDialog;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

// What the window hands to the world outside it. Each hook left empty falls back to
// the real thing (modal dialog, message box, system sound, the operations of ops/);
// the tests fill them so that nothing blocks and nothing needs a receiver.
struct TForm1Hooks : orbvex::app::WindowOperations {
    // Runs a file dialog that the window has already set up; the chosen path, or
    // nothing when the operator cancelled.
    std::function<std::optional<QString>(QFileDialog&)> runFileDialog;
    std::function<void(const QString&)> showErrorBox;
    std::function<void(unsigned type)> beep;
};

// The program's one window: two choices, four operations, the log.
class TForm1 : public QWidget, public orbvex::WindowServices, private orbvex::app::WindowControls {
    Q_OBJECT

public:
    // Creating the window runs FormCreate, which wires the backend (null: the real port)
    // and opens port access through portAccess; both must outlive the window. START
    // loads trapFile.
    TForm1(orbvex::PortAccess& portAccess, orbvex::PortBackend* backend, std::string trapFile,
           TForm1Hooks hooks = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    // The controls, in the order the window declares them.
    QGroupBox* GroupBox1;
    QGroupBox* GroupBox2;
    QRadioButton* F1;
    QRadioButton* F2;
    QPushButton* Button5;
    QRadioButton* L1;
    QRadioButton* L2;
    QGroupBox* GroupBox3;
    QPushButton* Button6;
    QPushButton* Button7;
    QPushButton* Button8;
    QLabel* Label1;
    QFileDialog* OpenDialog1;
    QFileDialog* SaveDialog1;
    QGroupBox* GroupBox4;
    QPushButton* Button1;
    QLabel* Image1;
    QPlainTextEdit* Memo1;
    QWidget* Bevel1;
    QProgressBar* ProgressBar1;
    QPushButton* Button2;
    QLabel* Label2;

    void FormCreate();
    void FormClose();
    void Button5Click();
    void Button6Click();
    void Button7Click();
    void Button8Click();
    void Button1Click();
    void Button2Click();

    // What the buttons do, written once for every toolkit.
    orbvex::app::WindowController& Controller() { return controller_; }
    bool OperationRunning() const { return controller_.OperationRunning(); }
    bool ClosePending() const { return controller_.ClosePending(); }

    // orbvex::WindowServices
    void LogLine(const std::string& line) override;
    void ClearLog() override;
    void SetAddressLabel(const std::string& text) override;
    void SetProgressPosition(int position) override;
    void SetProgressMaximum(int maximum) override;
    void ProcessMessages() override;
    void ShowErrorBox(const std::string& text) override;
    void Beep(unsigned type) override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    void ConnectHandlers();

    // orbvex::app::WindowControls. A saved name that has no extension gets the
    // dialog's default one.
    bool IsChecked(orbvex::app::Choice button) const override;
    void SetOperationButtonsEnabled(bool enabled) override;
    void CloseWindow() override { close(); }
    std::optional<std::string> RunFileDialog(bool save, const orbvex::app::FileDialogSetup& setup,
                                             const std::string& folder) override;

    TForm1Hooks hooks_;
    QPointer<QWidget> focusBeforeRun_;
    orbvex::app::WindowController controller_;
};

// The one window of the program, while it exists.
extern TForm1* Form1;

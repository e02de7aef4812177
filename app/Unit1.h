#pragma once
#include <QWidget>

#include <functional>
#include <optional>

#include "ops/window_services.h"

class QFileDialog;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace orbvex {
class PortAccess;
}

// What the window hands to the world outside it. Each hook left empty falls back to
// the real thing (modal dialog, message box, system sound, the operations of ops/);
// the tests fill them so that nothing blocks and nothing needs a receiver.
struct TForm1Hooks {
    using Operation = std::function<bool(orbvex::WindowServices&)>;

    // Runs a file dialog that the window has already set up; the chosen path, or
    // nothing when the operator cancelled.
    std::function<std::optional<QString>(QFileDialog&)> runFileDialog;
    std::function<void(const QString&)> showErrorBox;
    std::function<void(unsigned type)> beep;

    Operation start;  // START
    Operation erase;
    Operation write;
    Operation read;
};

// The program's one window: two choices, four operations, the log.
class TForm1 : public QWidget, public orbvex::WindowServices {
    Q_OBJECT

public:
    // Creating the window runs FormCreate, which opens port access through portAccess;
    // the object must outlive the window.
    explicit TForm1(orbvex::PortAccess& portAccess, TForm1Hooks hooks = {}, QWidget* parent = nullptr);
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

    // True from the click on an operation button until that operation has returned.
    bool OperationRunning() const { return operationRunning_; }
    // True when a close was asked for during an operation and waits for its end.
    bool ClosePending() const { return closePending_; }

    // orbvex::WindowServices
    void LogLine(const std::string& line) override;
    void ClearLog() override;
    void SetAddressLabel(const std::string& text) override;
    void SetProgressPosition(int position) override;
    void SetProgressMaximum(int maximum) override;
    bool RunOpenDialog(const orbvex::FileDialogSetup& setup, std::string& chosen) override;
    bool RunSaveDialog(const orbvex::FileDialogSetup& setup, std::string& chosen) override;
    void ProcessMessages() override;
    void ShowErrorBox(const std::string& text) override;
    void Beep(unsigned type) override;
    bool IsChecked(orbvex::Radio radio) const override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    void ConnectHandlers();

    void RunOperation(const TForm1Hooks::Operation& operation);
    void SetOperationButtonsEnabled(bool enabled);
    bool RunFileDialog(QFileDialog& dialog, const orbvex::FileDialogSetup& setup, std::string& chosen);

    orbvex::PortAccess& portAccess_;
    TForm1Hooks hooks_;
    bool operationRunning_ = false;
    bool closePending_ = false;
    bool closed_ = false;
};

// The one window of the program, while it exists.
extern TForm1* Form1;

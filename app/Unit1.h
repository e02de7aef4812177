#pragma once
#include <QWidget>

#include <functional>
#include <optional>
#include <string>

#include "app/form_choices.h"
#include "app/window_link.h"
#include "ops/link_session.h"
#include "ops/operations.h"
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
struct TForm1Hooks {
    template <typename Inputs>
    using Operation = std::function<bool(orbvex::WindowServices&, const Inputs&)>;

    // Runs a file dialog that the window has already set up; the chosen path, or
    // nothing when the operator cancelled.
    std::function<std::optional<QString>(QFileDialog&)> runFileDialog;
    std::function<void(const QString&)> showErrorBox;
    std::function<void(unsigned type)> beep;

    Operation<orbvex::StartInputs> start;  // START
    Operation<orbvex::EraseInputs> erase;
    Operation<orbvex::WriteInputs> write;
    Operation<orbvex::ReadInputs> read;
};

// The program's one window: two choices, four operations, the log.
class TForm1 : public QWidget, public orbvex::WindowServices {
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
    void ProcessMessages() override;
    void ShowErrorBox(const std::string& text) override;
    void Beep(unsigned type) override;

    // Sets up and runs a file dialog; false when the operator cancelled. chosen is the
    // full path, with the default extension added to a saved name that has none.
    bool RunOpenDialog(const orbvex::app::FileDialogSetup& setup, std::string& chosen);
    bool RunSaveDialog(const orbvex::app::FileDialogSetup& setup, std::string& chosen);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    void ConnectHandlers();

    void RunOperation(const std::function<bool()>& operation);
    void SetOperationButtonsEnabled(bool enabled);
    bool RunFileDialog(QFileDialog& dialog, const orbvex::app::FileDialogSetup& setup, std::string& chosen);
    // What the radio buttons say at the moment an operation asks.
    std::uint16_t ChosenPort() const;
    orbvex::FlashRange ChosenFlash() const;
    // The dialog's answer and the flash chosen right after it, as Write and Read ask.
    orbvex::FileChooser FileChooserFor(bool save);

    orbvex::PortAccess& portAccess_;
    orbvex::PortBackend* backend_;
    std::string trapFile_;
    std::optional<orbvex::app::WindowLink> link_;
    TForm1Hooks hooks_;
    bool operationRunning_ = false;
    bool closePending_ = false;
};

// The one window of the program, while it exists.
extern TForm1* Form1;

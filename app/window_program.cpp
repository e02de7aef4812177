// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/window_program.h"

#include <QApplication>
#include <QFont>
#include <QRadioButton>
#include <QScreen>

#include <iostream>

#include "app/Unit1.h"
#include "app/form_layout.h"
#include "util/image_file.h"
#include "util/standard_streams.h"

namespace orbvex::app {

void InitApplication() {
    // The application's name is the one the task bar shows. It is not set as the
    // display name, which X11 would append to the window's own caption.
    QApplication::setApplicationName(QString::fromLatin1(kWindow.applicationTitle));
    // The layout was drawn with these faces; where they are missing, take faces of the
    // same widths before the toolkit's generic choice.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans"),
                                QStringLiteral("Nimbus Sans"), QStringLiteral("Arial")});
    QFont::insertSubstitutions(QStringLiteral("Courier New"),
                               {QStringLiteral("Liberation Mono"), QStringLiteral("Nimbus Mono PS"),
                                QStringLiteral("Courier")});
    QFont::insertSubstitutions(QStringLiteral("Arial"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans"),
                                QStringLiteral("Helvetica")});
}

void CenterOnScreen(TForm1& window) {
    QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect frame = window.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}

void FixPortChoice(TForm1& window, std::uint16_t base) {
    for (QRadioButton* button : {window.L1, window.L2}) button->setAutoExclusive(false);
    window.L1->setChecked(base == kLpt1Base);
    window.L2->setChecked(base == kLpt2Base);
    for (QRadioButton* button : {window.L1, window.L2}) {
        button->setAutoExclusive(true);
        button->setEnabled(false);
    }
    window.Controller().FixPort(base);
}

int RunWindowProgram(const WindowProgram& program, int argc, char** argv) {
    OpenClosedStandardStreams();
    QApplication application(argc, argv);
    InitApplication();
    IgnoreFileSizeSignal();
    WindowCable opened = OpenWindowCable(program, argc, argv);
    int status = opened.exitCode;
    if (opened.cable) {
        cables::Cable& cable = *opened.cable;
        TForm1 window(cable.Access(), cable.Backend(), opened.trapFile);
        if (opened.portFixed) FixPortChoice(window, cable.LptBase());
        cable.ReportLossTo([&window](const std::string& line) { window.LogLine(line); });
        for (const std::string& line : opened.warnings) window.LogLine(line);
        CenterOnScreen(window);
        window.show();
        status = QApplication::exec();
        cable.ReportLossTo([](const std::string&) {});  // the window is about to go
    }
    status = CloseWindowCable(opened, status);
    if (!opened.message.empty()) (status == 0 ? std::cout : std::cerr) << opened.message << std::endl;
    return status;
}

}  // namespace orbvex::app

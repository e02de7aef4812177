#include "app/window_program.h"

#include <QApplication>
#include <QFont>
#include <QScreen>

#include "app/Unit1.h"
#include "app/form_layout.h"

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

int RunWindowProgram(orbvex::PortAccess& portAccess, orbvex::PortBackend* backend, const std::string& trapFile) {
    TForm1 window(portAccess, backend, trapFile);
    CenterOnScreen(window);
    window.show();
    return QApplication::exec();
}

}  // namespace orbvex::app

#include "app/window_program.h"

#include <QApplication>
#include <QFont>
#include <QScreen>

#include "app/Unit1.h"
#include "app/window_text.h"

namespace orbvex::app {

void InitApplication() {
    QApplication::setApplicationName(QStringLiteral("orbvex_up"));
    QApplication::setApplicationVersion(QStringLiteral("2.1"));
    QApplication::setApplicationDisplayName(QString::fromLatin1(kApplicationTitle));
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

// SPDX-License-Identifier: GPL-2.0-or-later
// Renders the window to a PNG file, for the documentation and for checking the layout
// by eye: orbvex_up_screenshot FILE.png [--virtual]. With --virtual the window is
// wired to the virtual receiver and START has run; without it the window is shown as
// it opens. No real port is ever driven.
#include <QApplication>
#include <QPixmap>
#include <QPushButton>

#include <cstdio>
#include <cstring>

#include "app/Unit1.h"
#include "app/window_program.h"
#include "port/port_access.h"
#include "sim/virtual_receiver.h"

namespace {

// Stands in for the cable when the picture is of the real-port program.
class NoCable final : public orbvex::PortBackend {
public:
    std::uint8_t Read(std::uint16_t) override { return 0xFF; }
    void Write(std::uint16_t, std::uint8_t) override {}
};

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    orbvex::app::InitApplication();
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE.png [--virtual]\n", argv[0]);
        return 2;
    }
    const bool virtualReceiver = argc > 2 && std::strcmp(argv[2], "--virtual") == 0;

    NoCable noCable;
    orbvex::sim::VirtualReceiver receiver;
    orbvex::PortBackend* backend = virtualReceiver ? static_cast<orbvex::PortBackend*>(&receiver) : &noCable;
    std::unique_ptr<orbvex::PortAccess> portAccess = orbvex::MakeUnrestrictedPortAccess();

    TForm1Hooks hooks;
    hooks.beep = [](unsigned) {};
    hooks.showErrorBox = [](const QString& text) { std::fprintf(stderr, "error box: %s\n", qPrintable(text)); };
    int status = 0;
    {
        TForm1 window(*portAccess, backend, "trap.bin", hooks);
        window.show();
        if (virtualReceiver) window.Button5->click();
        QApplication::processEvents();
        if (!window.grab().save(QString::fromLocal8Bit(argv[1]))) {
            std::fprintf(stderr, "cannot write %s\n", argv[1]);
            status = 1;
        }
        window.close();
    }
    return status;
}

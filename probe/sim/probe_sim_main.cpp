// SPDX-License-Identifier: GPL-2.0-or-later
// orbvex_probe_sim: the ATmega328P probe board, simulated by simavr running the real
// firmware, its serial line a pseudo-terminal (printed at start: orbvex_cli --probe
// takes it as it would take /dev/ttyUSB0), its JTAG pins on the virtual receiver in this
// process or on a remote bit-bang target (--target). Prints the simulated time at exit.
#include <CLI/CLI.hpp>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "port/program_dir.h"
#include "probe/sim/avr_board.h"
#include "remote/remote_bitbang_client.h"
#include "remote/remote_bitbang_socket.h"
#include "sim/virtual_receiver.h"

namespace {

std::atomic<bool> g_stop{false};
extern "C" void OnStopSignal(int) { g_stop = true; }

constexpr std::uint64_t kBatchCycles = 20000;  // between looks at the line, 1.25 ms of the board's time

struct Options {
    std::string firmware;
    std::string target;
    std::string flash = "1M";
    std::string flashImage;
    std::string link;
    std::vector<std::uint32_t> bridgeRates;
    std::uint64_t resetAfterBytes = 0;
    int targetTimeoutSeconds = 10;
};

struct BaudName {
    speed_t speed;
    std::uint32_t baud;
};
const BaudName kBauds[] = {{B9600, 9600}, {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B500000, 500000}, {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000}, {B2000000, 2000000}};

// The rate the host set on its end of the pseudo-terminal (shared by both ends).
std::uint32_t HostBaud(int master, std::uint32_t previous) {
    termios settings{};
    if (tcgetattr(master, &settings) != 0) return previous;
    const speed_t speed = cfgetospeed(&settings);
    for (const auto& b : kBauds)
        if (b.speed == speed) return b.baud;
    return previous;
}

// A pseudo-terminal in raw mode, so that nothing the host sends is echoed or changed
// before the host sets its own mode. The slave end is kept open here too, so that the
// master reads no end of file between two hosts.
bool OpenLine(int& master, int& slave, std::string& path) {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
    const char* name = ptsname(master);
    if (!name) return false;
    path = name;
    slave = open(name, O_RDWR | O_NOCTTY);
    if (slave < 0) return false;
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    cfsetspeed(&raw, B1000000);
    tcsetattr(slave, TCSANOW, &raw);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    return true;
}

// The bytes for the host go out as the board sends them; what the pseudo-terminal has
// no room for waits here.
void Send(int master, std::string& pending) {
    while (!pending.empty()) {
        const ssize_t n = write(master, pending.data(), pending.size());
        if (n <= 0) return;
        pending.erase(0, static_cast<std::size_t>(n));
    }
}

std::unique_ptr<orbvex::PortBackend> OpenTarget(const Options& o, orbvex::sim::VirtualReceiver*& receiver) {
    if (o.target.empty()) {
        orbvex::sim::ReceiverConfig config;
        config.flashSize = o.flash == "2M" ? 0x200000 : 0x100000;
        auto virtualReceiver = std::make_unique<orbvex::sim::VirtualReceiver>(config);
        receiver = virtualReceiver.get();
        if (!o.flashImage.empty() && access(o.flashImage.c_str(), F_OK) == 0 && !receiver->LoadFlashImage(o.flashImage)) {
            std::cerr << "orbvex_probe_sim: cannot load the flash image " << o.flashImage << '\n';
            return nullptr;
        }
        return virtualReceiver;
    }
    orbvex::net::Endpoint where;
    std::string error;
    if (!orbvex::net::ParseEndpoint(o.target, where, error)) {
        std::cerr << "orbvex_probe_sim: --target " << o.target << ": " << error << '\n';
        return nullptr;
    }
    orbvex::net::Socket socket = orbvex::net::Connect(where, error, o.targetTimeoutSeconds * 1000);
    if (!socket.Valid()) {
        std::cerr << "orbvex_probe_sim: cannot connect to " << where.Describe() << ": " << error << '\n';
        return nullptr;
    }
    return std::make_unique<orbvex::RemoteBitbangClient>(std::move(socket), o.targetTimeoutSeconds * 1000);
}

int Serve(const Options& o) {
    orbvex::sim::VirtualReceiver* receiver = nullptr;
    std::unique_ptr<orbvex::PortBackend> target = OpenTarget(o, receiver);
    if (!target) return 1;
    orbvex::probe::AvrBoard board(*target);
    board.SetBridgeRates(o.bridgeRates);
    std::string error;
    if (!board.Load(o.firmware, error)) {
        std::cerr << "orbvex_probe_sim: " << error << '\n';
        return 1;
    }
    int master = -1, slave = -1;
    std::string path;
    if (!OpenLine(master, slave, path)) {
        std::cerr << "orbvex_probe_sim: cannot open a pseudo-terminal\n";
        return 1;
    }
    if (!o.link.empty()) {
        unlink(o.link.c_str());
        if (symlink(path.c_str(), o.link.c_str()) != 0) {
            std::cerr << "orbvex_probe_sim: cannot link " << o.link << " to " << path << '\n';
            return 1;
        }
    }
    std::cout << path << std::endl;

    std::uint32_t hostBaud = 1000000;
    bool resetDone = false;
    std::string pending;
    std::uint8_t buffer[4096];
    while (!g_stop) {
        hostBaud = HostBaud(master, hostBaud);
        board.SetHostBaud(hostBaud);
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n > 0) board.HostSend(buffer, static_cast<std::size_t>(n));
        if (board.Stopped()) {
            std::cerr << "orbvex_probe_sim: the firmware stopped\n";
            break;
        }
        if (board.Idle() && pending.empty()) {
            pollfd wait{master, POLLIN, 0};
            poll(&wait, 1, 20);
            continue;
        }
        board.Run(kBatchCycles);
        pending += board.TakeReceived();
        Send(master, pending);
        if (o.resetAfterBytes && !resetDone && board.BytesToHost() >= o.resetAfterBytes) {
            std::cerr << "orbvex_probe_sim: the board resets after " << board.BytesToHost() << " bytes sent\n";
            board.Reset();
            resetDone = true;
        }
    }
    if (!o.link.empty()) unlink(o.link.c_str());
    if (receiver && !o.flashImage.empty() && !receiver->SaveFlashImage(o.flashImage))
        std::cerr << "orbvex_probe_sim: cannot save the flash image " << o.flashImage << '\n';
    if (board.Overruns()) std::cerr << "orbvex_probe_sim: " << board.Overruns() << " bytes lost to overruns\n";
    char line[128];
    std::snprintf(line, sizeof line, "simulated time: %.6f s (%llu cycles at 16 MHz)\n", board.Seconds(),
                  static_cast<unsigned long long>(board.Cycles()));
    std::cerr << line;
    close(slave);
    close(master);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"The ATmega328P probe board simulated, its serial line a pseudo-terminal (its path printed first)"};
    Options o;
    o.firmware = orbvex::FindProgramFile("orbvex_probe_atmega328p.elf");
    app.add_option("--firmware", o.firmware, "Firmware ELF (default: orbvex_probe_atmega328p.elf beside this program)");
    app.add_option("--target", o.target, "Drive a remote bit-bang target (HOST:PORT or unix:PATH) instead of the virtual receiver");
    app.add_option("--flash", o.flash, "The virtual receiver's flash: 1M (default) or 2M")->check(CLI::IsMember({"1M", "2M"}));
    app.add_option("--flash-image", o.flashImage, "The virtual receiver's flash image: loaded if it exists, saved at exit");
    app.add_option("--link", o.link, "Also name the serial line by this symbolic link");
    app.add_option("--bridge-rates", o.bridgeRates, "Rates the board's USB bridge carries (default: any)")->delimiter(',');
    app.add_option("--reset-after-bytes", o.resetAfterBytes, "Press the board's reset once after this many bytes went to the host");
    app.add_option("--target-timeout", o.targetTimeoutSeconds, "Seconds to wait for the remote target");
    CLI11_PARSE(app, argc, argv);
    std::signal(SIGTERM, OnStopSignal);
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGPIPE, SIG_IGN);
    return Serve(o);
}

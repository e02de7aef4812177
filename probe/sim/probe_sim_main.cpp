// SPDX-License-Identifier: GPL-2.0-or-later
// orbvex_probe_sim: the ATmega328P probe board, simulated by simavr running the real
// firmware, its serial line a pseudo-terminal (printed at start: orbvex_cli --probe
// takes it as it would take /dev/ttyUSB0), its JTAG pins on the virtual receiver in this
// process or on a remote bit-bang target (--target). Prints the simulated time at exit.
#include <CLI/CLI.hpp>

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
#include "probe/sim/board_line.h"
#include "remote/remote_bitbang_client.h"
#include "remote/remote_bitbang_socket.h"
#include "sim/virtual_receiver.h"

namespace {

std::atomic<bool> g_stop{false};
extern "C" void OnStopSignal(int) { g_stop = true; }

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
    const orbvex::Result<orbvex::net::Endpoint> where = orbvex::net::ParseEndpoint(o.target);
    if (!where) {
        std::cerr << "orbvex_probe_sim: --target " << o.target << ": " << where.Error() << '\n';
        return nullptr;
    }
    orbvex::Result<orbvex::net::Socket> socket = orbvex::net::Connect(where.Value(), o.targetTimeoutSeconds * 1000);
    if (!socket) {
        std::cerr << "orbvex_probe_sim: cannot connect to " << where->Describe() << ": " << socket.Error() << '\n';
        return nullptr;
    }
    return std::make_unique<orbvex::RemoteBitbangClient>(std::move(socket).Value(), o.targetTimeoutSeconds * 1000);
}

int Serve(const Options& o) {
    orbvex::sim::VirtualReceiver* receiver = nullptr;
    std::unique_ptr<orbvex::PortBackend> target = OpenTarget(o, receiver);
    if (!target) return 1;
    orbvex::probe::AvrBoard board(*target);
    board.SetBridgeRates(o.bridgeRates);
    if (const orbvex::Status loaded = board.Load(o.firmware); !loaded) {
        std::cerr << "orbvex_probe_sim: " << loaded.Error() << '\n';
        return 1;
    }
    orbvex::probe::BoardLine line(board);
    if (const orbvex::Status opened = line.Open(); !opened) {
        std::cerr << "orbvex_probe_sim: " << opened.Error() << '\n';
        return 1;
    }
    const std::string& path = line.Path();
    if (!o.link.empty()) {
        unlink(o.link.c_str());
        if (symlink(path.c_str(), o.link.c_str()) != 0) {
            std::cerr << "orbvex_probe_sim: cannot link " << o.link << " to " << path << '\n';
            return 1;
        }
    }
    std::cout << path << std::endl;
    line.Serve(g_stop, o.resetAfterBytes);
    if (!o.link.empty()) unlink(o.link.c_str());
    if (receiver && !o.flashImage.empty() && !receiver->SaveFlashImage(o.flashImage))
        std::cerr << "orbvex_probe_sim: cannot save the flash image " << o.flashImage << '\n';
    if (board.Overruns()) std::cerr << "orbvex_probe_sim: " << board.Overruns() << " bytes lost to overruns\n";
    char summary[128];
    std::snprintf(summary, sizeof summary, "simulated time: %.6f s (%llu cycles at 16 MHz)\n", board.Seconds(),
                  static_cast<unsigned long long>(board.Cycles()));
    std::cerr << summary;
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

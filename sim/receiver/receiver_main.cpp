// orbvex_receiver: the virtual receiver served over the remote bit-bang protocol, so
// that any client of that protocol (orbvex_cli --remote, a JTAG debugger) can drive it
// as if it were a receiver on a cable. One client at a time; loopback or a unix socket.
#include <CLI/CLI.hpp>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>

#include "remote/remote_bitbang_server.h"
#include "remote/remote_bitbang_socket.h"
#include "sim/virtual_receiver.h"
#include "util/flash_map.h"
#include "util/image_file.h"
#include "util/text.h"

namespace {

std::atomic<bool> g_stop{false};

extern "C" void OnStopSignal(int) { g_stop = true; }

struct ReceiverOptions {
    std::uint16_t tcpPort = 0;
    std::string unixPath;
    std::string flashImage;
    bool once = false;
    bool quiet = false;
};

// Adds an option that takes a number in decimal or 0x-hexadecimal, from least to most;
// anything else is refused rather than wrapped or clamped.
template <typename T>
void AddNumber(CLI::App& app, const std::string& name, T& target, std::uint64_t least, std::uint64_t most,
               const std::string& help) {
    app.add_option_function<std::string>(
           name,
           [&target, name, least, most](const std::string& text) {
               std::uint64_t value = 0;
               if (!orbvex::ParseUnsigned(text, most, value) || value < least)
                   throw CLI::ValidationError(name, "must be a number from " + std::to_string(least) + " to " +
                                                        std::to_string(most) + ", got \"" + text + "\"");
               target = static_cast<T>(value);
           },
           help)
        ->type_name("N");
}

bool SaveImage(const orbvex::sim::VirtualReceiver& receiver, const std::string& path) {
    if (path.empty()) return true;
    const orbvex::FileSaveResult saved = orbvex::SaveWholeFile(path, receiver.Flash());
    if (saved.ok) return true;
    std::cerr << "orbvex_receiver: cannot save the flash: " << saved.error << '\n';
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    orbvex::sim::ReceiverConfig config;
    orbvex::sim::ReceiverFaults faults;
    ReceiverOptions o;
    std::string flash = "1M", tdoStuck = "none";
    bool lateAck = false;
    std::optional<std::uint32_t> jtiptr;

    CLI::App app{"Serves the virtual receiver over the remote bit-bang protocol (loopback TCP or a unix socket).",
                 "orbvex_receiver"};
    AddNumber(app, "--tcp", o.tcpPort, 0, 65535, "TCP port on 127.0.0.1 (default 0: any free port, printed at start)");
    app.add_option("--unix", o.unixPath, "Listen on this unix socket instead of TCP");
    AddNumber(app, "--idcode", config.idcode, 0, 0xFFFFFFFF, "JTAG IDCODE of the CPU (default 0x10006A5B)");
    app.add_option("--flash", flash, "Flash size: 1M (at 7FF00000, default) or 2M (at 7FE00000)");
    app.add_option("--flash-image", o.flashImage,
                   "Flash image file: loaded at start (erased flash if missing), saved after each client and on quit");
    AddNumber(app, "--reply-block", config.replyBlockLength, 4, 256, "Data bytes per block-read reply, 4..256 (default 256)");
    AddNumber(app, "--erase-busy", config.eraseBusyPolls, 0, 0x7FFFFFFF, "Command-word reads before an erase is done");
    AddNumber(app, "--program-busy", config.programBusyPolls, 0, 0x7FFFFFFF, "Command-word reads before a program command is done");
    AddNumber(app, "--busy-pulses", config.busyPulsesBeforeReply, 0, 0x7FFFFFFF, "0,1,0 pulses the DCU shows before each reply");
    app.add_flag("--late-ack", lateAck, "Acknowledge bytes only after their data clocks");
    app.add_option("--tdo-stuck", tdoStuck, "Fault: TDO stuck low or high (none, low, high)");
    app.add_flag("--dcu-silent", faults.dcuSilent, "Fault: the DCU never answers");
    app.add_flag("--halt-ignored", faults.haltIgnored, "Fault: the halt request does not take");
    app.add_flag("--trap-never-done", faults.trapNeverDone, "Fault: the trap program never reports done");
    app.add_option_function<std::string>(
           "--jtiptr",
           [&jtiptr](const std::string& text) {
               std::uint64_t value = 0;
               if (!orbvex::ParseUnsigned(text, 0xFFFFFFFF, value))
                   throw CLI::ValidationError("--jtiptr", "not a 32-bit number: " + text);
               jtiptr = static_cast<std::uint32_t>(value);
           },
           "Fault: what 0x3080 reads, whatever runs")
        ->type_name("N");
    AddNumber(app, "--no-ack-after", faults.noAckAfterBytes, 0, 0x7FFFFFFF, "Fault: stop acknowledging after this many bytes");
    app.add_flag("--once", o.once, "Exit after the first client has gone");
    app.add_flag("--quiet", o.quiet, "Print only the listening address");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    const std::optional<orbvex::FlashRange> chosenFlash = orbvex::ParseFlashChoice(flash);
    if (!chosenFlash) {
        std::cerr << "orbvex_receiver: --flash must be 1M or 2M\n";
        return 2;
    }
    config.flashSize = chosenFlash->size;
    config.ack = lateAck ? orbvex::sim::AckTiming::Late : orbvex::sim::AckTiming::Early;
    if (tdoStuck == "low") faults.tdoStuck = orbvex::sim::TdoStuck::Low;
    else if (tdoStuck == "high") faults.tdoStuck = orbvex::sim::TdoStuck::High;
    else if (tdoStuck != "none") {
        std::cerr << "orbvex_receiver: --tdo-stuck must be none, low or high\n";
        return 2;
    }
    faults.jtiptrValue = jtiptr;

    orbvex::sim::VirtualReceiver receiver(config);
    receiver.Faults() = faults;
    if (!o.flashImage.empty() && std::filesystem::exists(o.flashImage) && !receiver.LoadFlashImage(o.flashImage)) {
        std::cerr << "orbvex_receiver: cannot load the flash from " << o.flashImage << '\n';
        return 1;
    }

    orbvex::net::Endpoint where;
    where.isUnix = !o.unixPath.empty();
    where.path = o.unixPath;
    where.port = o.tcpPort;
    orbvex::net::Listener listener;
    std::string error;
    if (!listener.Open(where, error)) {
        std::cerr << "orbvex_receiver: cannot listen on " << where.Describe() << ": " << error << '\n';
        return 1;
    }
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
#if !defined(_WIN32)
    std::signal(SIGPIPE, SIG_IGN);
#endif
    std::cout << "listening on " << listener.Bound().Describe() << std::endl;

    bool saved = true;
    while (!g_stop) {
        orbvex::net::Socket client = listener.Accept(200);
        if (!client.Valid()) continue;
        if (!o.quiet) std::cout << "client connected" << std::endl;
        orbvex::RemoteBitbangInterpreter interpreter(receiver);
        bool quit = orbvex::ServeRemoteBitbang(client, interpreter, &g_stop);
        client.Close();
        if (!o.quiet) std::cout << (quit ? "client quit" : "client gone") << std::endl;
        saved = SaveImage(receiver, o.flashImage) && saved;
        if (o.once) break;
    }
    listener.Close();
    saved = SaveImage(receiver, o.flashImage) && saved;
    return saved ? 0 : 1;
}

// SPDX-License-Identifier: GPL-2.0-or-later
// orbvex_probe: serves the probe protocol (docs/PROBE.md) for a target on any cable in
// the table, so that a host across a network runs whole messages instead of paying a
// round trip per byte. One client at a time (another is told the probe is busy);
// loopback TCP unless told to open to the network, or a unix socket.
#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <csignal>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cables/cable.h"
#include "cables/cable_options.h"
#include "ops/link_session.h"
#include "probe/probe_server.h"
#include "remote/remote_bitbang_socket.h"
#include "util/flash_map.h"
#include "util/image_file.h"
#include "util/standard_streams.h"
#include "util/text.h"

namespace {

using Clock = std::chrono::steady_clock;
std::atomic<bool> g_stop{false};
extern "C" void OnStopSignal(int) { g_stop = true; }

constexpr int kPollMs = 50;
constexpr auto kForgetPartialRequest = std::chrono::milliseconds(100);
constexpr auto kSendGiveUp = std::chrono::seconds(10);

struct ProbeOptions {
    std::uint16_t tcpPort = 0;
    std::string listen, unixPath, flash = "1M", flashImage;
    bool quiet = false;
};

void CatchStopSignals() {
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
#if !defined(_WIN32)
    std::signal(SIGHUP, OnStopSignal);
    std::signal(SIGPIPE, SIG_IGN);
#endif
    orbvex::IgnoreFileSizeSignal();
}

// Where to listen, from --tcp, --listen or --unix; false with the refusal on stderr.
bool ChooseEndpoint(const ProbeOptions& o, orbvex::net::Endpoint& where, bool& onNetwork) {
    const int named = (o.tcpPort != 0) + !o.listen.empty() + !o.unixPath.empty();
    if (named > 1) {
        std::cerr << "orbvex_probe: --tcp, --listen and --unix exclude each other\n";
        return false;
    }
    onNetwork = !o.listen.empty();
    if (onNetwork) {
        const orbvex::Result<orbvex::net::Endpoint> listen = orbvex::net::ParseEndpoint(o.listen);
        if (!listen || listen->isUnix) {
            std::cerr << "orbvex_probe: --listen needs ADDRESS:PORT" << (listen.Error().empty() ? "" : ": " + listen.Error())
                      << '\n';
            return false;
        }
        where = listen.Value();
        return true;
    }
    where.isUnix = !o.unixPath.empty();
    where.path = o.unixPath;
    where.host = "127.0.0.1";
    where.port = o.tcpPort;
    return true;
}

// Sends every answer byte, giving up on a client that takes none for a while.
bool SendAnswers(orbvex::net::Socket& client, const std::vector<std::uint8_t>& bytes) {
    std::size_t sent = 0;
    const auto giveUp = Clock::now() + kSendGiveUp;
    while (sent < bytes.size()) {
        const long n = client.SendSome(reinterpret_cast<const char*>(bytes.data()) + sent, bytes.size() - sent);
        if (n < 0 || g_stop || Clock::now() > giveUp) return false;
        if (n == 0) client.WaitWritable(kPollMs);
        sent += static_cast<std::size_t>(n > 0 ? n : 0);
    }
    return true;
}

void Say(const ProbeOptions& o, const std::string& line) {
    if (!o.quiet) std::cout << line << std::endl;
}

// Serves clients until a stop signal.
void Serve(orbvex::net::Listener& listener, orbvex::probe::ProbeServer& server, const ProbeOptions& o) {
    orbvex::net::Socket client;
    auto lastByte = Clock::now();
    std::vector<std::uint8_t> answers;
    char buffer[4096];
    auto drop = [&](const char* why) {
        client.Close();
        Say(o, std::string("client gone (") + why + ")");
    };
    while (!g_stop) {
        orbvex::net::PollSet poll;
        const std::size_t listening = poll.Add(listener);
        const std::size_t talking = client.Valid() ? poll.Add(client, true, false) : 0;
        poll.Wait(kPollMs);
        if (poll.Readable(listening)) {
            orbvex::net::Socket other = listener.Accept(0);
            if (other.Valid() && client.Valid()) {
                const std::vector<std::uint8_t> busy = orbvex::probe::ProbeServer::BusyAnswer();
                other.SendAll(reinterpret_cast<const char*>(busy.data()), busy.size());
                other.ShutdownSend();
                Say(o, "another client refused: busy");
            } else if (other.Valid()) {
                client = std::move(other);
                client.SetNonBlocking();
                server.NewClient();
                Say(o, "client connected");
            }
        }
        if (!client.Valid()) continue;
        if (client.Valid() && talking == 1 && poll.Readable(talking)) {
            const long n = client.Receive(buffer, sizeof buffer);
            if (n == 0 || (n < 0 && !client.TimedOut())) {
                drop(n == 0 ? "closed" : "connection broke");
                continue;
            }
            if (n > 0) {
                lastByte = Clock::now();
                answers.clear();
                const bool keep = server.Take(reinterpret_cast<const std::uint8_t*>(buffer), static_cast<std::size_t>(n), answers);
                if (!SendAnswers(client, answers)) drop("takes no answers");
                else if (!keep) drop("sent a damaged request");
                continue;
            }
        }
        // A request left unfinished is forgotten: the next bytes begin a new one.
        if (server.MidRequest() && Clock::now() - lastByte > kForgetPartialRequest) server.NewClient();
    }
}

}  // namespace

int main(int argc, char** argv) {
    orbvex::OpenClosedStandardStreams();
    ProbeOptions o;
    CLI::App app{"Serves a target on a cable to a host over the probe protocol (loopback TCP, the network or a unix socket).",
                 "orbvex_probe"};
    app.add_option("--tcp", o.tcpPort, "TCP port on 127.0.0.1 (default 0: any free port, printed at start)");
    app.add_option("--listen", o.listen, "Open to the network on ADDRESS:PORT (0.0.0.0:PORT for every interface)")
        ->type_name("ADDRESS:PORT");
    app.add_option("--unix", o.unixPath, "Listen on this unix socket instead of TCP")->type_name("PATH");
    app.add_option("--flash", o.flash, "With --virtual: flash size, 1M (default) or 2M");
    app.add_option("--flash-image", o.flashImage, "With --virtual: the flash kept in this file (loaded at start, saved at the end)");
    app.add_flag("--quiet", o.quiet, "Print only the listening address");
    orbvex::cables::CableOptions cableOptions(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    orbvex::Result<std::unique_ptr<orbvex::cables::CableChoice>> chosen = cableOptions.Choose();
    if (!chosen) {
        std::cerr << "orbvex_probe: " << chosen.Error() << '\n';
        return 2;
    }
    std::unique_ptr<orbvex::cables::CableChoice> choice = std::move(chosen).Value();
    if (!choice) choice = orbvex::cables::DefaultPortCable();
    const std::optional<orbvex::FlashRange> flash = orbvex::ParseFlashChoice(o.flash);
    if (!flash) {
        std::cerr << "orbvex_probe: --flash must be 1M or 2M\n";
        return 2;
    }
    if (!o.flashImage.empty() && !choice->InProcess()) {
        std::cerr << "orbvex_probe: --flash-image needs --virtual\n";
        return 2;
    }
    orbvex::net::Endpoint where;
    bool onNetwork = false;
    if (!ChooseEndpoint(o, where, onNetwork)) return 2;

    CatchStopSignals();
    orbvex::cables::CableSettings settings;
    settings.flashSize = flash->size;
    if (!o.flashImage.empty()) settings.flashImage = o.flashImage;
    settings.giveUp = [] { return g_stop.load(); };
    settings.note = [&o](const std::string& line) { Say(o, line); };
    orbvex::Result<std::unique_ptr<orbvex::cables::Cable>> opened = choice->Open(settings);
    if (!opened) {
        std::cerr << "orbvex_probe: " << opened.Error() << '\n';
        return 1;
    }
    std::unique_ptr<orbvex::cables::Cable> cable = std::move(opened).Value();
    std::string lostLine;
    cable->ReportLossTo([&lostLine](const std::string& line) { lostLine = line; });

    orbvex::net::Listener listener;
    if (const orbvex::Status listening = listener.Open(where, onNetwork); !listening) {
        std::cerr << "orbvex_probe: cannot listen on " << where.Describe() << ": " << listening.Error() << '\n';
        return 1;
    }
    int status = 0;
    {
        orbvex::LinkSession session(cable->Access(), cable->Backend(), cable->LptBase());
        if (!session.PortAvailable()) {
            std::cerr << "orbvex_probe: the cable's port cannot be driven: " << session.FailureReason() << '\n';
            return 1;
        }
        orbvex::probe::Abilities abilities;
        abilities.window = 8;
        abilities.receiveBuffer = 8192;
        abilities.maxRequestBody = 1024;
        abilities.maxRawClocks = 2048;
        const std::string cableName = cableOptions.Named() ? cableOptions.Named()->option : "--port";
        abilities.name = "orbvex_probe " + cableName;
        orbvex::probe::ProbeServer server(orbvex::probe::EngineState::Current(), abilities,
                                          [&cable, &lostLine]() -> orbvex::Status {
                                              if (!cable->Lost()) return {};
                                              return orbvex::Failure(lostLine);
                                          });
        if (onNetwork)
            std::cerr << "orbvex_probe: open to the network on " << listener.Bound().Describe()
                      << ": anyone who reaches it can read and write the target's flash\n";
        std::cout << "listening on " << listener.Bound().Describe() << std::endl;
        Serve(listener, server, o);
        listener.Close();
    }
    if (const orbvex::Status finished = cable->Finish(); !finished) {
        std::cerr << "orbvex_probe: " << (finished.Error().empty() ? "the cable was lost" : finished.Error()) << '\n';
        status = 1;
    }
    Say(o, "stopped");
    return status;
}

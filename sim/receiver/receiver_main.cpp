// SPDX-License-Identifier: GPL-2.0-or-later
// orbvex_receiver: the virtual receiver served over the remote bit-bang protocol, so
// that any client of that protocol (orbvex_cli --remote, a JTAG debugger) can drive it
// as if it were a receiver on a cable. One client at a time (others are told it is
// busy); loopback TCP or a unix socket.
#include <CLI/CLI.hpp>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "remote/remote_bitbang_server.h"
#include "remote/remote_bitbang_socket.h"
#include "sim/virtual_receiver.h"
#include "util/flash_map.h"
#include "util/image_file.h"
#include "util/standard_streams.h"
#include "util/text.h"

namespace {

std::atomic<bool> g_stop{false};

extern "C" void OnStopSignal(int) { g_stop = true; }

// Every setting as given on the command line; Validate turns it into the receiver's
// configuration.
struct ReceiverOptions {
    std::uint16_t tcpPort = 0;
    std::string unixPath;
    std::string flashImage;
    int idleTimeoutSeconds = 60;
    bool once = false;
    bool quiet = false;
    std::string flash = "1M";
    std::string tdoStuck = "none";
    std::string flashChip, stuckBit;
    bool flashGiven = false;
    std::uint64_t eraseBusy = 0;
    bool eraseBusyGiven = false;
    bool lateAck = false;
    int replyOutsideFlash = 0;
    bool replyOutsideFlashGiven = false;
    std::optional<std::uint32_t> jtiptr;
    orbvex::sim::ReceiverConfig config;
    orbvex::sim::ReceiverFaults faults;
};

// Adds an option that takes a number in decimal or 0x-hexadecimal, from least to most;
// anything else is refused rather than wrapped or clamped.
template <typename T>
CLI::Option* AddNumber(CLI::App& app, const std::string& name, T& target, std::uint64_t least, std::uint64_t most,
                       const std::string& help) {
    return app.add_option_function<std::string>(
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

constexpr const char* kCorruptReplyHelp =
    "Fault: invert bytes the DCU sends (its replies, length bytes included, counted from 0): at:N the N-th, "
    "every:N every N-th, random:N[:SEED] each with a chance of 1 in N (seed 1 by default)";

// "at:N", "every:N" or "random:N[:SEED]" into the fault switches; false when it is none.
bool ParseCorruptReply(const std::string& text, orbvex::sim::ReceiverFaults& faults) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    const std::string kind = text.substr(0, colon);
    std::string number = text.substr(colon + 1), seed;
    const bool seeded = kind == "random" && number.find(':') != std::string::npos;
    if (seeded) {
        seed = number.substr(number.find(':') + 1);
        number.resize(number.find(':'));
    }
    std::uint64_t n = 0, s = 1;
    constexpr std::uint64_t kMost = 0x7FFFFFFF;
    if (!orbvex::ParseUnsigned(number, kMost, n)) return false;
    if (seeded && !orbvex::ParseUnsigned(seed, ~std::uint64_t{0}, s)) return false;  // "random:5:" names no seed
    if (kind == "at") faults.corruptReplyByte = static_cast<long>(n);
    else if (kind == "every" && n > 0) faults.corruptReplyEvery = static_cast<long>(n);
    else if (kind == "random" && n > 0) {
        faults.corruptReplyOneIn = static_cast<long>(n);
        faults.corruptReplySeed = s;
    } else return false;
    return true;
}

void TakeCorruptReply(const std::string& text, orbvex::sim::ReceiverFaults& faults) {
    if (!ParseCorruptReply(text, faults))
        throw CLI::ValidationError("--corrupt-reply",
                                   "must be at:N, every:N or random:N[:SEED] with N from 1 "
                                   "(0 for at:) to 2147483647, got \"" +
                                       text + "\"");
}

std::uint32_t ParseJtiptr(const std::string& text) {
    std::uint64_t value = 0;
    if (!orbvex::ParseUnsigned(text, 0xFFFFFFFF, value)) throw CLI::ValidationError("--jtiptr", "not a 32-bit number: " + text);
    return static_cast<std::uint32_t>(value);
}

// A size as --flash writes it (1M, 2M), a part below a megabyte in K.
std::string SizeText(std::uint32_t bytes) {
    return bytes % 0x100000 == 0 ? std::to_string(bytes >> 20) + "M" : std::to_string(bytes >> 10) + "K";
}

// The chip named by --flash-chip, with --flash only as a check; false with the reason on
// stderr when they disagree or the name is unknown.
bool ChooseFlashChip(const std::string& name, bool sizeGiven, orbvex::sim::ReceiverConfig& config) {
    const orbvex::sim::FlashModel* model = orbvex::sim::FindFlashModel(name);
    if (model == nullptr) {
        std::cerr << "orbvex_receiver: --flash-chip " << name << " is no part this receiver knows (see --help)\n";
        return false;
    }
    if (sizeGiven && model->size != config.flashSize) {
        std::cerr << "orbvex_receiver: --flash-chip " << model->name << " holds " << SizeText(model->size)
                  << ", but --flash says " << SizeText(config.flashSize) << "\n";
        return false;
    }
    config.flashChip = model->name;
    config.flashSize = model->size;
    return true;
}

// "ADDRESS:BIT" inside the flash window into a stuck cell bit.
bool ParseStuckBit(const std::string& text, std::uint32_t flashSize, orbvex::sim::StuckBit& stuck) {
    const std::size_t colon = text.find(':');
    std::uint64_t address = 0, bit = 0;
    if (colon == std::string::npos || !orbvex::ParseUnsigned(text.substr(0, colon), 0xFFFFFFFF, address) ||
        !orbvex::ParseUnsigned(text.substr(colon + 1), 7, bit))
        return false;
    const std::uint32_t base = orbvex::sim::NorFlash::kWindowEnd - flashSize;
    if (address < base || address >= orbvex::sim::NorFlash::kWindowEnd) return false;
    stuck = {static_cast<std::uint32_t>(address - base), static_cast<unsigned>(bit)};
    return true;
}

// What the client did to the flash that the chip would not take as meant; a flood (a
// read of the window before the memory interface is set up) is cut short.
void ReportFlashViolations(orbvex::sim::VirtualReceiver& receiver) {
    constexpr std::size_t kShown = 16;
    const auto& violations = receiver.FlashViolations();
    for (std::size_t i = 0; i < violations.size() && i < kShown; ++i) std::cout << Describe(violations[i]) << '\n';
    if (violations.size() > kShown) {
        const bool cut = violations.size() >= orbvex::sim::NorFlash::kViolationsKept;
        std::cout << "flash: " << (cut ? "at least " : "") << violations.size() - kShown << " more violations\n";
    }
    std::cout.flush();
    receiver.ClearFlashViolations();
}

// Refused at start rather than after a session whose work it would lose.
bool SaveTargetUsable(const std::string& path) {
    const orbvex::Status usable = orbvex::CheckSaveTarget(path);
    if (!usable) std::cerr << "orbvex_receiver: cannot save the flash: " << usable.Error() << '\n';
    return usable.Ok();
}

// The flash from the image file, or erased flash when there is no file yet (in a folder
// that exists, so that it can be saved there). False, with the reason on stderr, for
// anything that cannot be a flash image.
bool LoadFlash(orbvex::sim::VirtualReceiver& receiver, const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        if (ec) {
            std::cerr << "orbvex_receiver: cannot use the flash image " << path << ": " << ec.message() << '\n';
            return false;
        }
        const fs::path folder = fs::path(path).parent_path().empty() ? fs::path(".") : fs::path(path).parent_path();
        if (!fs::is_directory(folder, ec)) {
            std::cerr << "orbvex_receiver: cannot save the flash image as " << path << ": " << folder.string()
                      << " is not a folder\n";
            return false;
        }
        return SaveTargetUsable(path);
    }
    std::vector<std::uint8_t> image;
    const std::uint32_t size = receiver.Config().flashSize;
    const orbvex::FileReadResult read = orbvex::ReadWholeFile(path, size, image);
    if (read.status == orbvex::FileReadStatus::TooLarge) {
        std::cerr << "orbvex_receiver: the flash image " << path << " holds " << read.size << " bytes, more than the "
                  << (size >> 20) << "M flash\n";
        return false;
    }
    if (!read.Ok()) {
        std::cerr << "orbvex_receiver: cannot load the flash from " << path << ": " << read.reason << '\n';
        return false;
    }
    // A short image would leave the rest of the flash erased and be saved back larger.
    if (read.size != size) {
        std::cerr << "orbvex_receiver: the flash image " << path << " holds " << read.size << " bytes, not the "
                  << size << " of the " << (size >> 20) << "M flash\n";
        return false;
    }
    receiver.SetFlash(image);
    return SaveTargetUsable(path);
}

// What the CPU met since the last report: an instruction it does not know, or a value the
// documents leave undefined put to use.
void ReportCpu(const orbvex::sim::VirtualReceiver& receiver, std::size_t& reported) {
    static const char* const kWhat[] = {"unknown instruction, CPU stopped", "undefined address",
                                        "undefined jump condition", "undefined gcall target",
                                        "undefined shift count", "undefined data stored outside RAM at",
                                        "shift by 32 or more", "misaligned access at"};
    const auto& records = receiver.CpuRecords();
    for (; reported < records.size(); ++reported) {
        const orbvex::sim::CpuRecord& r = records[reported];
        char line[96];
        std::snprintf(line, sizeof line, "orbvex_receiver: CPU at %08X: %s %08X\n", static_cast<unsigned>(r.iptr),
                      kWhat[static_cast<int>(r.event)], static_cast<unsigned>(r.value));
        std::cerr << line;
    }
}

bool SaveImage(const orbvex::sim::VirtualReceiver& receiver, const std::string& path) {
    if (path.empty()) return true;
    const orbvex::Status saved = orbvex::SaveWholeFile(path, receiver.Flash());
    if (saved) return true;
    std::cerr << "orbvex_receiver: cannot save the flash: " << saved.Error() << '\n';
    return false;
}

// A part as --help lists it: its name, and what sets it apart from the plain parts.
std::string Listed(const orbvex::sim::FlashModel& model) {
    const char* quirk = nullptr;
    if (model.lateLowBits) quirk = "DQ0-DQ6 valid a read after DQ7";
    else if (model.nonvolatileLocks) quirk = "lock bits set, 60/D0 clears them all";
    else if (model.lockedAtPowerUp) quirk = "all blocks locked at power-up";
    else if (model.commandSet == orbvex::sim::CommandSet::Sst) quirk = "unlock at 5555/2AAA, CFI command set 0701";
    return quirk ? model.name + " (" + quirk + ")" : model.name;
}

std::string FlashChipNames() {
    std::string names;
    for (const auto& model : orbvex::sim::FlashModels()) names += (names.empty() ? "" : ", ") + Listed(model);
    return names;
}

// One line per option; the checks that need more than one option are in Validate.
void DeclareOptions(CLI::App& app, ReceiverOptions& o) {
    orbvex::sim::ReceiverConfig& config = o.config;
    orbvex::sim::ReceiverFaults& faults = o.faults;
    AddNumber(app, "--tcp", o.tcpPort, 0, 65535, "TCP port on 127.0.0.1 (default 0: any free port, printed at start)");
    app.add_option("--unix", o.unixPath, "Listen on this unix socket instead of TCP")
        ->check([](const std::string& path) { return path.empty() ? std::string("needs a socket path") : std::string(); });
    AddNumber(app, "--idcode", config.idcode, 0, 0xFFFFFFFF, "JTAG IDCODE of the CPU (default 0x10006A5B)");
    app.add_option("--flash", o.flash, "Flash size: 1M (at 7FF00000, default) or 2M (at 7FE00000)")
        ->each([&o](const std::string&) { o.flashGiven = true; });
    app.add_option("--flash-chip", o.flashChip,
                   "Flash part, which also sets the size: " + FlashChipNames() +
                       " (default: 29LV800B for 1M, 29LV160B for 2M)")
        ->type_name("NAME");
    app.add_option("--flash-stuck-bit", o.stuckBit, "Fault: a flash cell bit that never programs (ADDRESS:BIT, BIT 0..7)")
        ->type_name("ADDRESS:BIT");
    app.add_flag("--flash-never-ready", faults.flash.neverReady, "Fault: the flash never finishes a program or erase");
    app.add_flag("--flash-unknown", faults.flash.unknownChip, "Fault: the flash answers with IDs nobody knows and no CFI");
    app.add_option("--flash-image", o.flashImage,
                   "Flash image file: loaded at start (erased flash if missing), saved after each client and on quit");
    AddNumber(app, "--reply-block", config.replyBlockLength, 4, 256,
              "Data bytes per block-read reply, 4..256 in steps of 4 (default 256)");
    AddNumber(app, "--reply-outside-flash", o.replyOutsideFlash, 4, 256,
              "Data bytes per reply to reads outside the flash window, 4..256 in steps of 4 "
              "(default: as --reply-block; 4 makes word reads cheap)")
        ->each([&o](const std::string&) { o.replyOutsideFlashGiven = true; });
    AddNumber(app, "--erase-busy", o.eraseBusy, 0, 0x7FFFFFFF,
              "CPU instructions the flash chip stays busy per erase (a sector, a block or the whole chip)")
        ->each([&o](const std::string&) { o.eraseBusyGiven = true; });
    AddNumber(app, "--program-busy", config.flashTiming.wordProgram, 0, 0x7FFFFFFF,
              "CPU instructions the flash chip stays busy per programmed word");
    AddNumber(app, "--cpu-rate", config.cpuRate, 1, 1000000, "CPU instructions per TCK clock (default 20)");
    AddNumber(app, "--busy-pulses", config.busyPulsesBeforeReply, 0, orbvex::sim::kMostBusyPulses, "0,1,0 pulses the DCU shows before each reply");
    app.add_flag("--late-ack", o.lateAck, "Acknowledge bytes only after their data clocks");
    app.add_option("--tdo-stuck", o.tdoStuck, "Fault: TDO stuck low or high (none, low, high)");
    app.add_flag("--dcu-silent", faults.dcuSilent, "Fault: the DCU never answers");
    app.add_flag("--halt-ignored", faults.haltIgnored, "Fault: the halt request does not take");
    app.add_flag("--trap-never-done", faults.flash.neverReady,
                 "Fault: the flash chip never finishes a program or erase, so the trap never reports done");
    app.add_option_function<std::string>(
           "--jtiptr", [&o](const std::string& text) { o.jtiptr = ParseJtiptr(text); },
           "Fault: what 0x3080 reads, whatever runs")
        ->type_name("N");
    AddNumber(app, "--no-ack-after", faults.noAckAfterBytes, 0, 0x7FFFFFFF, "Fault: stop acknowledging after this many bytes");
    AddNumber(app, "--short-reply", faults.shortReplyAfter, 0, 255,
              "Fault: a block-read reply ends after N data bytes, the DCU falling silent (replies of N or fewer "
              "bytes stay whole)");
    app.add_option_function<std::string>(
           "--corrupt-reply", [&faults](const std::string& text) { TakeCorruptReply(text, faults); },
           kCorruptReplyHelp)
        ->type_name("SPEC");
    AddNumber(app, "--idle-timeout", o.idleTimeoutSeconds, 1, 86400,
              "Drop a client that sends nothing, or takes none of its answers, for this many seconds (default 60)");
    app.add_flag("--once", o.once, "Exit after the first client has gone");
    app.add_flag("--quiet", o.quiet, "Print only the listening address");
}

// The checks no single option can make, and the choices that are words on the command
// line but switches in the receiver. False, with the reason on stderr, on a refusal.
bool Validate(ReceiverOptions& o) {
    if (o.config.replyBlockLength % 4 != 0 || o.replyOutsideFlash % 4 != 0) {
        std::cerr << "orbvex_receiver: --reply-block and --reply-outside-flash take multiples of 4\n";
        return false;
    }
    if (o.replyOutsideFlashGiven) o.config.replyLengthOutsideFlash = o.replyOutsideFlash;
    const std::optional<orbvex::FlashRange> chosenFlash = orbvex::ParseFlashChoice(o.flash);
    if (!chosenFlash) {
        std::cerr << "orbvex_receiver: --flash must be 1M or 2M\n";
        return false;
    }
    o.config.flashSize = chosenFlash->size;
    if (o.eraseBusyGiven) o.config.flashTiming.blockErase = o.config.flashTiming.chipErase = o.eraseBusy;
    if (!o.flashChip.empty() && !ChooseFlashChip(o.flashChip, o.flashGiven, o.config)) return false;
    if (!o.stuckBit.empty()) {
        orbvex::sim::StuckBit stuck{};
        if (!ParseStuckBit(o.stuckBit, o.config.flashSize, stuck)) {
            std::cerr << "orbvex_receiver: --flash-stuck-bit must be ADDRESS:BIT inside the flash, BIT 0..7\n";
            return false;
        }
        o.faults.flash.stuckBit = stuck;
    }
    o.config.ack = o.lateAck ? orbvex::sim::AckTiming::Late : orbvex::sim::AckTiming::Early;
    if (o.tdoStuck == "low") o.faults.tdoStuck = orbvex::sim::TdoStuck::Low;
    else if (o.tdoStuck == "high") o.faults.tdoStuck = orbvex::sim::TdoStuck::High;
    else if (o.tdoStuck != "none") {
        std::cerr << "orbvex_receiver: --tdo-stuck must be none, low or high\n";
        return false;
    }
    o.faults.jtiptrValue = o.jtiptr;
    return true;
}

void CatchStopSignals() {
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
#if !defined(_WIN32)
    std::signal(SIGHUP, OnStopSignal);  // a closed terminal ends it like any stop: with the image saved
    std::signal(SIGPIPE, SIG_IGN);
#endif
    orbvex::IgnoreFileSizeSignal();
}

// Serves clients until a stop signal (or the first client's end with --once), saving the
// image after each client and at the end. The exit status: 0, or 1 when a save failed.
int Serve(orbvex::net::Listener& listener, orbvex::sim::VirtualReceiver& receiver, const ReceiverOptions& o) {
    orbvex::ServerLimits limits;
    limits.idleTimeoutMs = o.idleTimeoutSeconds * 1000;
    bool saved = true;
    std::size_t cpuReported = 0;
    orbvex::ServeRemoteBitbang(
        listener, receiver, &g_stop,
        [&](orbvex::ServerEvent event) {
            if (!o.quiet) std::cout << orbvex::Describe(event) << std::endl;
            if (!o.quiet && orbvex::ClientGone(event)) ReportFlashViolations(receiver);
            if (!orbvex::ClientGone(event) || event == orbvex::ServerEvent::Stopped) return true;
            ReportCpu(receiver, cpuReported);
            saved = SaveImage(receiver, o.flashImage) && saved;
            return !o.once;
        },
        limits);
    listener.Close();
    saved = SaveImage(receiver, o.flashImage) && saved;
    return saved ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    orbvex::OpenClosedStandardStreams();
    ReceiverOptions o;
    CLI::App app{"Serves the virtual receiver over the remote bit-bang protocol (loopback TCP or a unix socket).",
                 "orbvex_receiver"};
    DeclareOptions(app, o);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    if (!Validate(o)) return 2;

    orbvex::sim::VirtualReceiver receiver(o.config);
    receiver.Faults() = o.faults;
    // An image that cannot be used is a bad option, as it is to the tool and the windows.
    if (!o.flashImage.empty() && !LoadFlash(receiver, o.flashImage)) return 2;

    orbvex::net::Endpoint where;
    where.isUnix = !o.unixPath.empty();
    where.path = o.unixPath;
    where.host = "127.0.0.1";  // where the listener binds: loopback only
    where.port = o.tcpPort;
    orbvex::net::Listener listener;
    if (const orbvex::Status listening = listener.Open(where); !listening) {
        std::cerr << "orbvex_receiver: cannot listen on " << where.Describe() << ": " << listening.Error() << '\n';
        return 1;
    }
    CatchStopSignals();
    std::cout << "listening on " << listener.Bound().Describe() << std::endl;
    return Serve(listener, receiver, o);
}

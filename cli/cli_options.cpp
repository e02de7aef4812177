#include "cli/cli_options.h"

#include <CLI/CLI.hpp>

#include <sstream>
#include <utility>
#include <vector>

#include "ops/link_session.h"
#include "util/flash_map.h"
#include "util/text.h"

namespace orbvex::cli {
namespace {

constexpr const char* kDescription =
    "Erases, writes, reads and verifies the flash of a receiver through the JTAG port of its CPU.\n"
    "Commands run in the order given, on one connection, and stop at the first that fails:\n"
    "  start         connect: halt the CPU, install the trap program, set up the memory interface\n"
    "  erase         erase the whole flash\n"
    "  write FILE    program a ROM image from the start of the flash (or from --offset, erasing\n"
    "                only the sectors it covers, which must start and end on sector boundaries)\n"
    "  read FILE     save the flash (or --offset/--length of it) to FILE\n"
    "  verify FILE   compare FILE with the flash from --offset on (for --length, or the file's size)\n"
    "  info          the trap program's version and the flash chip it finds (maker, part, size, sectors)\n"
    "A read is made --passes times (2 unless told) and saved only when the passes agree; every\n"
    "write is read back and compared with its file unless --no-verify is given. With a trap\n"
    "program that checksums the flash, a read is one pass checked block by block by its\n"
    "checksums (unless --passes is given), and verify reads only the blocks they find differing.\n"
    "Example: orbvex_cli --virtual --flash 2M start erase write image.rom verify image.rom\n"
    "On Linux: --port lpt1 needs root (or cap_sys_rawio) and falls back to /dev/parport0 without it;\n"
    "--port /dev/parportN needs only group lp; --gpio drives the cable from GPIO lines; --ftdi from an\n"
    "FTDI USB chip (FT232H, FT2232H, FT4232H, FT2232C/D in MPSSE mode, FT232R in bit-bang mode).\n"
    "The log goes to stdout; errors and the progress bar go to stderr.\n"
    "Exit status: 0 when every command succeeded, 1 when one failed, 2 for bad arguments,\n"
    "130 when interrupted (Ctrl-C or SIGTERM: the running command stops at its next safe point;\n"
    "a second Ctrl-C ends the program at once).";

std::string Bad(const std::string& what) { return "orbvex_cli: " + what + "\nRun with --help for more information."; }

// Turns the positional words into commands; false and a reason when they do not read.
bool ParseCommands(const std::vector<std::string>& words, std::vector<Command>& commands, std::string& error) {
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string word = Lower(words[i]);
        if (word == "start") {
            commands.push_back({CommandKind::Start, {}});
        } else if (word == "erase") {
            commands.push_back({CommandKind::Erase, {}});
        } else if (word == "info") {
            commands.push_back({CommandKind::Info, {}});
        } else if (word == "write" || word == "read" || word == "verify") {
            if (i + 1 >= words.size()) {
                error = "\"" + word + "\" needs a FILE";
                return false;
            }
            CommandKind kind = word == "write" ? CommandKind::Write : word == "read" ? CommandKind::Read : CommandKind::Verify;
            if (words[i + 1].empty()) {
                error = "\"" + word + "\" needs a FILE, got an empty name";
                return false;
            }
            commands.push_back({kind, words[++i]});
        } else {
            error = "unknown command \"" + words[i] + "\" (commands: start, erase, write FILE, read FILE, verify FILE, info)";
            return false;
        }
    }
    if (commands.empty()) {
        error = "no command given (commands: start, erase, write FILE, read FILE, verify FILE, info)";
        return false;
    }
    return true;
}

}  // namespace

bool ParsePortChoice(const std::string& text, std::uint16_t& base) {
    const std::string word = Lower(text);
    if (word == "lpt1" || word == "lpt2") {
        base = word == "lpt1" ? kLpt1Base : kLpt2Base;
        return true;
    }
    std::uint64_t value = 0;
    // The data register, status and the extended registers at +0x400 must all fit in 16 bits.
    if (!ParseUnsigned(text, 0xFFFF - 0x402, value) || value == 0) return false;
    base = static_cast<std::uint16_t>(value);
    return true;
}

ParseOutcome ParseCommandLine(int argc, const char* const* argv) {
    ParseOutcome outcome;
    CliOptions& o = outcome.options;

    CLI::App app{kDescription, "orbvex_cli"};
    bool useVirtual = false;
    std::string port, remote, gpio, ftdi, trap, flash = "1M", virtualFlash, offset, length;
    std::vector<std::string> words;
    auto* virtualOpt = app.add_flag("--virtual", useVirtual, "Work on the built-in virtual receiver instead of a cable");
    auto* portOpt = app.add_option("--port", port,
                                   "Parallel port: lpt1 (0x378, default), lpt2 (0x278), a base address such as 0xD010, "
                                   "or a ppdev device such as /dev/parport0 (Linux, group lp)");
    auto* gpioOpt = app.add_option("--gpio", gpio,
                                   "GPIO lines as the cable (Linux): CHIP:tck=N,tms=N,tdi=N,tdo=N[,rst=N], "
                                   "e.g. gpiochip0:tck=11,tms=25,tdi=10,tdo=9");
    auto* ftdiOpt = app.add_option("--ftdi", ftdi,
                                   "An FTDI USB chip as the cable (Linux): [VID:PID][,serial=S][,interface=A|B|C|D]"
                                   "[,freq=HZ], or auto for the only one plugged in; e.g. 0403:6014,freq=6M");
    auto* remoteOpt = app.add_option("--remote", remote, "Drive a remote bit-bang server: HOST:PORT or unix:PATH");
    std::string remoteTimeout;
    auto* remoteTimeoutOpt = app.add_option(
        "--remote-timeout", remoteTimeout,
        "With --remote: give up when an answer takes this many seconds, or a stretch of that long brings fewer "
        "than 100 answers (default 10)");
    auto* trapOpt = app.add_option("--trap", trap,
                                   "Target-side trap program (default: trap.bin beside this program, else in "
                                   "~/.local/share/orbvex_up/, else in ../share/orbvex_up/ from this program's "
                                   "folder)");
    app.add_option("--flash", flash, "Flash size: 1M (at 7FF00000, default) or 2M (at 7FE00000)");
    auto* vflashOpt = app.add_option("--virtual-flash", virtualFlash,
                                     "With --virtual: flash image file loaded at start (erased flash if missing) and saved at exit");
    auto* offsetOpt = app.add_option("--offset", offset, "read/verify: start this many bytes into the flash (0x.. or decimal, K/M)");
    auto* lengthOpt = app.add_option("--length", length, "read/verify: this many bytes (0x.. or decimal, K/M)");
    std::string passes;
    auto* passesOpt = app.add_option("--passes", passes, "read: read the flash this many times, 1 to 9 (default 2)");
    bool noVerify = false;
    app.add_flag("--no-verify", noVerify, "write: do not read the flash back and compare it with the file");
    app.add_flag("--force", o.force, "erase/write: go on when the trap program finds a chip of another size than --flash");
    app.add_option("commands", words, "start | erase | write FILE | read FILE | verify FILE | info, several in a row");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        outcome.message = app.help();
        return outcome;
    } catch (const CLI::ParseError& e) {
        outcome.exitCode = kExitBadArguments;
        outcome.message = Bad(e.what());
        return outcome;
    }

    auto fail = [&](const std::string& what) {
        outcome.exitCode = kExitBadArguments;
        outcome.message = Bad(what);
        return outcome;
    };

    // The cables a run can drive, one at a time; a new kind of cable joins this list.
    const std::pair<const char*, CLI::Option*> cables[] = {
        {"--virtual", virtualOpt}, {"--port", portOpt}, {"--gpio", gpioOpt},
        {"--remote", remoteOpt},   {"--ftdi", ftdiOpt}};
    std::vector<std::string> named;
    for (const auto& [name, option] : cables)
        if (option->count()) named.push_back(name);
    if (named.size() > 1) return fail(named[0] + " and " + named[1] + " exclude each other: a run drives one cable");
    const bool onDevice = portOpt->count() && port.find('/') != std::string::npos;
    if (vflashOpt->count() && !useVirtual) return fail("--virtual-flash needs --virtual");

    o.target = useVirtual            ? TargetKind::Virtual
               : remoteOpt->count()  ? TargetKind::Remote
               : gpioOpt->count()    ? TargetKind::Gpio
               : ftdiOpt->count()    ? TargetKind::Ftdi
               : onDevice            ? TargetKind::Ppdev
                                     : TargetKind::Hardware;
    if (onDevice) {
        o.ppdevDevice = port;
    } else if (portOpt->count() && !ParsePortChoice(port, o.lptBase)) {
        return fail("--port must be lpt1, lpt2, a base address such as 0x378 or a device such as /dev/parport0, got \"" +
                    port + "\"");
    }
    if (gpioOpt->count()) {
        std::string error;
        const std::optional<GpioWiring> spec = ParseGpioWiring(gpio, error);
        if (!spec) return fail("--gpio: " + error);
        o.gpio = *spec;
    }
    if (ftdiOpt->count()) {
        std::string error;
        const std::string word = Lower(ftdi);
        if (word == "start" || word == "erase" || word == "write" || word == "read" || word == "verify" || word == "info")
            return fail("--ftdi needs a cable choice before the commands: VID:PID, serial=S, ... or auto");
        const std::optional<FtdiSelection> selection = ParseFtdiSelection(ftdi, error);
        if (!selection) return fail("--ftdi: " + error);
        o.ftdi = *selection;
    }
    if (remoteOpt->count()) {
        std::string error;
        if (!net::ParseEndpoint(remote, o.remote, error)) return fail("--remote: " + error);
    }
    if (remoteTimeoutOpt->count()) {
        constexpr std::uint64_t kLongestTimeout = 86400;
        std::uint64_t seconds = 0;
        if (!remoteOpt->count()) return fail("--remote-timeout needs --remote");
        if (!ParseUnsigned(remoteTimeout, kLongestTimeout, seconds) || seconds == 0)
            return fail("--remote-timeout must be a number of seconds from 1 to 86400, got \"" + remoteTimeout + "\"");
        o.remoteTimeoutSeconds = static_cast<int>(seconds);
    }
    const std::optional<FlashRange> chosenFlash = ParseFlashChoice(flash);
    if (!chosenFlash) return fail("--flash must be 1M or 2M, got \"" + flash + "\"");
    o.flash2M = *chosenFlash == kFlash2M;
    if (trapOpt->count() && trap.empty()) return fail("--trap needs a file name, got an empty one");
    if (vflashOpt->count() && virtualFlash.empty()) return fail("--virtual-flash needs a file name, got an empty one");
    if (trapOpt->count()) o.trapFile = trap;
    if (vflashOpt->count()) o.virtualFlashFile = virtualFlash;
    std::uint64_t passCount = 0;
    if (passesOpt->count() && (!ParseUnsigned(passes, 9, passCount) || passCount == 0))
        return fail("--passes must be a number from 1 to 9, got \"" + passes + "\"");
    if (passesOpt->count()) o.readPasses = static_cast<int>(passCount);
    o.passesChosen = passesOpt->count() > 0;
    o.verifyWrites = !noVerify;

    std::uint32_t value = 0;
    if (offsetOpt->count()) {
        if (!ParseSize(offset, value)) return fail("--offset is not a number: \"" + offset + "\"");
        o.offset = value;
    }
    if (lengthOpt->count()) {
        if (!ParseSize(length, value) || value == 0) return fail("--length must be a number above 0, got \"" + length + "\"");
        o.length = value;
    }
    const std::uint64_t rangeEnd = std::uint64_t{o.offset.value_or(0)} + o.length.value_or(0);
    if (o.offset.value_or(0) >= o.FlashSize() || rangeEnd > o.FlashSize()) {
        std::ostringstream text;
        text << "--offset/--length reach past the end of the " << (o.flash2M ? "2M" : "1M") << " flash (0x" << std::hex
             << std::uppercase << o.FlashSize() << " bytes)";
        return fail(text.str());
    }

    std::string error;
    if (!ParseCommands(words, o.commands, error)) return fail(error);
    // A range next to a whole-flash command would look as if it limited that one too.
    const bool ranged = o.offset || o.length;
    for (const Command& c : o.commands) {
        if ((ranged && c.kind == CommandKind::Erase) || (o.length && c.kind == CommandKind::Write))
            return fail("--offset/--length apply to read and verify only (and --offset to write); erase always covers "
                        "the whole flash, and a write the file");
    }
    outcome.run = true;
    return outcome;
}

}  // namespace orbvex::cli

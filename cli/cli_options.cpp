// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/cli_options.h"

#include <CLI/CLI.hpp>

#include <sstream>
#include <utility>
#include <vector>

#include "cables/cable_options.h"
#include "util/flash_map.h"
#include "util/text.h"

namespace orbvex::cli {
namespace {

constexpr const char* kDescriptionAfterCommands =
    "A read is made --passes times (2 unless told) and saved only when the passes agree; every\n"
    "write is read back and compared with its file unless --no-verify is given. With a trap\n"
    "program that checksums the flash, a read is one pass checked block by block by its\n"
    "checksums (unless --passes is given), verify reads only the blocks they find differing,\n"
    "and a write is checked chunk by chunk by them instead of being read back.\n"
    "Example: orbvex_cli --virtual --flash 2M start erase write image.rom verify image.rom\n"
    "On Linux: --port lpt1 needs root (or cap_sys_rawio) and falls back to /dev/parport0 without it;\n"
    "--port /dev/parportN needs only group lp; --gpio drives the cable from GPIO lines; --ftdi from an\n"
    "FTDI USB chip (MPSSE on the channels that have it, synchronous bit-bang on the others).\n"
    "The log goes to stdout; errors and the progress bar go to stderr.\n"
    "Exit status: 0 when every command succeeded, 1 when one failed, 2 for bad arguments,\n"
    "130 when interrupted (Ctrl-C or SIGTERM: the running command stops at its next safe point;\n"
    "a second Ctrl-C ends the program at once).";

std::string Description() {
    return std::string(
               "Erases, writes, reads and verifies the flash of a receiver through the JTAG port of its CPU.\n"
               "Commands run in the order given, on one connection, and stop at the first that fails:\n") +
           CommandHelp() + kDescriptionAfterCommands;
}

std::string Bad(const std::string& what) { return "orbvex_cli: " + what + "\nRun with --help for more information."; }

// Turns the positional words into commands, or says why they do not read.
Result<std::vector<Command>> ParseCommands(const std::vector<std::string>& words) {
    std::vector<Command> commands;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const CommandType* type = FindCommand(words[i]);
        if (!type) return Failure("unknown command \"" + words[i] + "\" (commands: " + CommandList(", ") + ")");
        std::string file;
        if (type->takesFile) {
            if (i + 1 >= words.size()) return Failure("\"" + std::string(type->word) + "\" needs a FILE");
            if (words[i + 1].empty()) return Failure("\"" + std::string(type->word) + "\" needs a FILE, got an empty name");
            file = words[++i];
        }
        commands.push_back({type, file});
    }
    if (commands.empty()) return Failure("no command given (commands: " + CommandList(", ") + ")");
    return commands;
}

// The options as typed, before they are checked; each CLI::Option tells whether it was given.
struct Given {
    std::string flash = "1M", trap, virtualFlash, flashChip, offset, length, passes, remoteTimeout;
    bool noVerify = false, force = false;
    std::vector<std::string> words;
    CLI::Option *trapOpt, *virtualFlashOpt, *flashChipOpt, *offsetOpt, *lengthOpt, *passesOpt, *remoteTimeoutOpt;
};

// Every option but the cables' (the cable table declares those), one line each.
void DeclareOptions(CLI::App& app, Given& g) {
    g.remoteTimeoutOpt = app.add_option("--remote-timeout", g.remoteTimeout,
                                        "With --remote: give up when connecting, an answer or room to send takes this "
                                        "many seconds, or a stretch of that long brings fewer than 100 answers "
                                        "(default 10); with --probe: when connecting or one answer takes that long");
    g.trapOpt = app.add_option("--trap", g.trap,
                               "Target-side trap program (default: trap.bin beside this program, else in "
                               "~/.local/share/orbvex_up/, else in ../share/orbvex_up/ from this program's folder)");
    app.add_option("--flash", g.flash, "Flash size: 1M (at 7FF00000, default) or 2M (at 7FE00000)");
    g.virtualFlashOpt = app.add_option("--virtual-flash", g.virtualFlash,
                                       "With --virtual: flash image file loaded at start (erased flash if missing) "
                                       "and saved at exit");
    g.flashChipOpt = app.add_option("--flash-chip", g.flashChip,
                                    "With --virtual: the receiver's flash part, as orbvex_receiver --flash-chip takes "
                                    "it; its size may differ from --flash, as a real box's may");
    const std::string ranged = CommandsUsing(RangeUse::kOffsetAndLength, "/");
    g.offsetOpt = app.add_option("--offset", g.offset, ranged + ": start this many bytes into the flash (0x.. or decimal, K/M)");
    g.lengthOpt = app.add_option("--length", g.length, ranged + ": this many bytes (0x.. or decimal, K/M)");
    g.passesOpt = app.add_option("--passes", g.passes, "read: read the flash this many times, 1 to 9 (default 2)");
    app.add_flag("--no-verify", g.noVerify, "write: do not check the flash against the file (no read-back, no checksums)");
    app.add_flag("--force", g.force, "erase/write: go on when the trap program finds a chip of another size than --flash");
    app.add_option("commands", g.words, CommandList(" | ") + ", several in a row");
}

// The cable, and the options that belong to one cable only. An empty text when they read.
std::string TakeCable(const cables::CableOptions& cableOptions, const Given& g, CliOptions& o) {
    const cables::CableType* named = cableOptions.Named();
    // A cable option just before the commands swallows the first of them as its value.
    if (named && named->syntax && IsCommandWord(cableOptions.NamedValue()))
        return std::string(named->option) + " needs a cable choice before the commands: " + named->syntax;
    Result<std::unique_ptr<cables::CableChoice>> choice = cableOptions.Choose();
    if (!choice) return choice.Error();
    o.cable = choice.Value() ? std::move(choice).Value() : cables::DefaultPortCable();
    if (g.virtualFlashOpt->count() && !o.cable->InProcess()) return "--virtual-flash needs --virtual";
    if (g.virtualFlashOpt->count() && g.virtualFlash.empty()) return "--virtual-flash needs a file name, got an empty one";
    if (g.virtualFlashOpt->count()) o.virtualFlashFile = g.virtualFlash;
    if (g.flashChipOpt->count() && !o.cable->InProcess()) return "--flash-chip needs --virtual";
    if (g.flashChipOpt->count()) {
        const std::string unknown = cables::CheckVirtualFlashChip(g.flashChip);
        if (!unknown.empty()) return "--flash-chip: " + unknown;
        o.virtualFlashChip = g.flashChip;
    }
    if (!g.remoteTimeoutOpt->count()) return {};
    constexpr std::uint64_t kLongestTimeout = 86400;
    std::uint64_t seconds = 0;
    if (!named || (std::string(named->option) != "--remote" && std::string(named->option) != "--probe"))
        return "--remote-timeout needs --remote or --probe";
    if (!ParseUnsigned(g.remoteTimeout, kLongestTimeout, seconds) || seconds == 0)
        return "--remote-timeout must be a number of seconds from 1 to 86400, got \"" + g.remoteTimeout + "\"";
    o.remoteTimeoutSeconds = static_cast<int>(seconds);
    return {};
}

std::string TakeSettings(const Given& g, CliOptions& o) {
    const std::optional<FlashRange> chosenFlash = ParseFlashChoice(g.flash);
    if (!chosenFlash) return "--flash must be 1M or 2M, got \"" + g.flash + "\"";
    o.flash2M = *chosenFlash == kFlash2M;
    if (g.trapOpt->count() && g.trap.empty()) return "--trap needs a file name, got an empty one";
    if (g.trapOpt->count()) o.trapFile = g.trap;
    std::uint64_t passCount = 0;
    if (g.passesOpt->count() && (!ParseUnsigned(g.passes, 9, passCount) || passCount == 0))
        return "--passes must be a number from 1 to 9, got \"" + g.passes + "\"";
    if (g.passesOpt->count()) o.readPasses = static_cast<int>(passCount);
    o.passesChosen = g.passesOpt->count() > 0;
    o.verifyWrites = !g.noVerify;
    o.force = g.force;
    return {};
}

std::string TakeRange(const Given& g, CliOptions& o) {
    std::uint32_t value = 0;
    if (g.offsetOpt->count()) {
        if (!ParseSize(g.offset, value)) return "--offset is not a number: \"" + g.offset + "\"";
        o.offset = value;
    }
    if (g.lengthOpt->count()) {
        if (!ParseSize(g.length, value) || value == 0) return "--length must be a number above 0, got \"" + g.length + "\"";
        o.length = value;
    }
    const std::uint64_t rangeEnd = std::uint64_t{o.offset.value_or(0)} + o.length.value_or(0);
    if (o.offset.value_or(0) >= o.FlashSize() || rangeEnd > o.FlashSize()) {
        std::ostringstream text;
        text << "--offset/--length reach past the end of the " << (o.flash2M ? "2M" : "1M") << " flash (0x" << std::hex
             << std::uppercase << o.FlashSize() << " bytes)";
        return text.str();
    }
    return {};
}

std::string TakeCommands(const Given& g, CliOptions& o) {
    Result<std::vector<Command>> commands = ParseCommands(g.words);
    if (!commands) return commands.Error();
    o.commands = std::move(commands).Value();
    // A range next to a whole-flash command would look as if it limited that one too.
    const bool ranged = o.offset || o.length;
    for (const Command& c : o.commands) {
        if ((ranged && c.type->range == RangeUse::kWholeFlash) || (o.length && c.type->range == RangeUse::kOffsetOnly))
            return "--offset/--length apply to " + CommandsUsing(RangeUse::kOffsetAndLength, " and ") +
                   " only (and --offset to " + CommandsUsing(RangeUse::kOffsetOnly, " and ") +
                   "); erase always covers the whole flash, and a write the file";
    }
    return {};
}

}  // namespace

ParseOutcome ParseCommandLine(int argc, const char* const* argv) {
    ParseOutcome outcome;
    CLI::App app{Description(), "orbvex_cli"};
    const cables::CableOptions cableOptions(app);
    Given given;
    DeclareOptions(app, given);
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
    CliOptions& o = outcome.options;
    std::string error = TakeCable(cableOptions, given, o);
    if (error.empty()) error = TakeSettings(given, o);
    if (error.empty()) error = TakeRange(given, o);
    if (error.empty()) error = TakeCommands(given, o);
    outcome.run = error.empty();
    if (!outcome.run) {
        outcome.exitCode = kExitBadArguments;
        outcome.message = Bad(error);
    }
    return outcome;
}

}  // namespace orbvex::cli

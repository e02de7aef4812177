// SPDX-License-Identifier: GPL-2.0-or-later
// The command words of the command line: each is one entry of the table at the end of
// this file, and one small function that runs its operation with the options given.
#include "cli/command_table.h"

#include <algorithm>
#include <filesystem>
#include <optional>

#include "cli/cli_options.h"
#include "cli/target_session.h"
#include "cli/terminal_window.h"
#include "ops/operations.h"
#include "util/image_file.h"
#include "util/text.h"

namespace orbvex::cli {
namespace {

// The file and flash a command line names, answered when the operation asks for them.
FileChooser Answer(const std::string& path, FlashRange flash) {
    return [path, flash] { return std::optional<ChosenFile>(ChosenFile{path, flash}); };
}

// A ROM or verify file with nothing in it would "succeed" having done nothing.
bool RefuseEmpty(const std::string& path, const char* what, TerminalWindow& window) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec) || std::filesystem::file_size(path, ec) != 0 || ec) return false;
    window.Complain(path + " is empty: nothing to " + what);
    return true;
}

// A destination the file cannot go to is refused before the link is touched, the
// reason in the log and on stderr.
bool RefuseDestination(const std::string& path, TerminalWindow& window) {
    const Status usable = CheckSaveTarget(path);
    if (usable) return false;
    window.LogLine(usable.Error());
    window.Complain(usable.Error());
    return true;
}

bool CheckAgainstFile(Link& link, const VerifyInputs& in, TerminalWindow& window) {
    const VerifyResult result = RunVerify(link, window, in);
    if (result.glitches > 0)
        window.Complain("verify: " + std::to_string(result.glitches) +
                        " blocks differed on the first reading and matched when read again: the cable or the "
                        "link is noisy, the flash is not at fault");
    if (result.noisy)
        window.Complain(
            "verify: the link is too noisy to tell whether the flash holds the file; check the cable "
            "and verify again");
    return result.same;
}

std::uint32_t Offset(const CommandRun& r) { return r.options.offset.value_or(0); }

// Passes asked for are read as asked, and checked by the trap program's checksums when it can.
std::optional<std::uint32_t> ChecksumBase(const CommandRun& r) { return r.options.FlashBase(); }

bool Start(const CommandRun& r) { return RunStart(r.session.Link(), r.window, {r.session.LptBase(), r.session.TrapFile()}); }

bool Erase(const CommandRun& r) {
    return RunErase(r.session.Link(), r.window, {r.session.LptBase(), r.options.Flash(), !r.options.force, true, true});
}

bool Info(const CommandRun& r) { return RunInfo(r.session.Link(), r.window, {r.session.LptBase(), r.options.Flash()}); }

bool Write(const CommandRun& r) {
    const FlashRange flash = r.options.Flash();
    // Chunks the trap program checked need no read-back.
    if (RefuseEmpty(r.file, "write", r.window)) return false;
    const WriteOutcome written = RunWrite(r.session.Link(), r.window, {r.session.LptBase(), Answer(r.file, flash), !r.options.force, r.options.offset, r.options.verifyWrites, true});
    if (!written) return false;
    return written.checkedByTrap || !r.options.verifyWrites ||
           CheckAgainstFile(r.session.Link(), {r.session.LptBase(), flash.base + Offset(r), std::nullopt, flash.End(), r.file, flash.base},
                            r.window);
}

bool Update(const CommandRun& r) {
    if (RefuseEmpty(r.file, "update", r.window)) return false;
    return RunUpdate(r.session.Link(), r.window, {r.session.LptBase(), r.file, r.options.Flash(), Offset(r), !r.options.force});
}

bool Read(const CommandRun& r) {
    const FlashRange flash = r.options.Flash();
    if (RefuseDestination(r.file, r.window)) return false;
    if (!r.options.offset && !r.options.length)
        return RunRead(r.session.Link(), r.window, {r.session.LptBase(), Answer(r.file, flash), r.options.readPasses, ChecksumBase(r), r.options.passesChosen});
    return RunReadRange(r.session.Link(), r.window, {r.session.LptBase(), flash.base + Offset(r), r.options.length.value_or(flash.size - Offset(r)), r.file, r.options.readPasses, ChecksumBase(r), r.options.passesChosen});
}

bool Verify(const CommandRun& r) {
    const FlashRange flash = r.options.Flash();
    if (RefuseEmpty(r.file, "verify", r.window)) return false;
    return CheckAgainstFile(r.session.Link(), {r.session.LptBase(), flash.base + Offset(r), r.options.length, flash.End(), r.file, flash.base},
                            r.window);
}

// The table, one entry per command, in the order the help lists them.
const CommandType kCommands[] = {
    {"start", false, "connect: halt the CPU, install the trap program, set up the memory interface", RangeUse::kNone,
     Start},
    {"erase", false, "erase the whole flash", RangeUse::kWholeFlash, Erase},
    {"write", true,
     "program a ROM image from the start of the flash (or from --offset, erasing\n"
     "only the sectors it covers, which must start and end on sector boundaries);\n"
     "no 4 KB chunk of 0xFF is sent, and those left out are checked blank",
     RangeUse::kOffsetOnly, Write},
    {"update", true,
     "make the flash hold FILE from --offset on (default 0), erasing and writing\n"
     "only the sectors whose checksums differ from the file's, and no chunk of 0xFF;\n"
     "FILE must start and end on sector boundaries; needs a trap program that checksums",
     RangeUse::kOffsetOnly, Update},
    {"read", true,
     "save the flash (or --offset/--length of it) to FILE; pages the trap program\n"
     "finds all 0xFF are not transferred unless --passes is given",
     RangeUse::kOffsetAndLength, Read},
    {"verify", true, "compare FILE with the flash from --offset on (for --length, or the file's size)",
     RangeUse::kOffsetAndLength, Verify},
    {"info", false, "the trap program's version and the flash chip it finds (maker, part, size, sectors)",
     RangeUse::kNone, Info},
    // a new command: one entry above this line, and its function above the table
};

std::string Usage(const CommandType& c) { return std::string(c.word) + (c.takesFile ? " FILE" : ""); }

}  // namespace

const std::vector<const CommandType*>& CommandTypes() {
    static const std::vector<const CommandType*> table = [] {
        std::vector<const CommandType*> all;
        for (const CommandType& c : kCommands) all.push_back(&c);
        return all;
    }();
    return table;
}

const CommandType* FindCommand(const std::string& word) {
    const std::string lower = Lower(word);
    for (const CommandType* c : CommandTypes())
        if (lower == c->word) return c;
    return nullptr;
}

std::string CommandList(const char* separator) {
    std::string list;
    for (const CommandType* c : CommandTypes()) list += (list.empty() ? "" : separator) + Usage(*c);
    return list;
}

std::string CommandsUsing(RangeUse range, const char* separator) {
    std::string words;
    for (const CommandType* c : CommandTypes())
        if (c->range == range) words += (words.empty() ? "" : separator) + std::string(c->word);
    return words;
}

std::string CommandHelp() {
    constexpr std::size_t kHelpColumn = 16;
    std::string text;
    for (const CommandType* c : CommandTypes()) {
        std::string usage = "  " + Usage(*c);
        usage.resize(std::max(kHelpColumn, usage.size() + 1), ' ');
        text += usage;
        for (const char* p = c->help; *p; ++p) text += *p == '\n' ? "\n" + std::string(kHelpColumn, ' ') : std::string(1, *p);
        text += '\n';
    }
    return text;
}

}  // namespace orbvex::cli

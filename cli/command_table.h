// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <string>
#include <vector>

namespace orbvex::cli {

struct CliOptions;
class TargetSession;
class TerminalWindow;

// What one command of the command line runs with.
struct CommandRun {
    const CliOptions& options;
    TargetSession& session;
    TerminalWindow& window;
    std::string file;  // made absolute; empty for a command that takes none
};

// What --offset and --length mean to a command.
enum class RangeUse {
    kNone,            // not used, and not refused: they belong to the commands beside it
    kWholeFlash,      // refused: the command always covers the whole flash
    kOffsetOnly,      // --offset places it; --length is refused
    kOffsetAndLength  // both pick the part of the flash it covers
};

// One command word of the command line, as the cable table holds one cable.
struct CommandType {
    const char* word;  // lower case; typed in any case
    bool takesFile;
    // The help line, beside "word FILE"; a '\n' continues it on the next line.
    const char* help;
    RangeUse range;
    bool (*run)(const CommandRun& run);  // true when the command succeeded
};

// Every command, in the order the help lists them.
const std::vector<const CommandType*>& CommandTypes();

// The command a word names, in any case; nullptr when none.
const CommandType* FindCommand(const std::string& word);
inline bool IsCommandWord(const std::string& word) { return FindCommand(word) != nullptr; }

// "start, erase, write FILE, ..." (joined by separator), as help and refusals list them.
std::string CommandList(const char* separator);
// The words of the commands that use --offset/--length so, joined by separator.
std::string CommandsUsing(RangeUse range, const char* separator);
// The help's lines for the commands, one (or more) per command, each ending in '\n'.
std::string CommandHelp();

}  // namespace orbvex::cli

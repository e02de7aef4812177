// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cables/cable.h"
#include "cli/command_table.h"
#include "util/flash_map.h"

namespace orbvex::cli {

struct Command {
    const CommandType* type;
    std::string file;  // for a command that takes one: as given on the command line
};

struct CliOptions {
    std::shared_ptr<const cables::CableChoice> cable;  // the cable named, or the port at LPT1
    int remoteTimeoutSeconds = 10;                     // for one answer, and for a stretch of slow answers
    std::optional<std::string> trapFile;
    bool flash2M = false;
    std::optional<std::string> virtualFlashFile;
    std::string virtualFlashChip;  // the in-process receiver's part; empty: the usual one
    std::optional<std::uint32_t> offset;
    std::optional<std::uint32_t> length;
    int readPasses = 2;         // a backup is read twice and written only when the passes agree
    bool passesChosen = false;  // --passes given: the passes, even when the trap could checksum
    bool verifyWrites = true;   // every write is read back and compared with its file
    bool force = false;         // erase/write a flash size other than the chip's
    std::vector<Command> commands;

    FlashRange Flash() const { return flash2M ? kFlash2M : kFlash1M; }
    std::uint32_t FlashSize() const { return Flash().size; }
    std::uint32_t FlashBase() const { return Flash().base; }
};

// Exit statuses of the tool.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitBadArguments = 2;
constexpr int kExitInterrupted = 130;  // stopped by Ctrl-C or SIGTERM, as shells report it

struct ParseOutcome {
    bool run = false;  // false: print message and exit with exitCode
    int exitCode = kExitOk;
    std::string message;  // help text (exit 0, for stdout) or the error (exit 2, for stderr)
    CliOptions options;
};

ParseOutcome ParseCommandLine(int argc, const char* const* argv);

}  // namespace orbvex::cli

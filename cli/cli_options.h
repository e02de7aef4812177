#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "port/remote_bitbang_socket.h"

namespace orbvex::cli {

enum class CommandKind { Start, Erase, Write, Read, Verify };

struct Command {
    CommandKind kind;
    std::string file;  // write, read, verify: as given on the command line
};

// Where the receiver is.
enum class TargetKind { Hardware, Virtual, Remote };

// Which of the window's port radio buttons the choice stands for.
enum class PortButton { L1, L2, None };

struct CliOptions {
    TargetKind target = TargetKind::Hardware;
    std::uint16_t lptBase = 0x378;
    PortButton portButton = PortButton::L1;
    net::Endpoint remote;
    std::optional<std::string> trapFile;
    bool flash2M = false;
    std::optional<std::string> virtualFlashFile;
    std::optional<std::uint32_t> offset;
    std::optional<std::uint32_t> length;
    std::vector<Command> commands;

    std::uint32_t FlashSize() const { return flash2M ? 0x200000u : 0x100000u; }
    std::uint32_t FlashBase() const { return flash2M ? 0x7FE00000u : 0x7FF00000u; }
};

// Exit statuses of the tool.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitBadArguments = 2;

struct ParseOutcome {
    bool run = false;     // false: print message and exit with exitCode
    int exitCode = kExitOk;
    std::string message;  // help text (exit 0, for stdout) or the error (exit 2, for stderr)
    CliOptions options;
};

ParseOutcome ParseCommandLine(int argc, const char* const* argv);

// "lpt1", "lpt2" or a base address ("0xD010", or decimal). False when it is none.
bool ParsePortChoice(const std::string& text, std::uint16_t& base, PortButton& button);
// Decimal or 0x-hexadecimal, with an optional K or M (1024, 1048576) suffix.
bool ParseSize(const std::string& text, std::uint32_t& value);

}  // namespace orbvex::cli

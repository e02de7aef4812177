#include "cli/run_cli.h"

#include <filesystem>

#include "cli/progress_bar.h"
#include "cli/target_session.h"
#include "cli/terminal_window.h"
#include "ops/operations.h"

namespace orbvex::cli {
namespace {

const char* CommandName(CommandKind kind) {
    switch (kind) {
        case CommandKind::Start: return "start";
        case CommandKind::Erase: return "erase";
        case CommandKind::Write: return "write";
        case CommandKind::Read: return "read";
        case CommandKind::Verify: return "verify";
    }
    return "?";
}

std::string Absolute(const std::string& path) {
    // An empty name stays empty, so that it is refused as such rather than as a folder.
    return path.empty() ? path : std::filesystem::absolute(path).string();
}

// The file and flash a command line names, answered when the operation asks for them.
FileChooser Answer(const std::string& path, FlashRange flash) {
    return [path, flash] { return std::optional<ChosenFile>(ChosenFile{path, flash}); };
}

bool RunOne(const Command& command, const CliOptions& options, const TargetSession& session,
            TerminalWindow& window) {
    const std::uint16_t port = options.lptBase;
    const FlashRange flash = options.Flash();
    const std::string file = Absolute(command.file);
    const bool ranged = options.offset.has_value() || options.length.has_value();
    const std::uint32_t offset = options.offset.value_or(0);
    switch (command.kind) {
        case CommandKind::Start: return RunStart(window, {port, session.TrapFile()});
        case CommandKind::Erase: return RunErase(window, {port, flash});
        case CommandKind::Write: return RunWrite(window, {port, Answer(file, flash)});
        case CommandKind::Read:
            if (!ranged) return RunRead(window, {port, Answer(file, flash)});
            return RunReadRange(window, {port, flash.base + offset, options.length.value_or(flash.size - offset), file});
        case CommandKind::Verify:
            return RunVerify(window, {port, flash.base + offset, options.length, flash.End(), file});
    }
    return false;
}

}  // namespace

int RunCommands(const CliOptions& options, CliStreams streams, DeviceApis devices) {
    ProgressBar progress(streams.err, streams.errIsTerminal);
    TerminalWindow window(streams.out, streams.err, progress);
    window.SetAbortPoll(streams.abortPoll);
    TargetSession session(options, window, devices);
    if (!session.Open()) {
        session.Close();
        return kExitFailed;
    }
    int status = kExitOk;
    for (std::size_t i = 0; i < options.commands.size(); ++i) {
        const Command& command = options.commands[i];
        if (streams.abortPoll && streams.abortPoll()) {
            window.Complain(std::string("stopped before \"") + CommandName(command.kind) + "\" (interrupted)");
            status = kExitFailed;
            break;
        }
        bool ok = RunOne(command, options, session, window);
        progress.Finish();
        if (session.ConnectionLost()) ok = false;  // whatever the log says, the link is gone
        if (!ok) {
            const bool interrupted = streams.abortPoll && streams.abortPoll();
            std::string text = std::string("\"") + CommandName(command.kind) + (interrupted ? "\" interrupted" : "\" failed");
            if (i + 1 < options.commands.size()) text += "; the commands after it were not run";
            window.Complain(text);
            status = kExitFailed;
            break;
        }
    }
    if (!session.Close()) status = kExitFailed;
    return status;
}

int RunCli(int argc, const char* const* argv, CliStreams streams, DeviceApis devices) {
    ParseOutcome parsed = ParseCommandLine(argc, argv);
    if (!parsed.run) {
        (parsed.exitCode == kExitOk ? streams.out : streams.err) << parsed.message << '\n' << std::flush;
        return parsed.exitCode;
    }
    return RunCommands(parsed.options, streams, devices);
}

}  // namespace orbvex::cli

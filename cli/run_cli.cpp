// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/run_cli.h"

#include <exception>
#include <filesystem>

#include "cli/progress_bar.h"
#include "cli/target_session.h"
#include "cli/terminal_window.h"
#include "util/image_file.h"

namespace orbvex::cli {
namespace {

std::string Absolute(const std::string& path) {
    // An empty name stays empty, so that it is refused as such rather than as a folder.
    return path.empty() ? path : std::filesystem::absolute(path).string();
}

// A second Ctrl-C that came while a file was being saved waited until the file was in
// place, and was taken then: the run ends here, and says that the file is the new one.
bool EndsAfterSave(TerminalWindow& window) {
    if (TakeSignalThatCameDuringSave() == 0) return false;
    window.Complain("interrupted while a file was saved: it was saved whole, and the run ends here");
    return true;
}

}  // namespace

int RunCommands(const CliOptions& options, CliStreams streams, DeviceApis devices) {
    ProgressBar progress(streams.err, streams.errIsTerminal);
    TerminalWindow window(streams.out, streams.err, progress);
    window.SetAbortPoll(streams.abortPoll);
    const auto interrupted = [&streams] { return streams.abortPoll && streams.abortPoll(); };
    TargetSession session(options, window, devices);
    if (!session.Open()) {
        session.Close();
        if (interrupted()) return kExitInterrupted;
        // The receiver inside the tool opens unless its flash file cannot be used: an
        // option the tool cannot run with, as a malformed one.
        return options.cable->InProcess() ? kExitBadArguments : kExitFailed;
    }
    if (!session.PortAvailable()) {
        window.Complain("The parallel port could not be opened: " + session.PortFailureReason());
        session.Close();
        return kExitFailed;
    }
    int status = kExitOk;
    for (std::size_t i = 0; i < options.commands.size(); ++i) {
        const Command& command = options.commands[i];
        if (interrupted()) {
            window.Complain(std::string("stopped before \"") + command.type->word + "\" (interrupted)");
            status = kExitInterrupted;
            break;
        }
        window.BeginCommand();
        bool ok = command.type->run({options, session, window, Absolute(command.file)});
        progress.Finish();
        if (session.ConnectionLost()) ok = false;  // whatever the log says, the link is gone
        else if (!ok) window.RepeatReason();       // a lost link has said so, its last line is no reason
        if (!ok) {
            std::string text = std::string("\"") + command.type->word + (interrupted() ? "\" interrupted" : "\" failed");
            if (i + 1 < options.commands.size()) text += "; the commands after it were not run";
            window.Complain(text);
            status = interrupted() ? kExitInterrupted : kExitFailed;
            break;
        }
        if (EndsAfterSave(window)) {
            if (i + 1 < options.commands.size()) {
                window.Complain(std::string("stopped after \"") + command.type->word + "\" (interrupted)");
                status = kExitInterrupted;
            }
            break;
        }
    }
    if (!session.Close() && status == kExitOk) status = kExitFailed;
    EndsAfterSave(window);
    return status;
}

int RunCli(int argc, const char* const* argv, CliStreams streams, DeviceApis devices) {
    ParseOutcome parsed = ParseCommandLine(argc, argv);
    if (!parsed.run) {
        (parsed.exitCode == kExitOk ? streams.out : streams.err) << parsed.message << '\n'
                                                                 << std::flush;
        return parsed.exitCode;
    }
    try {
        return RunCommands(parsed.options, streams, devices);
    } catch (const std::exception& e) {
        // The session has closed the link and saved what it had on the way out.
        streams.err << "orbvex_cli: internal error: " << e.what() << '\n'
                    << std::flush;
        return kExitFailed;
    }
}

}  // namespace orbvex::cli

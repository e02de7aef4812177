// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/run_cli.h"

#include <exception>
#include <filesystem>

#include "cli/progress_bar.h"
#include "cli/target_session.h"
#include "cli/terminal_window.h"
#include "ops/operations.h"
#include "util/image_file.h"

namespace orbvex::cli {
namespace {

const char* CommandName(CommandKind kind) {
    switch (kind) {
    case CommandKind::Start: return "start";
    case CommandKind::Erase: return "erase";
    case CommandKind::Write: return "write";
    case CommandKind::Read: return "read";
    case CommandKind::Verify: return "verify";
    case CommandKind::Info: return "info";
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
    const FileSaveResult usable = CheckSaveTarget(path);
    if (usable.ok) return false;
    window.LogLine(usable.error);
    window.Complain(usable.error);
    return true;
}

bool Verify(const VerifyInputs& in, TerminalWindow& window) {
    const VerifyResult result = RunVerify(window, in);
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

// A second Ctrl-C that came while a file was being saved waited until the file was in
// place, and was taken then: the run ends here, and says that the file is the new one.
bool EndsAfterSave(TerminalWindow& window) {
    if (TakeSignalThatCameDuringSave() == 0) return false;
    window.Complain("interrupted while a file was saved: it was saved whole, and the run ends here");
    return true;
}

bool RunOne(const Command& command, const CliOptions& options, const TargetSession& session,
            TerminalWindow& window) {
    const std::uint16_t port = session.LptBase();
    const FlashRange flash = options.Flash();
    const std::string file = Absolute(command.file);
    const bool ranged = options.offset.has_value() || options.length.has_value();
    const std::uint32_t offset = options.offset.value_or(0);
    // Passes asked for are read as asked, and checked by the trap program's checksums when it can.
    const std::optional<std::uint32_t> checksumBase = flash.base;
    switch (command.kind) {
    case CommandKind::Start: return RunStart(window, {port, session.TrapFile()});
    case CommandKind::Erase: return RunErase(window, {port, flash, !options.force, true, true});
    case CommandKind::Info: return RunInfo(window, {port, flash});
    case CommandKind::Write: {
        // Chunks the trap program checked need no read-back.
        if (RefuseEmpty(file, "write", window)) return false;
        const WriteOutcome written =
            RunWrite(window, {port, Answer(file, flash), !options.force, options.offset, options.verifyWrites});
        if (!written) return false;
        return written.checkedByTrap || !options.verifyWrites ||
               Verify({port, flash.base + offset, std::nullopt, flash.End(), file, flash.base}, window);
    }
    case CommandKind::Read:
        if (RefuseDestination(file, window)) return false;
        if (!ranged) return RunRead(window, {port, Answer(file, flash), options.readPasses, checksumBase, options.passesChosen});
        return RunReadRange(window, {port, flash.base + offset, options.length.value_or(flash.size - offset), file,
                                     options.readPasses, checksumBase, options.passesChosen});
    case CommandKind::Verify:
        if (RefuseEmpty(file, "verify", window)) return false;
        return Verify({port, flash.base + offset, options.length, flash.End(), file, flash.base}, window);
    }
    return false;
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
        return interrupted() ? kExitInterrupted : kExitFailed;
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
            window.Complain(std::string("stopped before \"") + CommandName(command.kind) + "\" (interrupted)");
            status = kExitInterrupted;
            break;
        }
        window.BeginCommand();
        bool ok = RunOne(command, options, session, window);
        progress.Finish();
        if (session.ConnectionLost()) ok = false;  // whatever the log says, the link is gone
        else if (!ok) window.RepeatReason();       // a lost link has said so, its last line is no reason
        if (!ok) {
            std::string text = std::string("\"") + CommandName(command.kind) + (interrupted() ? "\" interrupted" : "\" failed");
            if (i + 1 < options.commands.size()) text += "; the commands after it were not run";
            window.Complain(text);
            status = interrupted() ? kExitInterrupted : kExitFailed;
            break;
        }
        if (EndsAfterSave(window)) {
            if (i + 1 < options.commands.size()) {
                window.Complain(std::string("stopped after \"") + CommandName(command.kind) + "\" (interrupted)");
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

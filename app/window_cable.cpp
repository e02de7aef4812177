// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/window_cable.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <optional>

#include "cables/cable_options.h"

namespace orbvex::app {
namespace {

struct Given {
    std::string help;  // asked for with --help: shown, and nothing else is done
    std::unique_ptr<cables::CableChoice> choice;
    std::optional<std::string> trap;
    std::optional<std::string> flashImage;
};

// The options, or the refusal.
Result<Given> ParseOptions(const WindowProgram& program, int argc, const char* const* argv) {
    Given given;
    CLI::App app{
        "The flash utility's window; with a cable option it drives that cable instead of the port "
        "chosen in the window.",
        program.name};
    const cables::CableOptions cableOptions(app);
    std::string trap, flashImage;
    CLI::Option* trapOpt = app.add_option("--trap", trap, "Target-side trap program that START loads");
    CLI::Option* imageOpt = nullptr;
    if (program.virtualReceiver)
        imageOpt = app.add_option("--flash-image", flashImage,
                                  "The virtual receiver's flash: loaded at start (erased flash if missing), saved "
                                  "when the window closes");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        given.help = app.help();
        return given;
    } catch (const CLI::ParseError& e) {
        return Failure(e.what());
    }
    Result<std::unique_ptr<cables::CableChoice>> choice = cableOptions.Choose();
    if (!choice) return Failure(choice.Error());
    given.choice = std::move(choice).Value();
    if (trapOpt->count() && trap.empty()) return Failure("--trap needs a file name, got an empty one");
    if (trapOpt->count()) given.trap = trap;
    if (!imageOpt || !imageOpt->count()) return given;
    if (flashImage.empty()) return Failure("--flash-image needs a file name, got an empty one");
    if (given.choice && !given.choice->InProcess())
        return Failure(std::string("--flash-image is the virtual receiver's; it has no use with ") +
                       cableOptions.Named()->option);
    given.flashImage = flashImage;
    return given;
}

}  // namespace

WindowCable OpenWindowCable(const WindowProgram& program, int argc, const char* const* argv,
                            cables::DeviceApis devices) {
    WindowCable opened;
    Result<Given> parsed = ParseOptions(program, argc, argv);
    if (!parsed) {
        opened.exitCode = kWindowBadArguments;
        opened.message = std::string(program.name) + ": " + parsed.Error() + "\nRun with --help for more information.";
        return opened;
    }
    Given& given = parsed.Value();
    if (!given.help.empty()) {
        opened.exitCode = 0;
        opened.message = given.help;
        return opened;
    }
    opened.portFixed = given.choice != nullptr;
    std::unique_ptr<cables::CableChoice> choice = std::move(given.choice);
    if (!choice) choice = program.virtualReceiver ? cables::InProcessReceiver() : cables::DefaultPortCable();

    // A name typed on the command line means a file relative to where the user stands.
    if (given.trap) opened.trapFile = std::filesystem::absolute(*given.trap).string();
    else opened.trapFile = "trap.bin";  // beside the executable, in the user's data folder or in the package's

    cables::CableSettings settings;
    settings.devices = devices;
    settings.flashImage = given.flashImage;
    std::error_code unknown;  // the window has no flash-size option: a 2M image makes a 2M receiver
    if (given.flashImage && std::filesystem::file_size(*given.flashImage, unknown) == kFlash2M.size)
        settings.flashSize = kFlash2M.size;
    settings.warn = [&opened](const std::string& line) { opened.warnings.push_back(line); };
    Result<std::unique_ptr<cables::Cable>> cable = choice->Open(settings);
    if (cable) {
        opened.cable = std::move(cable).Value();
    } else {
        // The receiver inside the program opens unless its flash image cannot be used: an
        // option the program cannot run with, as a malformed one.
        opened.exitCode = choice->InProcess() ? kWindowBadArguments : kWindowCableFailed;
        opened.message = std::string(program.name) + ": " + cable.Error();
    }
    return opened;
}

int CloseWindowCable(WindowCable& opened, int status) {
    if (!opened.cable) return opened.exitCode;
    const Status finished = opened.cable->Finish();
    opened.cable.reset();
    if (!finished.Error().empty()) opened.message = finished.Error();
    return finished ? status : kWindowCableFailed;
}

}  // namespace orbvex::app

// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/window_cable.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <optional>

#include "cables/cable_options.h"

namespace orbvex::app {
namespace {

struct Given {
    std::unique_ptr<cables::CableChoice> choice;
    std::optional<std::string> trap;
    std::optional<std::string> flashImage;
};

// The refusal, or empty when the options read.
std::string ParseOptions(const WindowProgram& program, int argc, const char* const* argv, Given& given,
                         std::string& help) {
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
        help = app.help();
        return {};
    } catch (const CLI::ParseError& e) {
        return e.what();
    }
    std::string error;
    if (!cableOptions.Choose(given.choice, error)) return error;
    if (trapOpt->count() && trap.empty()) return "--trap needs a file name, got an empty one";
    if (trapOpt->count()) given.trap = trap;
    if (!imageOpt || !imageOpt->count()) return {};
    if (flashImage.empty()) return "--flash-image needs a file name, got an empty one";
    if (given.choice && !given.choice->InProcess())
        return std::string("--flash-image is the virtual receiver's; it has no use with ") + cableOptions.Named()->option;
    given.flashImage = flashImage;
    return {};
}

}  // namespace

WindowCable OpenWindowCable(const WindowProgram& program, int argc, const char* const* argv,
                            cables::DeviceApis devices) {
    WindowCable opened;
    Given given;
    std::string help;
    const std::string refusal = ParseOptions(program, argc, argv, given, help);
    if (!help.empty() || !refusal.empty()) {
        opened.exitCode = refusal.empty() ? 0 : kWindowBadArguments;
        opened.message = refusal.empty() ? help
                                         : std::string(program.name) + ": " + refusal +
                                               "\nRun with --help for more information.";
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
    std::string error;
    opened.cable = choice->Open(settings, error);
    if (!opened.cable) {
        // The receiver inside the program opens unless its flash image cannot be used: an
        // option the program cannot run with, as a malformed one.
        opened.exitCode = choice->InProcess() ? kWindowBadArguments : kWindowCableFailed;
        opened.message = std::string(program.name) + ": " + error;
    }
    return opened;
}

int CloseWindowCable(WindowCable& opened, int status) {
    if (!opened.cable) return opened.exitCode;
    std::string error;
    const bool finished = opened.cable->Finish(error);
    opened.cable.reset();
    if (!error.empty()) opened.message = error;
    return finished ? status : kWindowCableFailed;
}

}  // namespace orbvex::app

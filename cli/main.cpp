// SPDX-License-Identifier: GPL-2.0-or-later
// orbvex_cli: the flash operations from a terminal or a script.
#include <csignal>
#include <cstdio>
#include <iostream>

#include "cli/run_cli.h"
#include "util/image_file.h"
#include "util/standard_streams.h"

#if defined(_WIN32)
#include <io.h>
#define ORBVEX_ISATTY _isatty
#define ORBVEX_FILENO _fileno
#else
#include <unistd.h>
#define ORBVEX_ISATTY isatty
#define ORBVEX_FILENO fileno
#endif

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

// The first Ctrl-C (or SIGTERM) asks the running command to stop at its next safe
// point, so that no half-read image is saved and the cable ends in a known state; a
// second one ends the program at once. Files are only ever replaced whole, so even
// that leaves them as they were.
extern "C" void OnInterrupt(int signal) {
    g_interrupted = 1;
    std::signal(signal, SIG_DFL);
}

}  // namespace

int main(int argc, char** argv) {
    orbvex::OpenClosedStandardStreams();
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    orbvex::IgnoreFileSizeSignal();
    orbvex::TakeEndingSignalsAfterSaves();  // a second Ctrl-C while saving: said, and the run ends
    orbvex::cli::CliStreams streams{std::cout, std::cerr, ORBVEX_ISATTY(ORBVEX_FILENO(stderr)) != 0,
                                    [] { return g_interrupted != 0; }};
    return orbvex::cli::RunCli(argc, argv, streams);
}

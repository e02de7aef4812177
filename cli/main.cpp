// orbvex_cli: the flash operations from a terminal or a script.
#include <csignal>
#include <cstdio>
#include <iostream>

#include "cli/run_cli.h"

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

// The first Ctrl-C asks the running operation to stop at its next abort point (Write
// stops between chunks), so the flash image and the cable end in a known state; a
// second one ends the program at once.
extern "C" void OnInterrupt(int) {
    g_interrupted = 1;
    std::signal(SIGINT, SIG_DFL);
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGINT, OnInterrupt);
    orbvex::cli::CliStreams streams{std::cout, std::cerr, ORBVEX_ISATTY(ORBVEX_FILENO(stderr)) != 0,
                                    [] { return g_interrupted != 0; }};
    return orbvex::cli::RunCli(argc, argv, streams);
}

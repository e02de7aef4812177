// SPDX-License-Identifier: GPL-2.0-or-later
#include "port/program_dir.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>

#include <climits>
#endif

namespace orbvex {
namespace {

std::string& Override() {
    static std::string dir;
    return dir;
}

std::string ExecutablePath() {
#if defined(_WIN32)
    char buffer[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    return std::string(buffer, n);
#else
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
#endif
}

bool IsSeparator(char c) {
#if defined(_WIN32)
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

// The folder of the package's data files, one name for every place it lies in.
constexpr const char* kDataFolderName = "orbvex_up/";

std::string UserDataDirectory() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg == '/') return std::string(xdg) + "/" + kDataFolderName;
    const char* home = std::getenv("HOME");
    if (home && *home) return std::string(home) + "/.local/share/" + kDataFolderName;
    return std::string();
}

}  // namespace

std::string ProgramDirectory() {
    if (!Override().empty()) return Override();
    std::string path = ExecutablePath();
    while (!path.empty() && !IsSeparator(path.back())) path.pop_back();
    return path.empty() ? std::string("./") : path;
}

std::string HomeDirectory() {
#if defined(_WIN32)
    const char* home = std::getenv("USERPROFILE");
#else
    const char* home = std::getenv("HOME");
#endif
    if (!home || !*home) return std::string();
    std::string dir(home);
    if (!IsSeparator(dir.back())) dir += '/';
    return dir;
}

std::string FindProgramFile(const std::string& name) {
    const std::string beside = ProgramDirectory();
    for (const std::string& folder : {beside, UserDataDirectory(), beside + "../share/" + kDataFolderName}) {
        std::error_code error;
        if (!folder.empty() && std::filesystem::exists(folder + name, error)) return folder + name;
    }
    return beside + name;
}

void SetProgramDirectory(const std::string& dir) {
    Override() = dir;
    if (!dir.empty() && !IsSeparator(dir.back())) Override() += '/';
}

}  // namespace orbvex

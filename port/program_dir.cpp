#include "port/program_dir.h"

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

}  // namespace

std::string ProgramDirectory() {
    if (!Override().empty()) return Override();
    std::string path = ExecutablePath();
    while (!path.empty() && !IsSeparator(path.back())) path.pop_back();
    return path.empty() ? std::string("./") : path;
}

void SetProgramDirectory(const std::string& dir) {
    Override() = dir;
    if (!dir.empty() && !IsSeparator(dir.back())) Override() += '/';
}

}  // namespace orbvex

#include "ops/image_file.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace orbvex {
namespace {

// A name beside the target that no file holds yet, so that nothing of the user's is
// overwritten before the image is complete.
std::string FreeNameBeside(const std::string& path) {
    std::error_code ec;
    for (int n = 0;; ++n) {
        std::string candidate = path + ".part" + (n ? std::to_string(n) : std::string());
        if (!std::filesystem::exists(candidate, ec) && !ec) return candidate;
        if (ec && n > 1000) return candidate;  // let creating it report the problem
    }
}

bool ReplaceFile(const std::string& from, const std::string& to) {
#if defined(_WIN32)
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

}  // namespace

FileReadResult ReadWholeFile(const std::string& path, std::uint64_t limit,
                             std::vector<std::uint8_t>& data, std::uint64_t& size) {
    data.clear();
    size = 0;
    // A folder opens as a stream on some systems and then claims an absurd size.
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return FileReadResult::CannotOpen;
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) return FileReadResult::CannotOpen;
    file.seekg(0, std::ios::end);
    std::streamoff end = file.tellg();
    if (!file || end < 0) return FileReadResult::CannotRead;
    size = static_cast<std::uint64_t>(end);
    if (size > limit) return FileReadResult::TooLarge;
    file.seekg(0, std::ios::beg);
    data.resize(static_cast<std::size_t>(size));
    if (size > 0 && !file.read(reinterpret_cast<char*>(data.data()),
                               static_cast<std::streamsize>(size))) {
        data.clear();
        return FileReadResult::CannotRead;
    }
    return FileReadResult::Ok;
}

FileWriteResult WriteFileReplacing(const std::string& path, const std::uint8_t* data,
                                   std::size_t size) {
    std::string partial = FreeNameBeside(path);
    std::ofstream file(partial, std::ios::binary | std::ios::trunc);
    if (!file.is_open()) return FileWriteResult::CannotCreate;
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    file.close();
    if (!file || !ReplaceFile(partial, path)) {
        std::remove(partial.c_str());
        return FileWriteResult::CannotWrite;
    }
    return FileWriteResult::Ok;
}

}  // namespace orbvex

#include "cli/image_files.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace orbvex::cli {

Comparison CompareImages(const std::vector<std::uint8_t>& flash, const std::vector<std::uint8_t>& file) {
    Comparison c;
    const std::size_t n = std::min(flash.size(), file.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (flash[i] == file[i]) continue;
        if (c.differing++ == 0) {
            c.firstOffset = static_cast<std::uint32_t>(i);
            c.flashByte = flash[i];
            c.fileByte = file[i];
        }
    }
    return c;
}

bool WriteFileWhole(const std::string& path, const std::vector<std::uint8_t>& data, std::string& error) {
    const std::string temporary = path + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) {
            error = "Cannot create file " + path;
            return false;
        }
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        out.close();
        if (!out) {
            error = "Cannot write file " + path;
            std::remove(temporary.c_str());
            return false;
        }
    }
#if defined(_WIN32)
    std::remove(path.c_str());  // rename does not replace an existing file there
#endif
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "Cannot write file " + path;
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

bool ReadFileWhole(const std::string& path, std::vector<std::uint8_t>& data, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "Cannot open file " + path;
        return false;
    }
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = "Cannot read file " + path;
        return false;
    }
    return true;
}

}  // namespace orbvex::cli

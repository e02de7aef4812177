#pragma once
#include <filesystem>
#include <random>
#include <string>

namespace orbvex::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::random_device random;
        for (;;) {
            path_ = std::filesystem::temp_directory_path() / ("orbvex-cli-" + std::to_string(random()));
            if (std::filesystem::create_directory(path_)) break;
        }
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string Path(const std::string& name = {}) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

}  // namespace orbvex::test

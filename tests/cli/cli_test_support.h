// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Shared by the command-line tests: a scratch folder, byte files, and one in-process
// call of the tool with both of its streams caught.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/run_cli.h"

namespace orbvex::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::random_device random;
        do path_ = std::filesystem::temp_directory_path() / ("orbvex-cli-" + std::to_string(random()));
        while (!std::filesystem::create_directory(path_));
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string Path(const std::string& name = {}) const { return (path_ / name).string(); }
    std::size_t Entries() const {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(path_), {}));
    }

private:
    std::filesystem::path path_;
};

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

inline ToolRun RunTool(const std::vector<std::string>& args, bool errIsTerminal = false,
                       std::function<bool()> abortPoll = {}, cli::DeviceApis devices = cli::SystemDeviceApis()) {
    std::vector<const char*> argv = {"orbvex_cli"};
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    ToolRun run;
    run.status =
        cli::RunCli(static_cast<int>(argv.size()), argv.data(), cli::CliStreams{out, err, errIsTerminal, abortPoll}, devices);
    run.out = out.str();
    run.err = err.str();
    return run;
}

inline std::vector<std::uint8_t> RandomImage(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> image(size);
    for (auto& b : image) b = static_cast<std::uint8_t>(random());
    return image;
}

inline void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& data) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace orbvex::test

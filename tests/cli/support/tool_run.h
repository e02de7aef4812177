#pragma once
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/run_cli.h"

namespace orbvex::test {

// One call of the tool, in process: its exit status and both streams.
struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;

    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
};

inline ToolRun RunTool(const std::vector<std::string>& args, bool errIsTerminal = false,
                       std::function<bool()> abortPoll = {}) {
    std::vector<const char*> argv = {"orbvex_cli"};
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    ToolRun run;
    run.status = cli::RunCli(static_cast<int>(argv.size()), argv.data(), cli::CliStreams{out, err, errIsTerminal, abortPoll});
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
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                                static_cast<std::streamsize>(data.size()));
}

inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace orbvex::test

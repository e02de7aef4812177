// SPDX-License-Identifier: GPL-2.0-or-later
// orbvex_st20asm [--origin ADDRESS] [--list] SOURCE OUTPUT: assembles SOURCE into the raw
// image OUTPUT; --list prints each statement's address and bytes. Errors go to stderr as
// SOURCE:LINE: message, and no output is written then.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "tools/st20asm/st20_asm.h"

int main(int argc, char** argv) {
    std::uint32_t origin = 0;
    bool list = false;
    std::string files[2];
    int named = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--origin" && i + 1 < argc) {
            origin = static_cast<std::uint32_t>(std::stoul(argv[++i], nullptr, 0));
        } else if (arg == "--list") {
            list = true;
        } else if (named < 2 && !arg.empty() && arg[0] != '-') {
            files[named++] = arg;
        } else {
            named = 3;
        }
    }
    if (named != 2) {
        std::cerr << "usage: orbvex_st20asm [--origin ADDRESS] [--list] SOURCE OUTPUT\n";
        return 2;
    }
    std::ifstream in(files[0], std::ios::binary);
    if (!in) {
        std::cerr << files[0] << ": cannot be read\n";
        return 1;
    }
    std::stringstream source;
    source << in.rdbuf();
    // Included files are named relative to the including source's folder.
    const std::size_t slash = files[0].find_last_of("/\\");
    const std::string folder = slash == std::string::npos ? std::string() : files[0].substr(0, slash + 1);
    const auto reader = [&folder](const std::string& name) -> std::optional<std::string> {
        std::ifstream file(folder + name, std::ios::binary);
        if (!file) return std::nullopt;
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    };
    const orbvex::st20asm::Assembly result = orbvex::st20asm::Assemble(source.str(), origin, reader);
    for (const auto& error : result.errors) std::cerr << files[0] << ":" << error.line << ": " << error.message << "\n";
    if (!result.errors.empty()) return 1;
    if (list) {
        for (const auto& line : result.listing) {
            std::printf("%08X %4d ", line.address, line.line);
            for (const std::uint8_t b : line.bytes) std::printf(" %02X", b);
            std::printf("\n");
        }
    }
    // Written beside and renamed, so that a failed run never leaves half an image.
    const std::string temporary = files[1] + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(result.image.data()), static_cast<std::streamsize>(result.image.size()));
        if (!out.flush()) {
            std::cerr << temporary << ": cannot be written\n";
            return 1;
        }
    }
    if (std::rename(temporary.c_str(), files[1].c_str()) != 0) {
        std::cerr << files[1] << ": cannot be written\n";
        std::remove(temporary.c_str());
        return 1;
    }
    return 0;
}

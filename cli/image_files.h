#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace orbvex::cli {

// Where two images first differ, and by how much.
struct Comparison {
    std::uint64_t differing = 0;  // count of differing bytes
    std::uint32_t firstOffset = 0;
    std::uint8_t flashByte = 0;
    std::uint8_t fileByte = 0;
};
// Compares the first min(size) bytes of both.
Comparison CompareImages(const std::vector<std::uint8_t>& flash, const std::vector<std::uint8_t>& file);

// Writes data to a temporary file beside path and renames it over path only once it
// is complete, so a failure never leaves a truncated or half-written image behind.
bool WriteFileWhole(const std::string& path, const std::vector<std::uint8_t>& data, std::string& error);
bool ReadFileWhole(const std::string& path, std::vector<std::uint8_t>& data, std::string& error);

}  // namespace orbvex::cli

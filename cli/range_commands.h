#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/image_files.h"
#include "ops/window_services.h"

namespace orbvex::cli {

// Saves [start, start + length) of target memory to path, logging like Read.
bool ReadRangeToFile(WindowServices& window, std::uint32_t start, std::uint32_t length, const std::string& path);

// Compares the file with target memory from start on, for length bytes (the file's
// size when not given). flashEnd bounds the comparison: a file that runs past it fails.
bool VerifyRangeWithFile(WindowServices& window, std::uint32_t start, std::optional<std::uint32_t> length,
                         std::uint64_t flashEnd, const std::string& path);

}  // namespace orbvex::cli

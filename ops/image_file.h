#pragma once
// Whole image files in and out: a ROM file is read completely before anything is sent
// to the receiver, and a BIN file only takes the place of the chosen name once it has
// been written whole.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orbvex {

enum class FileReadResult { Ok, CannotOpen, TooLarge, CannotRead };

// Reads the whole file into data. size is the file's size whenever it could be found
// (also for TooLarge, whose content is not read); a file larger than limit is not read.
FileReadResult ReadWholeFile(const std::string& path, std::uint64_t limit,
                             std::vector<std::uint8_t>& data, std::uint64_t& size);

enum class FileWriteResult { Ok, CannotCreate, CannotWrite };

// Writes size bytes to a new file beside path and renames it over path only when all
// of them are on disk; on any failure path is left as it was and the new file removed.
FileWriteResult WriteFileReplacing(const std::string& path, const std::uint8_t* data,
                                   std::size_t size);

}  // namespace orbvex

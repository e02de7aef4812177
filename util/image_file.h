#pragma once
// Whole image files in and out. A file is read completely before anything is done
// with it, and a file is saved whole or not at all: the new content goes to a fresh
// temporary file in the target's folder and takes the target's place only once it is
// complete and on disk, so a failure at any point leaves the old file as it was.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orbvex {

enum class FileReadStatus {
    Ok,
    CannotOpen,  // missing, unreadable, a folder, a pipe or a device: see reason
    TooLarge,    // larger than the limit; its content is not read
    CannotRead,  // opened, but reading it failed
};

struct FileReadResult {
    FileReadStatus status = FileReadStatus::CannotOpen;
    std::uint64_t size = 0;  // the file's size whenever it could be found
    std::string reason;      // why it failed, in plain words ("No such file or directory")

    bool Ok() const { return status == FileReadStatus::Ok; }
};

// Reads the whole regular file at path into data. Only regular files are opened, so a
// named pipe or a device never blocks the program or feeds it endless bytes.
FileReadResult ReadWholeFile(const std::string& path, std::uint64_t limit, std::vector<std::uint8_t>& data);

struct FileSaveResult {
    bool ok = false;
    std::string error;  // "Cannot create file PATH: reason" or "Cannot write file PATH: reason"
};

// Saves size bytes as the file path, whole or not at all. A symbolic link is written
// through to the file it names; an existing file keeps its permission bits; a target
// that is not a regular file (a device, a folder) or that is read-only is refused and
// left alone. The temporary file never outlives a failure.
FileSaveResult SaveWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size);
inline FileSaveResult SaveWholeFile(const std::string& path, const std::vector<std::uint8_t>& data) {
    return SaveWholeFile(path, data.data(), data.size());
}

}  // namespace orbvex

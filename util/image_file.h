// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Whole image files in and out. A file is read completely before anything is done
// with it, and a file is saved whole or not at all: the new content goes to a fresh
// temporary file in the target's folder and takes the target's place only once it is
// complete and on disk, so a failure at any point leaves the old file as it was.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "util/result.h"

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

// The system calls of a save once its checks have passed.
enum class SaveStep { Write,
                      Sync,
                      Close,
                      Rename };
// Asked before each of them: an error number makes that call fail with it (a close still
// closes), 0 lets it run. Only tests give one.
using SaveFault = std::function<int(SaveStep)>;

// Saves size bytes as the file path, whole or not at all; a failure says "Cannot create
// file PATH: reason" or "Cannot write file PATH: reason". A symbolic link is written
// through to the file it names (a loop, or a chain longer than the system follows, is
// refused); an existing file keeps its permission bits and, where the process may, its
// owner and group; a target that is not a regular file (a device, a folder) or that is
// read-only is refused and left alone. The temporary file never outlives a failure,
// nor, where the system can hide it until it is complete, the process.
Status SaveWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size, const SaveFault& fault = {});
inline Status SaveWholeFile(const std::string& path, const std::vector<std::uint8_t>& data) {
    return SaveWholeFile(path, data.data(), data.size());
}

// The checks SaveWholeFile makes before it writes, and a file created and removed in the
// target's folder: ok when a save there can begin, else the failure that save would give.
// Lets a long read refuse its destination before the first byte is read.
Status CheckSaveTarget(const std::string& path);

// A program that reports its saves itself calls it once: from then on a signal that
// would end it while a file is saved (a second Ctrl-C) is taken once the file is in
// place, so that the program can say so and end as a success, instead of ending it as
// if the save had not happened. Where a save fails, the signal ends it as usual, the
// old file in place. Other programs end on such a signal once the save is over.
void TakeEndingSignalsAfterSaves();
// The signal so taken since the last call, or 0 when none came.
int TakeSignalThatCameDuringSave();
// Whether a file can be created in folder now (a file is created there and removed).
bool CanCreateFilesIn(const std::string& folder);

// Over a file-size limit, a write fails with "File too large" instead of the system
// ending the process (and leaving a temporary file). Programs that save call it once.
void IgnoreFileSizeSignal();

}  // namespace orbvex

#include "util/image_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>

#if defined(_WIN32)
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace orbvex {
namespace fs = std::filesystem;
namespace {

#if defined(_WIN32)
constexpr int kReadFlags = _O_RDONLY | _O_BINARY;
constexpr int kCreateFlags = _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY;
int OpenFile(const std::string& path, int flags, int mode = 0) { return _open(path.c_str(), flags, mode); }
int CloseFile(int fd) { return _close(fd); }
long ReadSome(int fd, void* buffer, std::size_t n) { return _read(fd, buffer, static_cast<unsigned>(n)); }
long WriteSome(int fd, const void* buffer, std::size_t n) { return _write(fd, buffer, static_cast<unsigned>(n)); }
int SyncFile(int fd) { return _commit(fd); }
bool IsRegular(const struct _stat64& st) { return (st.st_mode & _S_IFMT) == _S_IFREG; }
int StatOpen(int fd, struct _stat64& st) { return _fstat64(fd, &st); }
using StatRecord = struct _stat64;
#else
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
int OpenFile(const std::string& path, int flags, int mode = 0) { return ::open(path.c_str(), flags, mode); }
int CloseFile(int fd) { return ::close(fd); }
long ReadSome(int fd, void* buffer, std::size_t n) { return ::read(fd, buffer, n); }
long WriteSome(int fd, const void* buffer, std::size_t n) { return ::write(fd, buffer, n); }
int SyncFile(int fd) { return ::fsync(fd); }
bool IsRegular(const struct stat& st) { return S_ISREG(st.st_mode); }
int StatOpen(int fd, struct stat& st) { return ::fstat(fd, &st); }
using StatRecord = struct stat;
#endif

std::string Reason(int error) { return std::strerror(error); }

// Opened files are closed on every path out.
class FileHandle {
public:
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Close() {
        int result = 0;
        if (fd_ >= 0) result = CloseFile(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

bool ReadAll(int fd, std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        long n = ReadSome(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        // Large writes in pieces: some systems refuse a single write above 2 GB.
        long n = WriteSome(fd, data + done, std::min<std::size_t>(size - done, 1u << 20));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The file a path finally names once every symbolic link on the way is followed;
// the named file itself need not exist (a dangling link is written through).
fs::path FollowLinks(const fs::path& path) {
    fs::path current = path;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(current, ec))) return current;
        fs::path target = fs::read_symlink(current, ec);
        if (ec) return current;
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    return current;
}

// A new, empty file in folder that no one else holds; its name in name.
int CreateTemporary(const fs::path& folder, std::string& name) {
#if defined(_WIN32)
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        name = (folder / (".orbvex-" + std::to_string(_getpid()) + "-" +
                          std::to_string(GetTickCount() + attempt) + ".tmp")).string();
        int fd = OpenFile(name, kCreateFlags, _S_IREAD | _S_IWRITE);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
#else
    std::string pattern = (folder / ".orbvex-XXXXXX").string();
    int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    name = pattern;
    return fd;
#endif
}

bool MoveOver(const std::string& from, const std::string& to) {
#if defined(_WIN32)
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
    return false;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

// What a file created anew gets: what the process's umask leaves of rw for everyone.
unsigned DefaultMode() {
#if defined(_WIN32)
    return 0666;
#else
    mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666u & ~static_cast<unsigned>(mask);
#endif
}

bool Writable(const std::string& path) {
#if defined(_WIN32)
    return _access(path.c_str(), 2) == 0;
#else
    return ::access(path.c_str(), W_OK) == 0;
#endif
}

bool KeepMode(int fd, unsigned mode) {
#if defined(_WIN32)
    (void)fd;
    (void)mode;
    return true;
#else
    return ::fchmod(fd, static_cast<mode_t>(mode)) == 0;
#endif
}

FileSaveResult Failed(const char* what, const std::string& path, const std::string& reason) {
    return {false, std::string(what) + path + ": " + reason};
}

}  // namespace

FileReadResult ReadWholeFile(const std::string& path, std::uint64_t limit, std::vector<std::uint8_t>& data) {
    FileReadResult result;
    data.clear();
    if (path.empty()) {
        result.reason = "no file name given";
        return result;
    }
    FileHandle file(OpenFile(path, kReadFlags));
    if (!file.Valid()) {
        result.reason = Reason(errno);
        return result;
    }
    StatRecord st{};
    if (StatOpen(file.Get(), st) != 0) {
        result.reason = Reason(errno);
        return result;
    }
    if (!IsRegular(st)) {
        result.reason = "not a regular file";
        return result;
    }
    result.size = static_cast<std::uint64_t>(st.st_size);
    if (result.size > limit) {
        result.status = FileReadStatus::TooLarge;
        return result;
    }
    data.resize(static_cast<std::size_t>(result.size));
    if (!ReadAll(file.Get(), data.data(), data.size())) {
        result.status = FileReadStatus::CannotRead;
        result.reason = errno ? Reason(errno) : "the file ended early";
        data.clear();
        return result;
    }
    result.status = FileReadStatus::Ok;
    return result;
}

FileSaveResult SaveWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    if (path.empty()) return Failed("Cannot create file ", path, "no file name given");
    const fs::path target = FollowLinks(fs::path(path));
    unsigned mode = DefaultMode();

    std::error_code ec;
    const fs::file_status status = fs::status(target, ec);
    if (fs::exists(status)) {
        if (!fs::is_regular_file(status)) return Failed("Cannot create file ", path, "not a regular file");
        mode = static_cast<unsigned>(status.permissions()) & 07777u;
        // Read-only to its owner means "keep this": even a user who may replace it anyway.
        if ((mode & 0200u) == 0 || !Writable(target.string()))
            return Failed("Cannot create file ", path, "the file is read-only");
    }

    fs::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    std::string temporary;
    FileHandle file(CreateTemporary(folder, temporary));
    if (!file.Valid()) return Failed("Cannot create file ", path, Reason(errno));

    bool written = WriteAll(file.Get(), data, size) && KeepMode(file.Get(), mode) && SyncFile(file.Get()) == 0;
    int error = errno;
    if (file.Close() != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && !MoveOver(temporary, target.string())) {
        written = false;
        error = errno;
    }
    if (!written) {
        std::remove(temporary.c_str());
        return Failed("Cannot write file ", path, Reason(error));
    }
    return {true, {}};
}

}  // namespace orbvex

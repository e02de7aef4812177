// SPDX-License-Identifier: GPL-2.0-or-later
#include "util/image_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#if !defined(_WIN32)
#include <pthread.h>
#endif

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

// True, with errno set, when the test's fault hook makes this step fail.
bool Injected(const SaveFault& fault, SaveStep step) {
    const int error = fault ? fault(step) : 0;
    if (error != 0) errno = error;
    return error != 0;
}

bool WriteAll(const SaveFault& fault, int fd, const std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        // Large writes in pieces: some systems refuse a single write above 2 GB.
        const std::size_t piece = std::min<std::size_t>(size - done, 1u << 20);
        long n = Injected(fault, SaveStep::Write) ? -1 : WriteSome(fd, data + done, piece);
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
                          std::to_string(GetTickCount() + attempt) + ".tmp"))
                   .string();
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

Failure Failed(const char* what, const std::string& path, const std::string& reason) {
    return Failure(std::string(what) + path + ": " + reason);
}

// Where the owner and group of a file are kept, as far as the process may give them.
void KeepOwner(int fd, long owner, long group) {
#if defined(_WIN32)
    (void)fd;
    (void)owner;
    (void)group;
#else
    if (owner >= 0 && ::fchown(fd, static_cast<uid_t>(owner), static_cast<gid_t>(group)) != 0)
        (void)!::fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(group));  // the group alone, then
#endif
}

// What a save replaces, found before anything is written.
struct SaveTarget {
    fs::path file;    // the path with every symbolic link on the way followed
    fs::path folder;  // where the temporary file goes: beside the file, on its file system
    unsigned mode = 0;
    long owner = -1, group = -1;  // of the file it replaces
};

// What a save as path replaces, or the refusal when nothing may be saved there.
Result<SaveTarget> Examine(const std::string& path) {
    if (path.empty()) return Failed("Cannot create file ", path, "no file name given");
    SaveTarget target;
    std::error_code ec;
    (void)fs::status(path, ec);
    // A loop, or a chain the system will not follow; a name longer than it allows.
    if (ec == std::errc::too_many_symbolic_link_levels || ec == std::errc::filename_too_long)
        return Failed("Cannot create file ", path, ec.message());
    target.file = FollowLinks(fs::path(path));
    target.mode = DefaultMode();
    const fs::file_status status = fs::status(target.file, ec);
    if (fs::exists(status)) {
        if (!fs::is_regular_file(status)) return Failed("Cannot create file ", path, "not a regular file");
        target.mode = static_cast<unsigned>(status.permissions()) & 07777u;
        // Read-only to its owner means "keep this": even a user who may replace it anyway.
        if ((target.mode & 0200u) == 0 || !Writable(target.file.string()))
            return Failed("Cannot create file ", path, "the file is read-only");
#if !defined(_WIN32)
        struct stat st {};
        if (::stat(target.file.c_str(), &st) == 0) {
            target.owner = static_cast<long>(st.st_uid);
            target.group = static_cast<long>(st.st_gid);
        }
#endif
    }
    target.folder = target.file.parent_path();
    if (target.folder.empty()) target.folder = ".";
    return target;
}

// The signals that end a program by default (a second Ctrl-C, a closed terminal) wait
// while it lives, and take effect once the temporary file is renamed or removed.
std::atomic<bool> g_takeEndingSignals{false};
std::atomic<int> g_signalAfterSave{0};

class HeldSignals {
public:
#if defined(_WIN32)
    HeldSignals() = default;
    void TakeEndingSignals() {}
#else
    HeldSignals() {
        sigset_t held;
        sigemptyset(&held);
        for (int signal : kHeld) sigaddset(&held, signal);
        pthread_sigmask(SIG_BLOCK, &held, &previous_);
    }
    ~HeldSignals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

    // Once the file has taken its place: a signal waiting to end the program would end
    // it as if the save had not happened (a second Ctrl-C reports "interrupted"). It is
    // taken instead, for the program to say the file was saved and end as a success.
    // Signals the program handles itself are left to their handlers.
    void TakeEndingSignals() {
        if (!g_takeEndingSignals) return;
        sigset_t ending;
        sigemptyset(&ending);
        for (int signal : kHeld) {
            struct sigaction action {};
            if (!sigismember(&previous_, signal) && sigaction(signal, nullptr, &action) == 0 &&
                action.sa_handler == SIG_DFL)
                sigaddset(&ending, signal);
        }
        const timespec now{};
        for (int signal; (signal = sigtimedwait(&ending, nullptr, &now)) > 0;) g_signalAfterSave = signal;
    }

private:
    static constexpr int kHeld[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    sigset_t previous_;
#endif
};

// The new content's file until it takes the target's place; removed on every other path.
// Where the system has files without a name (Linux), it starts as one: even a kill
// while it is written leaves nothing behind. It gets a name only when complete, just
// before it is renamed.
class Temporary {
public:
    explicit Temporary(const fs::path& folder) : folder_(folder) {
#if defined(O_TMPFILE)
        if (::access("/proc/self/fd", X_OK) == 0) fd_ = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (fd_ >= 0) return;
            // Not every file system has them: a named file then.
#endif
        fd_ = CreateTemporary(folder, name_);
        if (fd_ < 0) name_.clear();
    }
    ~Temporary() {
        if (fd_ >= 0) CloseFile(fd_);
        if (!name_.empty()) std::remove(name_.c_str());
        if (placed_) held_.TakeEndingSignals();
    }
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;

    bool Valid() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

    // Closes the file and moves it over path. False, with errno, when it could not.
    bool Place(const std::string& path, const SaveFault& fault) {
        if (name_.empty() && !GiveName()) return false;
        const int closed = CloseFile(fd_);
        fd_ = -1;
        if (Injected(fault, SaveStep::Close) || closed != 0) return false;
        if (Injected(fault, SaveStep::Rename) || !MoveOver(name_, path)) return false;
        name_.clear();
        placed_ = true;
        return true;
    }

private:
    bool GiveName() {
#if defined(O_TMPFILE)
        static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = (folder_ / ".orbvex-").string();
            for (int i = 0; i < 6; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                name_ = name;
                return true;
            }
            if (errno != EEXIST) return false;
        }
#endif
        errno = EEXIST;
        return false;
    }

    HeldSignals held_;  // first in, last out: over the file's whole life
    fs::path folder_;
    std::string name_;  // empty while the file has no name
    int fd_ = -1;
    bool placed_ = false;
};

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
        const int error = errno;
        // Windows will not open a folder at all, and says "Permission denied".
        std::error_code unknown;
        result.reason = fs::is_directory(fs::path(path), unknown) ? "not a regular file" : Reason(error);
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

Status SaveWholeFile(const std::string& path, const std::uint8_t* data, std::size_t size, const SaveFault& fault) {
    const Result<SaveTarget> examined = Examine(path);
    if (!examined) return Failure(examined.Error());
    const SaveTarget& target = examined.Value();
    Temporary temporary(target.folder);
    if (!temporary.Valid()) return Failed("Cannot create file ", path, Reason(errno));
    KeepOwner(temporary.Fd(), target.owner, target.group);  // before the mode: a new owner clears set-id bits
    const bool saved = WriteAll(fault, temporary.Fd(), data, size) && KeepMode(temporary.Fd(), target.mode) &&
                       !Injected(fault, SaveStep::Sync) && SyncFile(temporary.Fd()) == 0 &&
                       temporary.Place(target.file.string(), fault);
    if (!saved) return Failed("Cannot write file ", path, Reason(errno));
    return {};
}

Status CheckSaveTarget(const std::string& path) {
    const Result<SaveTarget> examined = Examine(path);
    if (!examined) return Failure(examined.Error());
    const Temporary probe(examined->folder);
    if (!probe.Valid()) return Failed("Cannot create file ", path, Reason(errno));
    return {};
}

void TakeEndingSignalsAfterSaves() { g_takeEndingSignals = true; }

int TakeSignalThatCameDuringSave() { return g_signalAfterSave.exchange(0); }

bool CanCreateFilesIn(const std::string& folder) { return Temporary(folder.empty() ? "." : folder).Valid(); }

void IgnoreFileSizeSignal() {
#if defined(SIGXFSZ)
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

}  // namespace orbvex

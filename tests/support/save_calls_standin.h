#pragma once
// The system calls of a save, each passed to the system unless the test makes it fail:
// the failing call still does its work where leaving it undone would leak (a close
// still closes), then answers failure with the chosen error.
#include <cerrno>
#include <functional>

#include "util/image_file.h"

namespace orbvex {

class SaveCallsStandIn : public SaveCalls {
public:
    enum class Call { None, Write, Sync, Close, Rename };
    Call failing = Call::None;
    int error = EIO;
    std::function<void()> beforeWrite;  // run before every write

    long Write(int fd, const void* data, std::size_t n) override {
        if (beforeWrite) beforeWrite();
        return failing == Call::Write ? Fail() : SaveCalls::Write(fd, data, n);
    }
    int Sync(int fd) override { return failing == Call::Sync ? Fail() : SaveCalls::Sync(fd); }
    int Close(int fd) override {
        const int result = SaveCalls::Close(fd);
        return failing == Call::Close ? Fail() : result;
    }
    int Rename(const char* from, const char* to) override {
        return failing == Call::Rename ? Fail() : SaveCalls::Rename(from, to);
    }

private:
    int Fail() const {
        errno = error;
        return -1;
    }
};

}  // namespace orbvex

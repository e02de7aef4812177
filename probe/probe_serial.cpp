// SPDX-License-Identifier: GPL-2.0-or-later
// A probe on a serial line: a USB serial adapter or a board's own USB port.
#include "probe/probe_stream.h"

// Windows has its own, in probe_serial_win32.cpp.
#if !defined(_WIN32)

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace orbvex::probe {
namespace {

std::string SystemError() { return std::strerror(errno); }

bool BaudConstant(int baud, speed_t& out) {
    static const struct {
        int baud;
        speed_t constant;
    } kRates[] = {
        {9600, B9600},
        {19200, B19200},
        {38400, B38400},
        {57600, B57600},
        {115200, B115200},
        {230400, B230400},
#ifdef B460800
        {460800, B460800},
#endif
#ifdef B500000
        {500000, B500000},
#endif
#ifdef B921600
        {921600, B921600},
#endif
#ifdef B1000000
        {1000000, B1000000},
#endif
#ifdef B2000000
        {2000000, B2000000},
#endif
    };
    for (const auto& rate : kRates)
        if (rate.baud == baud) {
            out = rate.constant;
            return true;
        }
    return false;
}

class SerialStream final : public ProbeStream {
public:
    explicit SerialStream(int fd) : fd_(fd) {}
    ~SerialStream() override { ::close(fd_); }
    Status Send(const std::uint8_t* data, std::size_t size) override {
        while (size > 0) {
            const ssize_t n = ::write(fd_, data, size);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                pollfd p{fd_, POLLOUT, 0};
                if (::poll(&p, 1, kSendWaitMs) <= 0) return Failure("the serial line takes no more bytes");
                continue;
            }
            if (n < 0) return Failure("the serial line failed (" + SystemError() + ")");
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        return {};
    }
    Result<std::size_t> Receive(std::uint8_t* buffer, std::size_t size, int timeoutMs) override {
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, timeoutMs);
        if (ready == 0 || (ready < 0 && errno == EINTR)) return std::size_t{0};
        const ssize_t n = ::read(fd_, buffer, size);
        if (n > 0) return static_cast<std::size_t>(n);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return std::size_t{0};
        return Failure(n == 0 ? "the serial device went away" : "the serial line failed (" + SystemError() + ")");
    }
    bool MayBeBooting() const override { return true; }

private:
    static constexpr int kSendWaitMs = 10000;
    int fd_;
};

}  // namespace

Result<std::unique_ptr<ProbeStream>> OpenSerialStream(const std::string& device, int baud) {
    speed_t speed;
    if (!BaudConstant(baud, speed)) return Failure("this system has no serial rate of " + std::to_string(baud) + " baud");
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Failure("cannot open " + device + ": " + SystemError());
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        const std::string why = device + " is not a serial line: " + SystemError();
        ::close(fd);
        return Failure(why);
    }
    ::cfmakeraw(&tio);  // 8 data bits, no parity, no echo, no line editing
    tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | CRTSCTS | PARENB);
    tio.c_cflag |= CLOCAL | CREAD | CS8;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0 || ::tcsetattr(fd, TCSANOW, &tio) != 0) {
        const std::string why = "cannot set " + device + " to " + std::to_string(baud) + " baud, 8N1: " + SystemError();
        ::close(fd);
        return Failure(why);
    }
    ::tcflush(fd, TCIOFLUSH);  // nothing a previous user left on the line
    return std::make_unique<SerialStream>(fd);
}

}  // namespace orbvex::probe

#endif

// SPDX-License-Identifier: GPL-2.0-or-later
#include "probe/sim/board_line.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>

namespace orbvex::probe {
namespace {

// Between looks at the line: 1.25 ms of the board's time.
constexpr std::uint64_t kBatchCycles = 20000;

struct BaudName {
    speed_t speed;
    std::uint32_t baud;
};
const BaudName kBauds[] = {{B9600, 9600}, {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B500000, 500000}, {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000}, {B2000000, 2000000}};

// The rate the host set on its end of the pseudo-terminal (both ends share one).
std::uint32_t HostBaud(int master, std::uint32_t previous) {
    termios settings{};
    if (tcgetattr(master, &settings) != 0) return previous;
    const speed_t speed = cfgetospeed(&settings);
    for (const auto& b : kBauds)
        if (b.speed == speed) return b.baud;
    return previous;
}

}  // namespace

BoardLine::~BoardLine() {
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
}

// Raw, so that nothing the host sends is echoed or changed before the host sets its own
// mode. The slave end is kept open here too, so that the master reads no end of file
// between two hosts.
Status BoardLine::Open() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 || !ptsname(master_))
        return Failure("cannot open a pseudo-terminal");
    path_ = ptsname(master_);
    slave_ = open(path_.c_str(), O_RDWR | O_NOCTTY);
    if (slave_ < 0) return Failure("cannot open " + path_);
    termios raw{};
    tcgetattr(slave_, &raw);
    cfmakeraw(&raw);
    cfsetspeed(&raw, B1000000);
    tcsetattr(slave_, TCSANOW, &raw);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    return {};
}

void BoardLine::Serve(const std::atomic<bool>& stop, std::uint64_t resetAfterBytes) {
    std::uint32_t hostBaud = 1000000;
    bool resetDone = false;
    std::string pending;  // for the host, waiting for room in the pseudo-terminal
    std::uint8_t buffer[4096];
    while (!stop) {
        hostBaud = HostBaud(master_, hostBaud);
        board_.SetHostBaud(hostBaud);
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n > 0) board_.HostSend(buffer, static_cast<std::size_t>(n));
        if (board_.Stopped()) {
            std::cerr << "orbvex_probe_sim: the firmware stopped\n";
            return;
        }
        if (board_.Idle() && pending.empty()) {
            pollfd wait{master_, POLLIN, 0};
            poll(&wait, 1, 20);
            continue;
        }
        board_.Run(kBatchCycles);
        cycles_ = board_.Cycles();
        pending += board_.TakeReceived();
        while (!pending.empty()) {
            const ssize_t sent = write(master_, pending.data(), pending.size());
            if (sent <= 0) break;
            pending.erase(0, static_cast<std::size_t>(sent));
        }
        if (resetAfterBytes && !resetDone && board_.BytesToHost() >= resetAfterBytes) {
            std::cerr << "orbvex_probe_sim: the board resets after " << board_.BytesToHost() << " bytes sent\n";
            board_.Reset();
            resetDone = true;
        }
    }
}

}  // namespace orbvex::probe

// SPDX-License-Identifier: GPL-2.0-or-later
#include "remote/remote_bitbang_socket.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <fcntl.h>
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace orbvex::net {
namespace {

#if defined(_WIN32)
using NativeSocket = SOCKET;
const NativeSocket kNoSocket = INVALID_SOCKET;

// Winsock wants one start-up per process before any socket call.
void EnsureStarted() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}
void CloseNative(NativeSocket s) { closesocket(s); }
using PollEntry = WSAPOLLFD;
constexpr short kPollRead = POLLRDNORM;
constexpr short kPollWrite = POLLWRNORM;
int PollMany(PollEntry* entries, std::size_t count, int timeoutMs) {
    return WSAPoll(entries, static_cast<ULONG>(count), timeoutMs);
}
bool LastWasTimeout() { return WSAGetLastError() == WSAETIMEDOUT || WSAGetLastError() == WSAEWOULDBLOCK; }
void SetBlocking(NativeSocket s, bool blocking) {
    u_long on = blocking ? 0 : 1;
    ioctlsocket(s, FIONBIO, &on);
}
int ConnectError() {
    switch (WSAGetLastError()) {
    case WSAEISCONN: return 0;
    case WSAEWOULDBLOCK:
    case WSAEALREADY:
    case WSAEINVAL: return EINPROGRESS;
    default: return -1;
    }
}
#else
using NativeSocket = int;
const NativeSocket kNoSocket = -1;
void EnsureStarted() {}
void CloseNative(NativeSocket s) { ::close(s); }
using PollEntry = pollfd;
constexpr short kPollRead = POLLIN;
constexpr short kPollWrite = POLLOUT;
int PollMany(PollEntry* entries, std::size_t count, int timeoutMs) {
    int r;
    do {
        r = ::poll(entries, static_cast<nfds_t>(count), timeoutMs);
    } while (r < 0 && errno == EINTR && timeoutMs < 0);
    return r;
}
bool LastWasTimeout() { return errno == EAGAIN || errno == EWOULDBLOCK; }
void SetBlocking(NativeSocket s, bool blocking) {
    const int flags = ::fcntl(s, F_GETFL);
    ::fcntl(s, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK);
}
// After a non-blocking connect failed: 0 when it has in fact connected, EINPROGRESS
// while it is under way, EAGAIN when a unix listener's queue is full (worth asking
// again), -1 for a plain failure.
int ConnectError() {
    switch (errno) {
    case EISCONN: return 0;
    case EINPROGRESS:
    case EALREADY:
    case EINTR: return EINPROGRESS;
    case EAGAIN: return EAGAIN;
    default: return -1;
    }
}
#endif

// The end of a wait: a time limit, and the caller's wish to give up.
class Deadline {
public:
    Deadline(int timeoutMs, const GiveUp& giveUp)
        : timeoutMs_(timeoutMs), until_(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs)), giveUp_(giveUp) {}

    // How long to wait next, or why the wait is over.
    Result<int> NextSlice() const {
        if (giveUp_ && giveUp_()) return Failure(kInterrupted);
        if (timeoutMs_ < 0) return kWaitSliceMs;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until_ - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return Failure("no answer within " + (timeoutMs_ % 1000 == 0 ? std::to_string(timeoutMs_ / 1000) + " s"
                                                                         : std::to_string(timeoutMs_) + " ms"));
        return static_cast<int>(std::min<long long>(kWaitSliceMs, left));
    }

    static constexpr const char* kInterrupted = "interrupted";

private:
    int timeoutMs_;
    std::chrono::steady_clock::time_point until_;
    const GiveUp& giveUp_;
};

int PollWritable(NativeSocket s, int timeoutMs) {
    PollEntry p{};
    p.fd = s;
    p.events = kPollWrite;
    return PollMany(&p, 1, timeoutMs);
}

// Connects s without ever waiting past the deadline: a listener whose queue is full
// leaves a blocking connect hanging until the system gives up, minutes later.
// s is left blocking.
Status ConnectWithin(NativeSocket s, const sockaddr* address, socklen_t length, const Deadline& deadline) {
    SetBlocking(s, false);
    for (;;) {
        if (::connect(s, address, length) == 0) break;
        const int state = ConnectError();
        if (state == 0) break;
        if (state < 0) return Failure(Socket::LastError());
        const Result<int> next = deadline.NextSlice();
        if (!next) return Failure(next.Error());
        const int slice = next.Value();
        if (state == EAGAIN) {
            std::this_thread::sleep_for(std::chrono::milliseconds(slice));  // the listener may take someone meanwhile
            continue;
        }
        if (PollWritable(s, slice) <= 0) continue;
        int code = 0;
        socklen_t size = sizeof code;
        ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code), &size);
        if (code != 0) {
#if defined(_WIN32)
            return Failure("socket error " + std::to_string(code));
#else
            return Failure(std::strerror(code));
#endif
        }
        break;
    }
    SetBlocking(s, true);
    return {};
}

int PollOne(NativeSocket s, int timeoutMs) {
    PollEntry p{};
    p.fd = s;
    p.events = kPollRead;
    return PollMany(&p, 1, timeoutMs);
}

NativeSocket Native(std::intptr_t handle) { return static_cast<NativeSocket>(handle); }
std::intptr_t Handle(NativeSocket s) {
    return s == kNoSocket ? std::intptr_t{-1} : static_cast<std::intptr_t>(s);
}

bool ParsePort(const std::string& text, std::uint16_t& port) {
    if (text.empty() || text.size() > 5) return false;
    unsigned long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value > 65535) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

#if !defined(_WIN32)
Result<sockaddr_un> UnixAddress(const std::string& path) {
    sockaddr_un address;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return Failure("unix socket path too long: " + path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

// Whether a listener accepts connections on the unix socket at address. The probe is
// non-blocking, so a listener whose queue is full counts as there without hanging.
bool SomeoneListens(const sockaddr_un& address) {
    int probe = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (probe < 0) return false;
    ::fcntl(probe, F_SETFL, O_NONBLOCK);
    const bool there = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ||
                       errno == EAGAIN || errno == EINPROGRESS;
    ::close(probe);
    return there;
}

// Binds s to the unix socket path, taking over a socket file a dead listener left.
Status BindUnix(int s, const std::string& path, const sockaddr_un& address) {
    if (::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return {};
    if (errno != EADDRINUSE) return Failure(Socket::LastError());
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISSOCK(status.st_mode))
        return Failure("the path exists and is not a socket; it is left alone");
    if (SomeoneListens(address)) return Failure("another program is listening on it");
    ::unlink(path.c_str());
    if (::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return {};
    return Failure(Socket::LastError());
}
#endif

// Connections the system holds for a listener until it takes them; a second client is
// then turned away with a line instead of waiting in the queue.
constexpr int kListenQueue = 64;

}  // namespace

std::string Endpoint::Describe() const {
    if (isUnix) return "unix:" + path;
    if (host.find(':') != std::string::npos) return "[" + host + "]:" + std::to_string(port);
    return host + ":" + std::to_string(port);
}

Result<Endpoint> ParseEndpoint(const std::string& text) {
    Endpoint out;
    if (text.rfind("unix:", 0) == 0) {
        out.isUnix = true;
        out.path = text.substr(5);
        if (out.path.empty()) return Failure("no socket path after \"unix:\"");
        return out;
    }
    std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return Failure("expected HOST:PORT or unix:PATH, got \"" + text + "\"");
    std::string host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    if (!ParsePort(text.substr(colon + 1), out.port)) return Failure("bad TCP port in \"" + text + "\"");
    out.host = host;
    return out;
}

Socket::Socket(std::intptr_t handle) : handle_(handle) {}

Socket::~Socket() { Close(); }

Socket::Socket(Socket&& other) noexcept : handle_(other.handle_), timedOut_(other.timedOut_) {
    other.handle_ = kInvalid;
}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        timedOut_ = other.timedOut_;
        other.handle_ = kInvalid;
    }
    return *this;
}

void Socket::Close() {
    if (handle_ != kInvalid) CloseNative(Native(handle_));
    handle_ = kInvalid;
}

bool Socket::SendAll(const char* data, std::size_t size) {
    while (size > 0) {
#if defined(_WIN32)
        int n = ::send(Native(handle_), data, static_cast<int>(size), 0);
#else
        ssize_t n = ::send(Native(handle_), data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
#endif
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

long Socket::SendSome(const char* data, std::size_t size) {
    for (;;) {
#if defined(_WIN32)
        int n = ::send(Native(handle_), data, static_cast<int>(size), 0);
        if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) return 0;
#else
        ssize_t n = ::send(Native(handle_), data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
#endif
        return n < 0 ? -1 : static_cast<long>(n);
    }
}

void Socket::ShutdownSend() {
#if defined(_WIN32)
    ::shutdown(Native(handle_), SD_SEND);
#else
    ::shutdown(Native(handle_), SHUT_WR);
#endif
}

long Socket::Receive(char* buffer, std::size_t size) {
    timedOut_ = false;
    for (;;) {
#if defined(_WIN32)
        int n = ::recv(Native(handle_), buffer, static_cast<int>(size), 0);
#else
        ssize_t n = ::recv(Native(handle_), buffer, size, 0);
        if (n < 0 && errno == EINTR) continue;
#endif
        if (n < 0) {
            timedOut_ = LastWasTimeout();
            return -1;
        }
        return static_cast<long>(n);
    }
}

bool Socket::WaitReadable(int timeoutMs) { return PollOne(Native(handle_), timeoutMs) > 0; }

bool Socket::WaitWritable(int timeoutMs) { return PollWritable(Native(handle_), timeoutMs) > 0; }

bool Socket::PeerClosed() {
    char byte = 0;
    for (;;) {
#if defined(_WIN32)
        const int n = ::recv(Native(handle_), &byte, 1, MSG_PEEK);
        if (n < 0) return WSAGetLastError() != WSAEWOULDBLOCK;
#else
        const ssize_t n = ::recv(Native(handle_), &byte, 1, MSG_PEEK);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno != EAGAIN && errno != EWOULDBLOCK;
#endif
        return n == 0;
    }
}

void Socket::SetNonBlocking(bool on) { SetBlocking(Native(handle_), !on); }

void Socket::SetNoDelay() {
    int on = 1;
    // Fails harmlessly on unix sockets, which have no delay to switch off.
    setsockopt(Native(handle_), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

std::string Socket::LastError() {
#if defined(_WIN32)
    return "socket error " + std::to_string(WSAGetLastError());
#else
    return std::strerror(errno);
#endif
}

Result<Socket> Connect(const Endpoint& where, int timeoutMs, const GiveUp& giveUp) {
    EnsureStarted();
    const Deadline deadline(timeoutMs, giveUp);
    if (where.isUnix) {
#if defined(_WIN32)
        return Failure("unix sockets are not supported on this system");
#else
        const Result<sockaddr_un> address = UnixAddress(where.path);
        if (!address) return Failure(address.Error());
        int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (s < 0) return Failure(Socket::LastError());
        const Status connected =
            ConnectWithin(s, reinterpret_cast<const sockaddr*>(&address.Value()), sizeof address.Value(), deadline);
        if (!connected) {
            ::close(s);
            return Failure(connected.Error());
        }
        return Socket(s);
#endif
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::string service = std::to_string(where.port);
    int rc = ::getaddrinfo(where.host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0 || found == nullptr) return Failure("cannot resolve host \"" + where.host + "\"");
    std::string error = "no address to connect to";  // the last address's, when all fail
    for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
        NativeSocket s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == kNoSocket) {
            error = Socket::LastError();
            continue;
        }
        const Status tried = ConnectWithin(s, a->ai_addr, static_cast<socklen_t>(a->ai_addrlen), deadline);
        if (tried) {
            ::freeaddrinfo(found);
            Socket connected(Handle(s));
            connected.SetNoDelay();
            return connected;
        }
        error = tried.Error();
        CloseNative(s);
        if (error == Deadline::kInterrupted) break;
    }
    ::freeaddrinfo(found);
    return Failure(error);
}

Listener::~Listener() { Close(); }

Status Listener::Open(const Endpoint& where, bool onNetwork) {
    EnsureStarted();
    Close();
    bound_ = where;
    if (where.isUnix) {
#if defined(_WIN32)
        return Failure("unix sockets are not supported on this system");
#else
        const Result<sockaddr_un> address = UnixAddress(where.path);
        if (!address) return Failure(address.Error());
        int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (s < 0) return Failure(Socket::LastError());
        const Status bound = BindUnix(s, where.path, address.Value());
        if (!bound) {
            ::close(s);
            return bound;
        }
        ownsPath_ = true;
        if (::listen(s, kListenQueue) != 0) {
            const std::string error = Socket::LastError();
            ::close(s);
            ::unlink(where.path.c_str());
            ownsPath_ = false;
            return Failure(error);
        }
        handle_ = s;
        return {};
#endif
    }
    // Loopback unless asked: the receiver is a test peer, not a service for the network.
    in_addr host{};
    host.s_addr = htonl(INADDR_LOOPBACK);
    if (onNetwork) host.s_addr = ::inet_addr(where.host.c_str());  // both systems have it, IPv4 only
    if (onNetwork && host.s_addr == INADDR_NONE) return Failure(where.host + " is not an IPv4 address of this machine");
    NativeSocket s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == kNoSocket) return Failure(Socket::LastError());
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr = host;
    address.sin_port = htons(where.port);
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(s, kListenQueue) != 0) {
        const std::string error = Socket::LastError();
        CloseNative(s);
        return Failure(error);
    }
    socklen_t length = sizeof address;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    bound_.host = onNetwork ? where.host : "127.0.0.1";
    bound_.port = ntohs(address.sin_port);
    handle_ = Handle(s);
    return {};
}

Socket Listener::Accept(int timeoutMs) {
    if (handle_ == -1) return Socket();
    if (PollOne(Native(handle_), timeoutMs) <= 0) return Socket();
    NativeSocket s = ::accept(Native(handle_), nullptr, nullptr);
    if (s == kNoSocket) return Socket();
    Socket client(Handle(s));
    if (!bound_.isUnix) client.SetNoDelay();
    return client;
}

void Listener::Close() {
    if (handle_ == -1) return;
    CloseNative(Native(handle_));
    handle_ = -1;
#if !defined(_WIN32)
    if (ownsPath_) ::unlink(bound_.path.c_str());
#endif
    ownsPath_ = false;
}

std::size_t PollSet::Add(const Socket& socket, bool read, bool write) {
    entries_.push_back(Entry{socket.handle_, read, write});
    return entries_.size() - 1;
}

std::size_t PollSet::Add(const Listener& listener) {
    entries_.push_back(Entry{listener.handle_, true, false});
    return entries_.size() - 1;
}

bool PollSet::Wait(int timeoutMs) {
    std::vector<PollEntry> native(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        native[i].fd = Native(entries_[i].handle);
        native[i].events = static_cast<short>((entries_[i].read ? kPollRead : 0) | (entries_[i].write ? kPollWrite : 0));
    }
    const int ready = PollMany(native.data(), native.size(), timeoutMs);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const short seen = ready > 0 ? native[i].revents : 0;
        const bool broken = (seen & (POLLERR | POLLHUP | POLLNVAL)) != 0;
        entries_[i].readable = entries_[i].read && ((seen & kPollRead) != 0 || broken);
        entries_[i].writable = entries_[i].write && ((seen & kPollWrite) != 0 || broken);
    }
    return ready > 0;
}

}  // namespace orbvex::net

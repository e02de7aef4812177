// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "util/result.h"

// The stream sockets that carry the remote bit-bang protocol: TCP, or a unix socket
// where the platform has them. Both ends of the protocol use these and nothing else
// of the host's code.

namespace orbvex::net {

// Where a peer listens: "HOST:PORT" ("[::1]:PORT" for IPv6) or "unix:PATH".
struct Endpoint {
    bool isUnix = false;
    std::string host;        // TCP only
    std::uint16_t port = 0;  // TCP only; 0 when listening means any free port
    std::string path;        // unix only

    std::string Describe() const;
};

// The endpoint, or why text is not one of the two forms above.
Result<Endpoint> ParseEndpoint(const std::string& text);

// One connected stream socket; closes itself.
class Socket {
public:
    Socket() = default;
    explicit Socket(std::intptr_t handle);
    ~Socket();
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool Valid() const { return handle_ != kInvalid; }
    void Close();

    // Sends every byte, or fails (peer gone). Never raises SIGPIPE.
    bool SendAll(const char* data, std::size_t size);
    // On a non-blocking socket: sends what fits now. Bytes sent (0 when nothing fits),
    // or -1 when the peer is gone.
    long SendSome(const char* data, std::size_t size);
    // No more data from this end; the peer reads what was sent, then the end.
    void ShutdownSend();
    // Bytes received (> 0), 0 when the peer closed, -1 on error or, on a non-blocking
    // socket, when nothing is there yet (TimedOut() tells which).
    long Receive(char* buffer, std::size_t size);
    // Waits up to timeoutMs for something to read; false on timeout or error.
    bool WaitReadable(int timeoutMs);
    // Waits up to timeoutMs for room to send; false on timeout or error.
    bool WaitWritable(int timeoutMs);
    // On a non-blocking socket, without taking anything: true when the peer has closed
    // its end (or the connection failed), false while it is open, data waiting or not.
    bool PeerClosed();
    bool TimedOut() const { return timedOut_; }

    // Sends and receives return at once instead of waiting (Receive: -1 and TimedOut()).
    void SetNonBlocking(bool on = true);
    // Small writes go out at once: every sample is a round trip that waits on them.
    void SetNoDelay();

    // Text of the last socket error, for messages.
    static std::string LastError();

private:
    friend class PollSet;
    static constexpr std::intptr_t kInvalid = -1;
    std::intptr_t handle_ = kInvalid;
    bool timedOut_ = false;
};

// Asked while a wait goes on; true gives the wait up.
using GiveUp = std::function<bool()>;
// Waits are cut in slices this long, so that a wish to give up is seen in time.
inline constexpr int kWaitSliceMs = 50;

// Connects to a listening peer, or says why not. A peer that does not take the
// connection (a listener whose queue is full, a host that drops it) is given up after
// timeoutMs (negative: when the system gives up), or as soon as giveUp says so. The
// socket comes back blocking.
Result<Socket> Connect(const Endpoint& where, int timeoutMs = -1, const GiveUp& giveUp = {});

// A listening socket, on the loopback interface only for TCP unless asked otherwise.
class Listener {
public:
    Listener() = default;
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // A unix socket file left behind by a listener that died is taken over; one that
    // someone still listens on, or a path that is no socket, is refused.
    // onNetwork: TCP on where.host (an IPv4 address; 0.0.0.0 for every interface) instead
    // of the loopback interface.
    Status Open(const Endpoint& where, bool onNetwork = false);
    // Waits up to timeoutMs (negative: forever) for a client; invalid on timeout.
    Socket Accept(int timeoutMs);
    // The endpoint as bound: for TCP with the port actually given by the system.
    const Endpoint& Bound() const { return bound_; }
    void Close();

private:
    friend class PollSet;
    std::intptr_t handle_ = -1;
    Endpoint bound_;
    bool ownsPath_ = false;  // a unix socket file this listener made, removed on close
};

// Waits on several sockets at once.
class PollSet {
public:
    void Clear() { entries_.clear(); }
    // Each returns the entry's index for the questions below.
    std::size_t Add(const Socket& socket, bool read, bool write);
    std::size_t Add(const Listener& listener);  // readable: a client is waiting
    // Waits up to timeoutMs for any entry; false on timeout, error or a signal.
    bool Wait(int timeoutMs);
    // Readable also when the peer has gone or the socket failed: a receive tells which.
    bool Readable(std::size_t index) const { return entries_[index].readable; }
    bool Writable(std::size_t index) const { return entries_[index].writable; }

private:
    struct Entry {
        std::intptr_t handle;
        bool read, write;
        bool readable = false, writable = false;
    };
    std::vector<Entry> entries_;
};

}  // namespace orbvex::net

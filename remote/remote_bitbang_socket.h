#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

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

// False (and a reason in error) when text is not one of the two forms above.
bool ParseEndpoint(const std::string& text, Endpoint& out, std::string& error);

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
    // Bytes received (> 0), 0 when the peer closed, -1 on error or when the receive
    // timeout ran out (TimedOut() tells which).
    long Receive(char* buffer, std::size_t size);
    // Waits up to timeoutMs for something to read; false on timeout or error.
    bool WaitReadable(int timeoutMs);
    bool TimedOut() const { return timedOut_; }

    void SetReceiveTimeout(int milliseconds);
    // Small writes go out at once: every sample is a round trip that waits on them.
    void SetNoDelay();

    // Text of the last socket error, for messages.
    static std::string LastError();

private:
    static constexpr std::intptr_t kInvalid = -1;
    std::intptr_t handle_ = kInvalid;
    bool timedOut_ = false;
};

// Connects to a listening peer; an invalid socket and a reason on failure.
Socket Connect(const Endpoint& where, std::string& error);

// A listening socket, on the loopback interface only for TCP.
class Listener {
public:
    Listener() = default;
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    bool Open(const Endpoint& where, std::string& error);
    // Waits up to timeoutMs (negative: forever) for a client; invalid on timeout.
    Socket Accept(int timeoutMs);
    // The endpoint as bound: for TCP with the port actually given by the system.
    const Endpoint& Bound() const { return bound_; }
    void Close();

private:
    std::intptr_t handle_ = -1;
    Endpoint bound_;
};

}  // namespace orbvex::net

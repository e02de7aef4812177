// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "port/port_backend.h"
#include "remote/remote_bitbang_socket.h"

namespace orbvex {

// The server's half of the remote bit-bang protocol: turns the client's requests into
// parallel-port register accesses on a backend (the virtual receiver, say), as if the
// client's cable were plugged into that backend.
//
// '0'..'7' (TCK 4, TMS 2, TDI 1) write the data register (TMS bit 0, TCK bit 1, TDI
// bit 2) with the reset line (bit 3) as 'r'..'u' last set it: TRST asserted ('t', 'u')
// drives the line low, released ('r', 's') high. 'R' reads the status register and
// answers '1' when TDO (bit 4) is set, else '0'. 'B'/'b' switch the blink light, 'Q'
// ends the session; the SWD and sleep requests are not for a JTAG cable and are ignored.
class RemoteBitbangInterpreter {
public:
    explicit RemoteBitbangInterpreter(PortBackend& target, std::uint16_t lptBase = 0x378);

    // Handles each request in data; answers go to the end of replies.
    // False once a quit request was seen (the rest of data is not handled).
    bool Feed(const char* data, std::size_t size, std::string& replies);

    bool BlinkOn() const { return blink_; }
    std::uint64_t Reads() const { return reads_; }
    std::uint64_t Writes() const { return writes_; }

private:
    void WriteData();

    PortBackend& target_;
    std::uint16_t base_;
    std::uint8_t pins_ = 0;
    bool resetHigh_ = true;  // a client that never sends 'r'..'u' leaves TRST released
    bool blink_ = false;
    std::uint64_t reads_ = 0;
    std::uint64_t writes_ = 0;
};

// What keeps one client from holding the server.
struct ServerLimits {
    // A client that neither sends a request nor takes an answer for this long is dropped.
    int idleTimeoutMs = 60000;
    // Answers a client has not taken yet. At this many the server reads no more of its
    // requests until it takes some, so a client that never reads costs a bounded buffer,
    // then the idle timeout.
    std::size_t replyBacklog = 64 * 1024;
    // How often the stop flag is looked at.
    int pollMs = 200;
};

// The line a client gets, before it is closed, when another one is being served.
inline constexpr const char* kBusyLine = "busy: another client is connected\n";

enum class ServerEvent {
    Connected,   // a client is being served
    TurnedAway,  // a client came while another was served: told busy and closed
    // The client served has gone:
    Quit,        // it sent the quit request
    Closed,      // it closed the connection (or the connection failed)
    Idle,        // it sent nothing for the idle timeout
    NotReading,  // it took none of its answers for the idle timeout
    Stopped,     // the server was told to stop
};
// A line for the server's log: "client connected", "client quit", ...
std::string Describe(ServerEvent event);
inline bool ClientGone(ServerEvent event) { return event != ServerEvent::Connected && event != ServerEvent::TurnedAway; }

// Serves the clients of a listener one at a time, each through an interpreter of its
// own on the same backend (so the receiver keeps its state from one client to the
// next), until stop becomes true or onEvent returns false. Sockets are non-blocking and
// watched together: a client that sends nothing, floods requests or never reads its
// answers cannot block the server, keep it from stopping or keep others waiting.
void ServeRemoteBitbang(net::Listener& listener, PortBackend& target, const std::atomic<bool>* stop,
                        const std::function<bool(ServerEvent)>& onEvent, const ServerLimits& limits = {});

}  // namespace orbvex

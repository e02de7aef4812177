#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
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

// Serves one connected client until it quits or goes away, or stop becomes true
// (checked about every pollMs). Answers of one received batch go out in one send.
// Returns true when the client ended with a quit request.
bool ServeRemoteBitbang(net::Socket& client, RemoteBitbangInterpreter& interpreter, const std::atomic<bool>* stop = nullptr,
                        int pollMs = 200);

}  // namespace orbvex

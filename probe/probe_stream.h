// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The byte streams a probe is reached over: a socket (TCP or unix), a serial line.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "remote/remote_bitbang_socket.h"
#include "util/result.h"

namespace orbvex::probe {

class ProbeStream {
public:
    virtual ~ProbeStream() = default;
    // Sends every byte, or says why not (the peer gone).
    virtual Status Send(const std::uint8_t* data, std::size_t size) = 0;
    // Waits up to timeoutMs for bytes. Bytes read (> 0); 0 when nothing came in time;
    // why, when the stream ended or failed.
    virtual Result<std::size_t> Receive(std::uint8_t* buffer, std::size_t size, int timeoutMs) = 0;
    // Whether a probe on it may be starting up when it opens (a board reset by the line).
    virtual bool MayBeBooting() const { return false; }
};

std::unique_ptr<ProbeStream> MakeSocketStream(net::Socket socket);

// A serial line, raw, 8N1, at baud; or why it cannot be opened or set.
Result<std::unique_ptr<ProbeStream>> OpenSerialStream(const std::string& device, int baud);
inline constexpr int kDefaultBaud = 1000000;

}  // namespace orbvex::probe

// SPDX-License-Identifier: GPL-2.0-or-later
#include "probe/probe_stream.h"

#include <utility>

namespace orbvex::probe {
namespace {

class SocketStream final : public ProbeStream {
public:
    explicit SocketStream(net::Socket socket) : socket_(std::move(socket)) {
        socket_.SetNoDelay();
        socket_.SetNonBlocking();
    }
    Status Send(const std::uint8_t* data, std::size_t size) override {
        std::size_t sent = 0;
        while (sent < size) {
            const long n = socket_.SendSome(reinterpret_cast<const char*>(data) + sent, size - sent);
            if (n < 0) return Failure("the connection broke (" + net::Socket::LastError() + ")");
            if (n == 0 && !socket_.WaitWritable(kSendWaitMs)) return Failure("the probe takes no more requests");
            sent += static_cast<std::size_t>(n);
        }
        return {};
    }
    Result<std::size_t> Receive(std::uint8_t* buffer, std::size_t size, int timeoutMs) override {
        if (!socket_.WaitReadable(timeoutMs)) return std::size_t{0};
        const long n = socket_.Receive(reinterpret_cast<char*>(buffer), size);
        if (n > 0) return static_cast<std::size_t>(n);
        if (n < 0 && socket_.TimedOut()) return std::size_t{0};
        return Failure(n == 0 ? "the probe closed the connection" : "the connection broke (" + net::Socket::LastError() + ")");
    }

private:
    static constexpr int kSendWaitMs = 10000;
    net::Socket socket_;
};

}  // namespace

std::unique_ptr<ProbeStream> MakeSocketStream(net::Socket socket) { return std::make_unique<SocketStream>(std::move(socket)); }

}  // namespace orbvex::probe

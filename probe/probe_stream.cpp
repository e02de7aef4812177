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
    bool Send(const std::uint8_t* data, std::size_t size, std::string& why) override {
        std::size_t sent = 0;
        while (sent < size) {
            const long n = socket_.SendSome(reinterpret_cast<const char*>(data) + sent, size - sent);
            if (n < 0) {
                why = "the connection broke (" + net::Socket::LastError() + ")";
                return false;
            }
            if (n == 0 && !socket_.WaitWritable(kSendWaitMs)) {
                why = "the probe takes no more requests";
                return false;
            }
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }
    long Receive(std::uint8_t* buffer, std::size_t size, int timeoutMs, std::string& why) override {
        if (!socket_.WaitReadable(timeoutMs)) return 0;
        const long n = socket_.Receive(reinterpret_cast<char*>(buffer), size);
        if (n > 0) return n;
        if (n < 0 && socket_.TimedOut()) return 0;
        why = n == 0 ? "the probe closed the connection" : "the connection broke (" + net::Socket::LastError() + ")";
        return -1;
    }

private:
    static constexpr int kSendWaitMs = 10000;
    net::Socket socket_;
};

}  // namespace

std::unique_ptr<ProbeStream> MakeSocketStream(net::Socket socket) { return std::make_unique<SocketStream>(std::move(socket)); }

}  // namespace orbvex::probe

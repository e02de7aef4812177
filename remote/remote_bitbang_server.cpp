#include "remote/remote_bitbang_server.h"

#include "port/cable_wiring.h"

namespace orbvex {
using namespace cable;

RemoteBitbangInterpreter::RemoteBitbangInterpreter(PortBackend& target, std::uint16_t lptBase)
    : target_(target), base_(lptBase) {}

void RemoteBitbangInterpreter::WriteData() {
    target_.Write(base_, static_cast<std::uint8_t>(pins_ | (resetHigh_ ? kResetLine : 0)));
    ++writes_;
}

bool RemoteBitbangInterpreter::Feed(const char* data, std::size_t size, std::string& replies) {
    for (std::size_t i = 0; i < size; ++i) {
        char c = data[i];
        if (c >= '0' && c <= '7') {
            int bits = c - '0';
            pins_ = static_cast<std::uint8_t>(((bits & 4) ? kTck : 0) | ((bits & 2) ? kTms : 0) | ((bits & 1) ? kTdi : 0));
            WriteData();
        } else if (c >= 'r' && c <= 'u') {
            bool trstAsserted = ((c - 'r') & 2) != 0;  // srst (bit 0) has no wire on this cable
            resetHigh_ = !trstAsserted;
            WriteData();
        } else if (c == 'R') {
            ++reads_;
            replies.push_back((target_.Read(static_cast<std::uint16_t>(base_ + 1)) & kTdoStatus) ? '1' : '0');
        } else if (c == 'B' || c == 'b') {
            blink_ = (c == 'B');
        } else if (c == 'Q') {
            return false;
        }
        // Anything else (SWD requests, sleeps, line ends from a hand-typed session): ignored.
    }
    return true;
}

bool ServeRemoteBitbang(net::Socket& client, RemoteBitbangInterpreter& interpreter, const std::atomic<bool>* stop,
                        int pollMs) {
    char buffer[16384];
    std::string replies;
    for (;;) {
        if (stop && *stop) return false;
        if (!client.WaitReadable(pollMs)) continue;
        long n = client.Receive(buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && client.TimedOut()) continue;
            return false;
        }
        replies.clear();
        bool more = interpreter.Feed(buffer, static_cast<std::size_t>(n), replies);
        if (!replies.empty() && !client.SendAll(replies.data(), replies.size())) return false;
        if (!more) return true;
    }
}

}  // namespace orbvex

// SPDX-License-Identifier: GPL-2.0-or-later
#include "remote/remote_bitbang_server.h"

#include <chrono>
#include <memory>
#include <utility>
#include <vector>

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

namespace {

using Clock = std::chrono::steady_clock;

// Turned-away clients are kept a moment after the busy line, their requests read and
// thrown away, so that closing does not reset the connection before they read the line.
constexpr auto kFarewellTime = std::chrono::seconds(2);
constexpr std::size_t kMostFarewells = 64;
constexpr std::size_t kReceiveChunk = 16384;

class ServingLoop {
public:
    ServingLoop(net::Listener& listener, PortBackend& target, const std::function<bool(ServerEvent)>& onEvent,
                const ServerLimits& limits)
        : listener_(listener), target_(target), onEvent_(onEvent), limits_(limits) {}

    // One wait on every socket and what follows from it; false when serving is over.
    bool Turn() {
        net::PollSet sockets;
        const std::size_t listening = sockets.Add(listener_);
        // A client with a full backlog of answers is not read until it takes some.
        const std::size_t served =
            client_.Valid() ? sockets.Add(client_, Pending() < limits_.replyBacklog, Pending() > 0) : 0;
        std::size_t firstFarewell = 0;
        for (const Farewell& f : farewells_) {
            const std::size_t index = sockets.Add(f.socket, true, false);
            if (&f == &farewells_.front()) firstFarewell = index;
        }
        sockets.Wait(limits_.pollMs);

        const Clock::time_point now = Clock::now();
        for (std::size_t i = farewells_.size(); i-- > 0;) {
            if (sockets.Readable(firstFarewell + i)) Discard(farewells_[i].socket);
            if (!farewells_[i].socket.Valid() || now >= farewells_[i].until)
                farewells_.erase(farewells_.begin() + static_cast<std::ptrdiff_t>(i));
        }
        if (client_.Valid() && !Serve(sockets.Writable(served), sockets.Readable(served), now)) return false;
        return !sockets.Readable(listening) || TakeNewcomers(now);
    }

    // The client is dropped because the server stops.
    void Stop() {
        if (client_.Valid()) End(ServerEvent::Stopped);
    }

private:
    struct Farewell {
        net::Socket socket;
        Clock::time_point until;
    };

    std::size_t Pending() const { return replies_.size() - sent_; }

    bool Serve(bool writable, bool readable, Clock::time_point now) {
        if (writable && !SendReplies(now)) return End(ServerEvent::Closed);
        if (readable) {
            char buffer[kReceiveChunk];
            const long n = client_.Receive(buffer, sizeof buffer);
            if (n == 0 || (n < 0 && !client_.TimedOut())) return End(ServerEvent::Closed);
            if (n > 0) {
                lastProgress_ = now;
                const bool more = interpreter_->Feed(buffer, static_cast<std::size_t>(n), replies_);
                if (!SendReplies(now)) return End(ServerEvent::Closed);
                if (!more) return End(ServerEvent::Quit);
            }
        }
        if (now - lastProgress_ >= std::chrono::milliseconds(limits_.idleTimeoutMs))
            return End(Pending() > 0 ? ServerEvent::NotReading : ServerEvent::Idle);
        return true;
    }

    // Sends what the client's socket takes now; false when the client is gone.
    bool SendReplies(Clock::time_point now) {
        while (Pending() > 0) {
            const long n = client_.SendSome(replies_.data() + sent_, Pending());
            if (n < 0) return false;
            if (n == 0) break;
            sent_ += static_cast<std::size_t>(n);
            lastProgress_ = now;
        }
        if (sent_ == replies_.size() || sent_ >= limits_.replyBacklog) {
            replies_.erase(0, sent_);
            sent_ = 0;
        }
        return true;
    }

    bool TakeNewcomers(Clock::time_point now) {
        for (net::Socket newcomer = listener_.Accept(0); newcomer.Valid(); newcomer = listener_.Accept(0)) {
            newcomer.SetNonBlocking();
            if (!client_.Valid()) {
                client_ = std::move(newcomer);
                interpreter_ = std::make_unique<RemoteBitbangInterpreter>(target_);
                replies_.clear();
                sent_ = 0;
                lastProgress_ = now;
                if (!onEvent_(ServerEvent::Connected)) return false;
                continue;
            }
            newcomer.SendSome(kBusyLine, std::char_traits<char>::length(kBusyLine));
            newcomer.ShutdownSend();
            if (farewells_.size() == kMostFarewells) farewells_.erase(farewells_.begin());
            farewells_.push_back(Farewell{std::move(newcomer), now + kFarewellTime});
            if (!onEvent_(ServerEvent::TurnedAway)) return false;
        }
        return true;
    }

    // Reads and forgets what a turned-away client sent; closes it once it has gone.
    static void Discard(net::Socket& socket) {
        char buffer[kReceiveChunk];
        const long n = socket.Receive(buffer, sizeof buffer);
        if (n == 0 || (n < 0 && !socket.TimedOut())) socket.Close();
    }

    // Returns what onEvent says: whether serving goes on.
    bool End(ServerEvent why) {
        client_.Close();
        interpreter_.reset();
        replies_.clear();
        sent_ = 0;
        return onEvent_(why);
    }

    net::Listener& listener_;
    PortBackend& target_;
    const std::function<bool(ServerEvent)>& onEvent_;
    const ServerLimits& limits_;

    net::Socket client_;
    std::unique_ptr<RemoteBitbangInterpreter> interpreter_;
    std::string replies_;  // answers not yet taken by the client, from sent_ on
    std::size_t sent_ = 0;
    Clock::time_point lastProgress_;
    std::vector<Farewell> farewells_;
};

}  // namespace

std::string Describe(ServerEvent event) {
    switch (event) {
    case ServerEvent::Connected: return "client connected";
    case ServerEvent::TurnedAway: return "another client turned away: busy";
    case ServerEvent::Quit: return "client quit";
    case ServerEvent::Closed: return "client gone";
    case ServerEvent::Idle: return "client dropped: it sent nothing for the idle timeout";
    case ServerEvent::NotReading: return "client dropped: it took none of its answers for the idle timeout";
    case ServerEvent::Stopped: return "client dropped: stopping";
    }
    return "";
}

void ServeRemoteBitbang(net::Listener& listener, PortBackend& target, const std::atomic<bool>* stop,
                        const std::function<bool(ServerEvent)>& onEvent, const ServerLimits& limits) {
    ServingLoop loop(listener, target, onEvent, limits);
    while (!(stop && *stop)) {
        if (!loop.Turn()) return;
    }
    loop.Stop();
}

}  // namespace orbvex

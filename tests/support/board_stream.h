// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The simulated probe board as the host's stream, in this process and on this thread:
// what the host sends goes onto the board's serial line at its rate, and a wait for an
// answer runs the board until it has nothing left to do. Deterministic, and the board's
// time is the time the messages took there.
#include <algorithm>
#include <cstring>
#include <string>

#include "probe/probe_stream.h"
#include "probe/sim/avr_board.h"

namespace orbvex::test {

class BoardStream final : public probe::ProbeStream {
public:
    // The board has started and sleeps waiting for the host when the stream opens.
    explicit BoardStream(probe::AvrBoard& board) : board_(board) { board_.Run(kPatience); }
    Status Send(const std::uint8_t* data, std::size_t size) override {
        board_.HostSend(data, size);
        return {};
    }
    Result<std::size_t> Receive(std::uint8_t* buffer, std::size_t size, int) override {
        if (pending_.empty()) {
            board_.Run(kPatience);
            pending_ += board_.TakeReceived();
        }
        if (board_.Stopped()) return Failure("the board's firmware stopped");
        const std::size_t n = std::min(size, pending_.size());
        std::memcpy(buffer, pending_.data(), n);
        pending_.erase(0, n);
        return n;
    }

private:
    static constexpr std::uint64_t kPatience = 16000000ull * 120;  // two minutes of the board's time
    probe::AvrBoard& board_;
    std::string pending_;
};

}  // namespace orbvex::test

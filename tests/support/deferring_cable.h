// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <chrono>
#include <cstdint>
#include <deque>
#include <vector>

#include "port/cable_wiring.h"
#include "port/port_backend.h"

namespace orbvex {

// A cable with a round trip, in memory: it holds writes and read requests until an answer
// is wanted that has not come yet, or until it is flushed, then passes all it holds to
// its target in order, one round trip. It notes when the reset line moved at the target.
class DeferringCable final : public PortBackend {
public:
    explicit DeferringCable(PortBackend& target) : target_(target) {}
    std::uint8_t Read(std::uint16_t port) override {
        RequestRead(port);
        return TakeRead();
    }
    void Write(std::uint16_t port, std::uint8_t value) override { held_.push_back({false, port, value}); }
    bool DefersReads() const override { return true; }
    void RequestRead(std::uint16_t port) override { held_.push_back({true, port, 0}); }
    std::uint8_t TakeRead() override {
        if (answers_.empty()) Flush(), ++roundTrips;
        if (answers_.empty()) return 0xFF;  // nothing was asked: an open bus
        const std::uint8_t answer = answers_.front();
        answers_.pop_front();
        return answer;
    }
    void Flush() override {
        for (const Held& access : held_) {
            if (access.read) {
                answers_.push_back(target_.Read(access.port));
                continue;
            }
            if ((access.value ^ line_) & cable::kResetLine) resetMoves.push_back(std::chrono::steady_clock::now());
            target_.Write(access.port, line_ = access.value);
        }
        held_.clear();
    }

    std::uint64_t roundTrips = 0;
    std::vector<std::chrono::steady_clock::time_point> resetMoves;  // down, up, down, ...

private:
    struct Held {
        bool read;
        std::uint16_t port;
        std::uint8_t value;
    };
    PortBackend& target_;
    std::deque<Held> held_;
    std::deque<std::uint8_t> answers_;
    std::uint8_t line_ = cable::kResetLine;  // high until the link first drives it
};

}  // namespace orbvex

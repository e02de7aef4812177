// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A probe served in this process, its stream a pair of buffers: each request the host
// sends is answered at once, on this thread, by a ProbeServer driving its own target.
// A tamper hook may change the answers' bytes on the way back (damage, silence).
#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "port/kqportio.h"
#include "probe/probe_client.h"
#include "probe/probe_server.h"

namespace orbvex::test {

inline probe::Abilities InProcessProbeAbilities() {
    probe::Abilities a;
    a.window = 8;
    a.receiveBuffer = 8192;
    a.maxRequestBody = 1024;
    a.maxRawClocks = 2048;
    a.name = "in-process";
    return a;
}

inline probe::EngineState EngineOn(PortBackend& target) {
    probe::EngineState engine;
    engine.link.backend = &target;
    engine.link.portBase = kLpt1Base;
    return engine;
}

class LoopbackStream final : public probe::ProbeStream {
public:
    // Answer bytes, and the count of answer bytes already passed back.
    using Tamper = std::function<void(std::vector<std::uint8_t>& answer, std::size_t passed)>;

    explicit LoopbackStream(probe::ProbeServer& server, Tamper tamper = {}) : server_(server), tamper_(std::move(tamper)) {}
    Status Send(const std::uint8_t* data, std::size_t size) override {
        while (!answerEnds_.empty() && answerEnds_.front() <= taken_) answerEnds_.pop_front();
        mostInFlight = std::max(mostInFlight, answerEnds_.size() + 1);
        std::vector<std::uint8_t> answer;
        if (!open_ || !server_.Take(data, size, answer)) open_ = false;
        if (tamper_) tamper_(answer, passed_);
        passed_ += answer.size();
        answerEnds_.push_back(passed_);
        pending_.insert(pending_.end(), answer.begin(), answer.end());
        return {};
    }
    Result<std::size_t> Receive(std::uint8_t* buffer, std::size_t size, int) override {
        if (pending_.empty()) {
            if (open_) return std::size_t{0};
            return Failure("the probe closed the connection");
        }
        const std::size_t n = std::min(size, pending_.size());
        std::memcpy(buffer, pending_.data(), n);
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
        taken_ += n;
        return n;
    }

    // The most requests the host had sent whose answers it had not read (one request a send).
    std::size_t mostInFlight = 0;

private:
    probe::ProbeServer& server_;
    Tamper tamper_;
    std::vector<std::uint8_t> pending_;
    std::size_t passed_ = 0, taken_ = 0;
    std::deque<std::size_t> answerEnds_;  // where each answer ends in the bytes passed back
    bool open_ = true;
};

// A host's cable to a probe in this process that drives target.
struct InProcessProbe {
    explicit InProcessProbe(PortBackend& target, LoopbackStream::Tamper tamper = {}, int timeoutMs = 10000,
                            probe::ProbeServer::CableLost lost = {}, probe::Abilities abilities = InProcessProbeAbilities())
        : server(EngineOn(target), abilities, std::move(lost)),
          client(MakeStream(std::move(tamper)), timeoutMs) {
        const Status said = client.Hello();
        hello = said.Ok();
        helloError = said.Error();
    }
    std::unique_ptr<probe::ProbeStream> MakeStream(LoopbackStream::Tamper tamper) {
        auto made = std::make_unique<LoopbackStream>(server, std::move(tamper));
        stream = made.get();
        return made;
    }
    probe::ProbeServer server;
    LoopbackStream* stream = nullptr;
    probe::ProbeClient client;
    bool hello = false;
    std::string helloError;
};

}  // namespace orbvex::test

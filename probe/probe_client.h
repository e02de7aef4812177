// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The host's side of the probe protocol (docs/PROBE.md): a cable whose pins are driven
// by a probe, and which hands the DCU's messages to it whole.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "port/dcu_message_port.h"
#include "port/losable_cable.h"
#include "probe/probe_stream.h"
#include "probe/probe_wire.h"

namespace orbvex::probe {

// Pin writes become clocks: a rising TCK is a clock with the TMS and TDI it carries, a
// status read asked for before it is that clock's sample. Clocks gather into RAW runs
// that go out with whatever needs an answer next, or when the link flushes. A change of
// the reset line is the engine's reset-line step (a clock with TMS 0 and TDI 0) and
// becomes a RESET; a wait becomes a RESET that leaves the line and holds it.
//
// Requests whose answers decide nothing (clock runs without samples, resets) are sent
// ahead, as many as the probe's window and buffer allow; the host waits only for a
// sample, a message's result or room in the window.
//
// Any fault (a damaged, late or unexpected answer, an error answer, the stream gone)
// loses the cable: said once, and from then on reads answer TDO 1 and every message
// fails, so the operation under way ends by its normal paths.
class ProbeClient final : public LosableCable, public DcuMessagePort {
public:
    static constexpr int kInterruptGraceMs = 1000;
    static constexpr int kBootRetryMs = 250;

    ProbeClient(std::unique_ptr<ProbeStream> stream, int answerTimeoutMs);

    // Asks the probe what it is; why not, when it cannot serve this program.
    Status Hello();
    const Abilities& Probe() const { return abilities_; }
    void SetGiveUp(std::function<bool()> giveUp) { giveUp_ = std::move(giveUp); }
    // What Hello says when nothing answers at all: on a serial line, the rate it tried.
    void SetSilenceLine(std::string line) { silenceLine_ = std::move(line); }
    // Sends all that is queued and waits until every answer is in: false when the probe
    // was lost first.
    bool Sync();

    std::uint8_t Read(std::uint16_t port) override;
    void Write(std::uint16_t port, std::uint8_t value) override;
    bool DefersReads() const override { return true; }
    void RequestRead(std::uint16_t port) override;
    std::uint8_t TakeRead() override;
    void Flush() override;
    DcuMessagePort* Messages() override { return this; }

    std::int32_t ReadBlock(bool select, std::int32_t startWaitLimit, std::uint32_t address, std::uint8_t* buffer) override;
    bool ReadWord(bool select, std::int32_t startWaitLimit, std::uint32_t address, std::uint32_t& out) override;
    std::int32_t WriteBlock(bool select, std::int32_t startWaitLimit, std::uint32_t address, const std::uint8_t* data,
                            std::uint8_t length) override;
    bool WriteWord(bool select, std::int32_t startWaitLimit, std::uint32_t address, std::uint32_t value) override;
    void Hold(std::uint32_t ms) override;

    // The host's waits for an answer.
    std::uint64_t RoundTrips() const { return roundTrips_; }
    std::uint64_t BytesSent() const { return bytesSent_; }

private:
    struct Sent {
        std::uint8_t sequence;
        std::uint8_t type;
        std::size_t bytes;
        std::size_t samples;  // a RAW run's samples to come
        std::uint32_t holdMs;
    };

    void Clock(std::uint8_t pins);
    void SendRun();
    void SendReset(std::uint32_t holdMs);
    bool SendRequest(std::uint8_t type, std::vector<std::uint8_t> body, std::size_t samples = 0, std::uint32_t holdMs = 0);
    // Sends what is queued and waits for the answer to the newest request: its body, or
    // false when the probe was lost.
    bool Exchange(std::uint8_t type, std::vector<std::uint8_t> body, std::vector<std::uint8_t>& answer);
    bool AwaitUntil(const std::function<bool()>& done);
    bool TakeAnswer(const Frame& frame);
    std::vector<std::uint8_t> MessageHead(bool select, std::int32_t startWaitLimit, std::uint32_t address) const;
    void Lose(const std::string& why);

    std::unique_ptr<ProbeStream> stream_;
    int answerTimeoutMs_;
    std::function<bool()> giveUp_;
    std::string silenceLine_;
    Abilities abilities_;
    FrameReader reader_;
    std::uint8_t nextSequence_ = 0;

    // The RAW run being gathered, one entry per clock.
    std::vector<bool> tms_, tdi_, capture_;
    bool sampleAsked_ = false;  // a status read asked for, its clock not yet come
    std::uint8_t pins_ = 0;     // the data register as last written
    int probeReset_ = -1;       // the reset level the probe drives, -1 before the first
    bool resetQueued_ = false;  // a reset-line step not yet sent

    std::deque<Sent> inFlight_;
    std::size_t inFlightBytes_ = 0;
    std::deque<bool> samples_;
    bool answered_ = false;  // the newest request's answer is in answer_
    std::vector<std::uint8_t> answer_;
    std::uint64_t roundTrips_ = 0;
    std::uint64_t bytesSent_ = 0;
};

}  // namespace orbvex::probe

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "port/losable_cable.h"
#include "remote/remote_bitbang_socket.h"

namespace orbvex {

// The parallel-port cable played over the remote bit-bang protocol: a server on the
// other end of a socket drives (or simulates) the JTAG pins.
//
// Data-register writes (TMS bit 0, TCK bit 1, TDI bit 2, reset line bit 3) become
// '0'..'7' (TCK 4, TMS 2, TDI 1) whenever TCK, TMS or TDI change, and 'r' / 't' when
// the reset line goes high (released) / low (TRST asserted). Writes are only queued.
// A status read is an 'R' queued among them; its '0'/'1' answer becomes TDO on status
// bit 4. Reads are deferred: the link asks for several before it takes the first, and
// taking an answer not yet in sends the queue and waits, so one round trip brings the
// answers to everything asked for so far. None is spent on a write.
// The link writes only the data register and reads only the status register, so the
// port number is not looked at.
//
// When the connection drops (or the peer stops answering), the cable is lost: reported
// once, and the operation under way fails by its normal paths instead of hanging.
//
// The answer timeout bounds the wait for one answer, and for room to send requests (a
// peer that takes none is dropped as one that answers none); and the whole of a slow peer's
// waits: over every stretch of that length spent waiting, at least
// kLeastAnswersPerTimeout answers must have come. A healthy peer gives thousands; one
// that dribbles an answer every 0.2 s is dropped after one stretch, not after the tens
// of thousands of answers a START needs.
//
// Once the give-up question says yes (Ctrl-C), a peer that keeps the client waiting
// for kInterruptGraceMs more is dropped: a live peer lets the operation reach its next
// safe point, a stuck one does not hold the program for the rest of the timeout. The
// question is asked every net::kWaitSliceMs. Ctrl-C ends the tool within a second: the
// slice, the grace, and what the operation does on a dropped cable before it sees the
// stop (START's reset waits, up to 300 ms) fit in it.
class RemoteBitbangClient final : public LosableCable {
public:
    static constexpr int kDefaultAnswerTimeoutMs = 10000;
    static constexpr int kLeastAnswersPerTimeout = 100;
    static constexpr int kInterruptGraceMs = 300;

    explicit RemoteBitbangClient(net::Socket socket, int answerTimeoutMs = kDefaultAnswerTimeoutMs);
    ~RemoteBitbangClient() override;

    // A read asked for and taken at once: with answers still to take it gives the oldest.
    std::uint8_t Read(std::uint16_t port) override;
    void Write(std::uint16_t port, std::uint8_t value) override;

    bool DefersReads() const override { return true; }
    void RequestRead(std::uint16_t port) override;
    std::uint8_t TakeRead() override;
    // Sends what is queued without waiting for anything.
    void Flush() override;
    // Sends the queue and a quit request, and closes the connection.
    void Quit();

    void SetGiveUp(net::GiveUp giveUp) { giveUp_ = std::move(giveUp); }

    // Waits for answers to requests sent since the last such wait.
    std::uint64_t RoundTrips() const { return roundTrips_; }
    std::uint64_t BytesSent() const { return bytesSent_; }

private:
    enum class Waited { Ready,
                        TimedOut,
                        Closed,
                        Interrupted };
    Waited AwaitSocket(bool toSend);
    void Queue(char request);
    bool SendQueue();
    bool ReceiveAnswers();
    bool KeepsPace(std::chrono::steady_clock::duration waited, int answers);
    std::string UnexpectedAnswer(std::string received);
    void Drop(const std::string& reason);

    net::Socket socket_;
    std::string queue_;
    std::size_t queuedReads_ = 0;  // read requests in queue_
    std::size_t unanswered_ = 0;   // read requests sent whose answers have not come
    bool tripStarted_ = false;     // requests went out since the last wait for answers
    std::string answers_;          // answers come and not yet taken, from answersTaken_ on
    std::size_t answersTaken_ = 0;
    int lastPins_ = -1;   // TCK/TMS/TDI as last sent, -1 before the first write
    int lastReset_ = -1;  // reset line as last sent
    net::GiveUp giveUp_;
    std::chrono::steady_clock::duration waitedSinceGiveUp_{};
    std::uint64_t roundTrips_ = 0;
    std::uint64_t bytesSent_ = 0;
    std::chrono::milliseconds answerTimeout_;
    std::chrono::steady_clock::duration stretchWaited_{};  // waiting in the current stretch
    int stretchAnswers_ = 0;                               // and the answers it brought
};

}  // namespace orbvex

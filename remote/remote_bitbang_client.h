#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "port/port_backend.h"
#include "remote/remote_bitbang_socket.h"

namespace orbvex {

// The parallel-port cable played over the remote bit-bang protocol: a server on the
// other end of a socket drives (or simulates) the JTAG pins.
//
// Data-register writes (TMS bit 0, TCK bit 1, TDI bit 2, reset line bit 3) become
// '0'..'7' (TCK 4, TMS 2, TDI 1) whenever TCK, TMS or TDI change, and 'r' / 't' when
// the reset line goes high (released) / low (TRST asserted). Writes are only queued;
// a status read sends the queue and an 'R' in one go and waits for the '0'/'1' answer,
// which becomes TDO on status bit 4. One round trip per sample, none per write.
// The link writes only the data register and reads only the status register, so the
// port number is not looked at.
//
// When the connection drops (or the peer stops answering), the drop is reported once
// through the drop handler, writes are thrown away and every read answers TDO 1, so
// the operation under way fails by its normal paths instead of hanging.
//
// The answer timeout bounds the wait for one answer, and the whole of a slow peer's
// waits: over every stretch of that length spent waiting, at least
// kLeastAnswersPerTimeout answers must have come. A healthy peer gives thousands; one
// that dribbles an answer every 0.2 s is dropped after one stretch, not after the tens
// of thousands of answers a START needs.
class RemoteBitbangClient final : public PortBackend {
public:
    static constexpr int kDefaultAnswerTimeoutMs = 10000;
    static constexpr int kLeastAnswersPerTimeout = 100;

    explicit RemoteBitbangClient(net::Socket socket, int answerTimeoutMs = kDefaultAnswerTimeoutMs);
    ~RemoteBitbangClient() override;

    std::uint8_t Read(std::uint16_t port) override;
    void Write(std::uint16_t port, std::uint8_t value) override;

    // Sends the queued writes without waiting for anything.
    void Flush() override;
    // Sends the queue and a quit request, and closes the connection.
    void Quit();

    bool Dropped() const { return dropped_; }
    const std::string& DropReason() const { return dropReason_; }
    void SetDropHandler(std::function<void(const std::string&)> handler) { onDrop_ = std::move(handler); }

    std::uint64_t RoundTrips() const { return roundTrips_; }
    std::uint64_t BytesSent() const { return bytesSent_; }

private:
    void Queue(char request);
    bool SendQueue();
    bool KeepsPace(std::chrono::steady_clock::duration waited);
    std::string UnexpectedAnswer(char first);
    void Drop(const std::string& reason);

    net::Socket socket_;
    std::string queue_;
    int lastPins_ = -1;   // TCK/TMS/TDI as last sent, -1 before the first write
    int lastReset_ = -1;  // reset line as last sent
    bool dropped_ = false;
    std::string dropReason_;
    std::function<void(const std::string&)> onDrop_;
    std::uint64_t roundTrips_ = 0;
    std::uint64_t bytesSent_ = 0;
    std::chrono::milliseconds answerTimeout_;
    std::chrono::steady_clock::duration stretchWaited_{};  // waiting in the current stretch
    int stretchAnswers_ = 0;                               // and the answers it brought
};

}  // namespace orbvex

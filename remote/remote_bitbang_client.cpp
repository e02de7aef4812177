// SPDX-License-Identifier: GPL-2.0-or-later
#include "remote/remote_bitbang_client.h"

#include <algorithm>
#include <utility>

#include "port/cable_wiring.h"

namespace orbvex {
using namespace cable;
namespace {

// A long run of writes with no read in between (a reset sequence, say) is sent in
// pieces so the queue stays small; that costs no round trip.
constexpr std::size_t kQueueLimit = 64 * 1024;

constexpr const char* kGivenUp = "interrupted: the remote receiver kept the program waiting";
constexpr const char* kClosed = "the remote receiver closed the connection";

int PinsRequest(std::uint8_t value) {
    return ((value & kTck) ? 4 : 0) | ((value & kTms) ? 2 : 0) | ((value & kTdi) ? 1 : 0);
}

}  // namespace

RemoteBitbangClient::RemoteBitbangClient(net::Socket socket, int answerTimeoutMs)
    : socket_(std::move(socket)), answerTimeout_(answerTimeoutMs) {
    if (socket_.Valid()) {
        socket_.SetNonBlocking();  // every wait is the client's own, bounded and interruptible
    } else {
        MarkGone("not connected");
    }
}

RemoteBitbangClient::~RemoteBitbangClient() {
    if (!Failed()) SendQueue();
}

void RemoteBitbangClient::Write(std::uint16_t, std::uint8_t value) {
    if (Failed()) return;
    int reset = (value & kResetLine) ? 1 : 0;
    if (reset != lastReset_) {
        // Line high: TRST released, 'r' (trst 0, srst 0); low: TRST asserted, 't'.
        Queue(reset ? 'r' : 't');
        lastReset_ = reset;
    }
    int pins = PinsRequest(value);
    if (pins != lastPins_) {
        Queue(static_cast<char>('0' + pins));
        lastPins_ = pins;
    }
    if (queue_.size() >= kQueueLimit) SendQueue();
}

std::uint8_t RemoteBitbangClient::Read(std::uint16_t port) {
    RequestRead(port);
    return TakeRead();
}

void RemoteBitbangClient::RequestRead(std::uint16_t) {
    if (Failed()) return;
    Queue('R');
    ++queuedReads_;
    if (queue_.size() >= kQueueLimit) SendQueue();
}

std::uint8_t RemoteBitbangClient::TakeRead() {
    if (answersTaken_ == answers_.size() && !ReceiveAnswers()) return kTdoStatus;
    return answers_[answersTaken_++] == '1' ? kTdoStatus : 0;
}

// Waits for the next answers, sending the queue first when the oldest request not
// answered is still in it. False when none can come: the link is gone (or nothing was
// asked for, which the link never does).
bool RemoteBitbangClient::ReceiveAnswers() {
    answers_.clear();
    answersTaken_ = 0;
    if (Failed()) return false;
    if (unanswered_ == 0 && !SendQueue()) return false;
    if (unanswered_ == 0) return false;
    if (tripStarted_) ++roundTrips_;
    tripStarted_ = false;
    char buffer[4096];
    const auto asked = std::chrono::steady_clock::now();
    long n = -1;
    while (n < 0) {
        const Waited waited = AwaitSocket(false);
        if (waited != Waited::Ready) {
            Drop(waited == Waited::TimedOut ? "the remote receiver stopped answering" : kGivenUp);
            return false;
        }
        n = socket_.Receive(buffer, std::min(unanswered_, sizeof buffer));
        if (n < 0 && !socket_.TimedOut()) {
            Drop("receive failed: " + net::Socket::LastError());
            return false;
        }
    }
    if (n == 0) {
        Drop(kClosed);
        return false;
    }
    answers_.assign(buffer, static_cast<std::size_t>(n));
    const std::size_t bad = answers_.find_first_not_of("01");
    if (bad != std::string::npos) {
        Drop(UnexpectedAnswer(answers_.substr(bad)));
        return false;
    }
    unanswered_ -= static_cast<std::size_t>(n);
    return KeepsPace(std::chrono::steady_clock::now() - asked, static_cast<int>(n));
}

bool RemoteBitbangClient::KeepsPace(std::chrono::steady_clock::duration waited, int answers) {
    stretchWaited_ += waited;
    stretchAnswers_ += answers;
    if (stretchWaited_ < answerTimeout_) return true;
    if (stretchAnswers_ < kLeastAnswersPerTimeout) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(stretchWaited_).count();
        Drop("the remote receiver answers too slowly: " + std::to_string(stretchAnswers_) + " answers in " +
             std::to_string(ms / 1000) + "." + std::to_string(ms % 1000 / 100) + " s");
        return false;
    }
    stretchWaited_ = {};
    stretchAnswers_ = 0;
    return true;
}

// A server that will not serve says why in a line of text ("busy: ..."): the rest of
// the line is read, briefly, to be shown; anything else is shown as the byte it is.
std::string RemoteBitbangClient::UnexpectedAnswer(std::string received) {
    constexpr std::size_t kLongestLine = 200;
    const char first = received[0];
    std::string line = std::move(received);
    if (const std::size_t end = line.find('\n'); end != std::string::npos) line.resize(end + 1);
    char c = 0;
    while (line.size() < kLongestLine && line.back() != '\n' && socket_.WaitReadable(200) && socket_.Receive(&c, 1) == 1)
        line.push_back(c);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    const bool text = !line.empty() && std::all_of(line.begin(), line.end(), [](char ch) { return ch >= ' ' && ch <= '~'; });
    if (text && line.size() > 1) return "the remote receiver said \"" + line + "\"";
    return "unexpected answer to a read request (byte " + std::to_string(static_cast<unsigned char>(first)) + ")";
}

void RemoteBitbangClient::Flush() {
    if (!Failed()) SendQueue();
}

void RemoteBitbangClient::Quit() {
    if (Failed()) return;
    Queue('Q');
    SendQueue();
    // Ended as a blocking socket, half-closed first: Windows may drop what a non-blocking
    // socket still holds when it is closed, and the quit must reach the server.
    socket_.SetNonBlocking(false);
    socket_.ShutdownSend();
    socket_.Close();
    MarkGone("closed");
}

// Waits for the socket in slices, asking between them whether to give up. A wait for
// room to send watches the peer's end too: a peer that has closed the connection takes
// no more requests, and would otherwise hold the client to the timeout. Once answers
// are waiting, the end cannot be seen without taking them: they are left for the next
// wait for answers, and this one watches for room alone. The end is asked about before
// room is believed: Windows reports a peer's hang-up as room to send, which would
// otherwise send, fail to, and wait again without end.
RemoteBitbangClient::Waited RemoteBitbangClient::AwaitSocket(bool toSend) {
    using namespace std::chrono;
    const auto started = steady_clock::now();
    bool watchEnd = toSend;
    for (;;) {
        const auto waited = steady_clock::now() - started;
        if (waited >= answerTimeout_) return Waited::TimedOut;
        const auto left = duration_cast<milliseconds>(answerTimeout_ - waited).count();
        const int slice = static_cast<int>(std::clamp<long long>(left, 1, net::kWaitSliceMs));
        const auto before = steady_clock::now();
        net::PollSet poll;
        const std::size_t entry = poll.Add(socket_, !toSend || watchEnd, toSend);
        if (poll.Wait(slice)) {
            if (!toSend) return Waited::Ready;
            if (poll.Readable(entry) && socket_.PeerClosed()) return Waited::Closed;
            if (poll.Writable(entry)) return Waited::Ready;
            watchEnd = false;
            continue;
        }
        if (!giveUp_ || !giveUp_()) continue;
        waitedSinceGiveUp_ += steady_clock::now() - before;
        if (waitedSinceGiveUp_ >= milliseconds(kInterruptGraceMs)) return Waited::Interrupted;
    }
}

void RemoteBitbangClient::Queue(char request) { queue_.push_back(request); }

bool RemoteBitbangClient::SendQueue() {
    if (queue_.empty()) return true;
    for (std::size_t sent = 0; sent < queue_.size();) {
        const long n = socket_.SendSome(queue_.data() + sent, queue_.size() - sent);
        if (n < 0) {
            Drop("send failed: " + net::Socket::LastError());
            return false;
        }
        sent += static_cast<std::size_t>(n);
        if (n > 0) continue;
        const Waited waited = AwaitSocket(true);
        if (waited != Waited::Ready) {
            Drop(waited == Waited::TimedOut ? "the remote receiver stopped taking requests"
                 : waited == Waited::Closed ? kClosed
                                            : kGivenUp);
            return false;
        }
    }
    bytesSent_ += queue_.size();
    queue_.clear();
    if (queuedReads_ > 0) tripStarted_ = true;
    unanswered_ += queuedReads_;
    queuedReads_ = 0;
    return true;
}

void RemoteBitbangClient::Drop(const std::string& reason) {
    if (Failed()) return;
    queue_.clear();
    answers_.clear();
    answersTaken_ = queuedReads_ = unanswered_ = 0;
    socket_.Close();
    Fail(reason);
}

}  // namespace orbvex

// SPDX-License-Identifier: GPL-2.0-or-later
#include "probe/probe_client.h"

#include <algorithm>

#include "port/cable_wiring.h"

namespace orbvex::probe {
namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kDamagedAnswer = "the probe's answer is damaged";
constexpr int kSliceMs = 50;
constexpr std::size_t kLargestFrame = kHeaderBytes + kMaxRequestBody + kCheckBytes;
constexpr std::uint8_t kNeededAbilities = kCanRaw | kCanReset | kCanMessages;

std::string HexByte(std::uint8_t value) {
    static const char kDigits[] = "0123456789ABCDEF";
    return std::string("0x") + kDigits[value >> 4] + kDigits[value & 15];
}

std::string OtherVersion(std::uint8_t version) {
    return "the probe speaks protocol version " + std::to_string(version) + ", this program speaks version " +
           std::to_string(kProtocolVersion);
}

// The line for an error answer to a request of the given type.
std::string ErrorLine(const Frame& frame, std::uint8_t requestType) {
    const std::string text = ErrorText(frame.body);
    switch (frame.body.empty() ? 0 : frame.body[0]) {
    case kDamaged: return "the probe says a request arrived damaged";
    case kOtherVersion: return OtherVersion(frame.version);
    case kUnknownRequest: return "the probe does not know request " + HexByte(requestType);
    case kBadRequest: return "the probe refused a request: " + text;
    case kBusy: return "the probe is busy with another client";
    case kCableLost: return "the probe lost its cable: " + text;
    case kUnsupported: return "the probe cannot " + text;
    default: return "the probe reported an error: " + text;
    }
}

void PutBits(std::vector<std::uint8_t>& out, const std::vector<bool>& bits) {
    for (std::size_t i = 0; i < bits.size(); i += 8) {
        std::uint8_t byte = 0;
        for (std::size_t b = 0; b < 8 && i + b < bits.size(); ++b)
            if (bits[i + b]) byte |= static_cast<std::uint8_t>(1u << b);
        out.push_back(byte);
    }
}

bool IsBlockCount(std::uint32_t n) { return n == 256 || (n >= 4 && n <= 252 && n % 4 == 0); }

}  // namespace

ProbeClient::ProbeClient(std::unique_ptr<ProbeStream> stream, int answerTimeoutMs)
    : stream_(std::move(stream)), answerTimeoutMs_(answerTimeoutMs) {}

Status ProbeClient::Hello() {
    std::vector<std::uint8_t> body;
    if (stream_->MayBeBooting()) {
        // A board reset by the line opening takes its time: ask again until it answers.
        std::vector<std::uint8_t> hello;
        AppendFrame(Frame{kProtocolVersion, 0, kHello, {}}, hello);
        const auto end = Clock::now() + std::chrono::milliseconds(answerTimeoutMs_);
        while (Clock::now() < end && !Failed()) {
            if (const Status sent = stream_->Send(hello.data(), hello.size()); !sent) Lose(sent.Error());
            std::uint8_t buffer[512];
            const auto retry = Clock::now() + std::chrono::milliseconds(kBootRetryMs);
            while (!Failed() && Clock::now() < retry) {
                const Result<std::size_t> got = stream_->Receive(buffer, sizeof buffer, kSliceMs);
                if (!got) Lose(got.Error());
                const std::size_t n = got ? got.Value() : 0;
                std::size_t at = 0;
                while (n > at) {
                    std::size_t used = 0;
                    const auto status = reader_.Feed(buffer + at, n - at, used);
                    at += used;
                    if (status == FrameReader::Status::Damaged) reader_.Reset();  // the board's start-up noise
                    if (status != FrameReader::Status::Complete) continue;
                    const Frame& f = reader_.Current();
                    if (f.version != kProtocolVersion) Lose(OtherVersion(f.version));
                    else if (f.type == kError) Lose(ErrorLine(f, kHello));
                    else if (f.type == (kHello | kAnswerBit)) body = f.body;
                    break;
                }
                if (!body.empty()) break;
            }
            if (!body.empty()) break;
        }
        if (body.empty() && !Failed())
            Lose(!silenceLine_.empty() ? silenceLine_
                                       : "the probe did not answer within " + std::to_string(answerTimeoutMs_ / 1000) + " s");
        // Answers to the repeated asks may still be on their way.
        std::uint8_t late[512];
        while (!Failed()) {
            const Result<std::size_t> got = stream_->Receive(late, sizeof late, kSliceMs);
            if (!got || got.Value() == 0) break;
        }
        reader_.Reset();
        nextSequence_ = 1;
    } else {
        Exchange(kHello, {}, body);
    }
    if (Failed()) return Failure(FailureReason());
    Abilities said;
    std::string error;
    if (!DecodeAbilities(body, said)) {
        error = kDamagedAnswer;
    } else if (said.version != kProtocolVersion) {
        error = OtherVersion(said.version);
    } else if ((said.abilities & kNeededAbilities) != kNeededAbilities) {
        error = "the probe " + said.name + " cannot run clocks, the reset line and the DCU's messages";
    } else if (said.window == 0 || said.receiveBuffer < kLargestFrame || said.maxRequestBody < kMaxRequestBody ||
               said.maxRawClocks < 8) {
        error = "the probe " + said.name + " announces buffers too small for a block message";
    } else {
        abilities_ = said;
        return {};
    }
    MarkGone(error);
    return Failure(error);
}

void ProbeClient::Lose(const std::string& why) {
    Fail(why);
    samples_.clear();
}

void ProbeClient::Write(std::uint16_t, std::uint8_t value) {
    const bool rising = (value & cable::kTck) && !(pins_ & cable::kTck);
    pins_ = value;
    if (rising && !Failed()) Clock(value);
}

void ProbeClient::Clock(std::uint8_t pins) {
    const int reset = (pins & cable::kResetLine) ? 1 : 0;
    const bool tms = (pins & cable::kTms) != 0;
    const bool tdi = (pins & cable::kTdi) != 0;
    if (reset != probeReset_) {
        SendRun();
        if (resetQueued_) SendReset(0);
        probeReset_ = reset;
        resetQueued_ = true;
        // The engine moves the reset line only with a clock of TMS 0 and TDI 0: that
        // clock is the RESET's own.
        if (!tms && !tdi && !sampleAsked_) return;
    }
    if (resetQueued_) SendReset(0);
    tms_.push_back(tms);
    tdi_.push_back(tdi);
    capture_.push_back(sampleAsked_);
    sampleAsked_ = false;
    const std::size_t fits = (abilities_.maxRequestBody - 3u) / 3u * 8u;
    if (tms_.size() >= std::min<std::size_t>(abilities_.maxRawClocks, fits)) SendRun();
}

void ProbeClient::RequestRead(std::uint16_t) {
    if (Failed()) return;
    if (sampleAsked_) SendRun();  // two samples with no clock between: the first closes the run
    sampleAsked_ = true;
}

std::uint8_t ProbeClient::TakeRead() {
    if (samples_.empty() && !Failed()) {
        SendRun();
        AwaitUntil([this] { return !samples_.empty(); });
    }
    if (samples_.empty()) return 0xFF;  // the probe is gone: TDO reads 1, as on an open line
    const bool tdo = samples_.front();
    samples_.pop_front();
    return tdo ? cable::kTdoStatus : 0;
}

std::uint8_t ProbeClient::Read(std::uint16_t port) {
    RequestRead(port);
    return TakeRead();
}

// A reset goes out now, as the link asks: its hold, when a wait follows, is a request of
// its own sent right behind it.
void ProbeClient::Flush() {
    SendRun();
    if (resetQueued_) SendReset(0);
}

// The gathered clocks as one RAW run; a sample asked for and not yet clocked closes it.
void ProbeClient::SendRun() {
    if (resetQueued_ && sampleAsked_) SendReset(0);
    const bool trailing = sampleAsked_;
    if (tms_.empty() && !trailing) return;
    std::vector<std::uint8_t> body;
    PutU16(body, static_cast<std::uint32_t>(tms_.size()));
    body.push_back(trailing ? kTrailingSample : 0);
    PutBits(body, tms_);
    PutBits(body, tdi_);
    PutBits(body, capture_);
    const std::size_t samples = static_cast<std::size_t>(std::count(capture_.begin(), capture_.end(), true)) + trailing;
    tms_.clear();
    tdi_.clear();
    capture_.clear();
    sampleAsked_ = false;
    SendRequest(kRaw, std::move(body), samples);
}

void ProbeClient::SendReset(std::uint32_t holdMs) {
    const std::uint8_t level = resetQueued_ ? static_cast<std::uint8_t>(probeReset_) : kResetUnchanged;
    resetQueued_ = false;
    std::vector<std::uint8_t> body{level};
    PutU16(body, holdMs);
    SendRequest(kReset, std::move(body), 0, holdMs);
}

bool ProbeClient::SendRequest(std::uint8_t type, std::vector<std::uint8_t> body, std::size_t samples, std::uint32_t holdMs) {
    if (Failed()) return false;
    std::vector<std::uint8_t> bytes;
    const std::uint8_t sequence = nextSequence_++;
    AppendFrame(Frame{kProtocolVersion, sequence, type, std::move(body)}, bytes);
    const std::size_t window = std::max<std::size_t>(abilities_.window, 1);
    if (!AwaitUntil([&] { return inFlight_.size() < window && inFlightBytes_ + bytes.size() <= std::max<std::size_t>(abilities_.receiveBuffer, bytes.size()); }))
        return false;
    if (const Status sent = stream_->Send(bytes.data(), bytes.size()); !sent) {
        Lose(sent.Error());
        return false;
    }
    inFlight_.push_back(Sent{sequence, type, bytes.size(), samples, holdMs});
    inFlightBytes_ += bytes.size();
    bytesSent_ += bytes.size();
    answered_ = false;
    return true;
}

bool ProbeClient::Exchange(std::uint8_t type, std::vector<std::uint8_t> body, std::vector<std::uint8_t>& answer) {
    SendRun();
    if (resetQueued_) SendReset(0);
    if (!SendRequest(type, std::move(body))) return false;
    if (!AwaitUntil([this] { return answered_; })) return false;
    answer = std::move(answer_);
    return true;
}

bool ProbeClient::Sync() {
    SendRun();
    if (resetQueued_) SendReset(0);
    AwaitUntil([this] { return inFlight_.empty(); });
    return !Failed();
}

// Reads answers until done says so. Each answer must come within the timeout (and the
// holds of the requests it waits on); once the user asks to stop, a probe that keeps us
// waiting past the grace is dropped.
bool ProbeClient::AwaitUntil(const std::function<bool()>& done) {
    if (done()) return true;
    if (Failed()) return false;
    ++roundTrips_;
    auto lastAnswer = Clock::now();
    Clock::time_point stopAsked{};
    std::uint8_t buffer[4096];
    while (!done()) {
        if (Failed() || inFlight_.empty()) return false;
        const Result<std::size_t> got = stream_->Receive(buffer, sizeof buffer, kSliceMs);
        if (!got) {
            Lose(reader_.MidFrame() ? got.Error() + " in the middle of an answer" : got.Error());
            return false;
        }
        const std::size_t n = got.Value();
        std::size_t at = 0;
        while (at < n) {
            std::size_t used = 0;
            const auto status = reader_.Feed(buffer + at, n - at, used);
            at += used;
            if (status == FrameReader::Status::Damaged) {
                Lose(kDamagedAnswer);
                return false;
            }
            if (status == FrameReader::Status::Complete) {
                if (!TakeAnswer(reader_.Current())) return false;
                lastAnswer = Clock::now();
            }
        }
        const auto now = Clock::now();
        if (giveUp_ && giveUp_()) {
            if (stopAsked == Clock::time_point{}) stopAsked = now;
            if (now - stopAsked > std::chrono::milliseconds(kInterruptGraceMs)) {
                Lose("interrupted while the probe kept us waiting");
                return false;
            }
        }
        std::uint64_t holds = 0;
        for (const Sent& s : inFlight_) holds += s.holdMs;
        if (now - lastAnswer > std::chrono::milliseconds(answerTimeoutMs_ + holds)) {
            Lose(reader_.MidFrame() ? "the probe stopped in the middle of an answer"
                                    : "the probe did not answer within " + std::to_string(answerTimeoutMs_ / 1000) + " s");
            return false;
        }
    }
    return true;
}

bool ProbeClient::TakeAnswer(const Frame& frame) {
    if (frame.version != kProtocolVersion) {
        Lose(OtherVersion(frame.version));
        return false;
    }
    if (inFlight_.empty() || frame.sequence != inFlight_.front().sequence) {
        Lose(kDamagedAnswer);
        return false;
    }
    const Sent sent = inFlight_.front();
    if (frame.type == kError) {
        Lose(ErrorLine(frame, sent.type));
        return false;
    }
    const bool fits = frame.type == (sent.type | kAnswerBit) &&
                      (sent.type != kRaw || frame.body.size() == (sent.samples + 7) / 8) &&
                      (sent.type != kReset || frame.body.empty());
    if (!fits) {
        Lose(kDamagedAnswer);
        return false;
    }
    inFlight_.pop_front();
    inFlightBytes_ -= sent.bytes;
    if (sent.type == kRaw) {
        for (std::size_t i = 0; i < sent.samples; ++i) samples_.push_back((frame.body[i / 8] >> (i % 8)) & 1u);
    } else if (sent.type != kReset) {
        answer_ = frame.body;
        answered_ = true;
    }
    return true;
}

std::vector<std::uint8_t> ProbeClient::MessageHead(bool select, std::int32_t startWaitLimit, std::uint32_t address) const {
    std::vector<std::uint8_t> body{static_cast<std::uint8_t>(select ? kSelectFlag : 0)};
    PutU32(body, static_cast<std::uint32_t>(startWaitLimit));
    PutU32(body, address);
    return body;
}

std::int32_t ProbeClient::ReadBlock(bool select, std::int32_t startWaitLimit, std::uint32_t address, std::uint8_t* buffer) {
    std::vector<std::uint8_t> a;
    if (!Exchange(kReadBlock, MessageHead(select, startWaitLimit, address), a)) return 0;
    // L, the slots, received, result: every count must agree before a byte is kept.
    const std::size_t slots = a.size() >= 5 ? a.size() - 5 : 0;
    const std::uint32_t received = a.size() >= 5 ? GetU16(&a[1 + slots]) : 0;
    const std::uint32_t result = a.size() >= 5 ? GetU16(&a[3 + slots]) : 0;
    const bool sound = a.size() >= 5 && slots <= 256 && received <= slots &&
                       (result == 0 || (IsBlockCount(result) && result == slots && received == slots));
    if (!sound) {
        Lose(kDamagedAnswer);
        return 0;
    }
    std::copy(a.begin() + 1, a.begin() + 1 + static_cast<std::ptrdiff_t>(received), buffer);
    return static_cast<std::int32_t>(result);
}

bool ProbeClient::ReadWord(bool select, std::int32_t startWaitLimit, std::uint32_t address, std::uint32_t& out) {
    out = 0;
    std::vector<std::uint8_t> a;
    if (!Exchange(kReadWord, MessageHead(select, startWaitLimit, address), a)) return false;
    if (a.size() != 5 || a[0] > 1 || (a[0] == 0 && GetU32(&a[1]) != 0)) {
        Lose(kDamagedAnswer);
        return false;
    }
    out = GetU32(&a[1]);
    return a[0] == 1;
}

std::int32_t ProbeClient::WriteBlock(bool select, std::int32_t startWaitLimit, std::uint32_t address, const std::uint8_t* data,
                                     std::uint8_t length) {
    std::vector<std::uint8_t> body = MessageHead(select, startWaitLimit, address);
    body.push_back(length);
    body.insert(body.end(), data, data + length);
    std::vector<std::uint8_t> a;
    if (!Exchange(kWriteBlock, std::move(body), a)) return 0;
    if (a.size() != 1 || (a[0] != 0 && a[0] != length)) {
        Lose(kDamagedAnswer);
        return 0;
    }
    return a[0];
}

bool ProbeClient::WriteWord(bool select, std::int32_t startWaitLimit, std::uint32_t address, std::uint32_t value) {
    std::vector<std::uint8_t> body = MessageHead(select, startWaitLimit, address);
    PutU32(body, value);
    std::vector<std::uint8_t> a;
    if (!Exchange(kWriteWord, std::move(body), a)) return false;
    if (a.size() != 1 || a[0] > 1) {
        Lose(kDamagedAnswer);
        return false;
    }
    return a[0] == 1;
}

void ProbeClient::Hold(std::uint32_t ms) {
    SendRun();
    do {  // a hold past what one request carries goes as several
        const std::uint32_t part = std::min<std::uint32_t>(ms, 0xFFFF);
        SendReset(part);
        ms -= part;
    } while (ms > 0);
    AwaitUntil([this] { return inFlight_.empty(); });
}

}  // namespace orbvex::probe

// SPDX-License-Identifier: GPL-2.0-or-later
#include "sim/dcu_link.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace orbvex::sim {
namespace {

constexpr std::uint32_t kPulse = 0b010;      // 0,1,0 lowest bit first
constexpr std::uint32_t kByteStart = 0b110;  // 0,1,1 lowest bit first
constexpr int kFramedByteClocks = 11;

// A well-mixed 64-bit value of seed and n (the finaliser of SplitMix64): whether byte n
// is hit depends on nothing else, so a run repeats exactly and reading fewer bytes
// does not move the hits in the bytes after them.
std::uint64_t Mix(std::uint64_t seed, std::uint64_t n) {
    std::uint64_t z = seed + (n + 1) * 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Whether the fault switches turn the n-th byte the DCU sends.
bool ReplyByteCorrupted(const ReceiverFaults& faults, std::uint64_t n) {
    if (faults.corruptReplyByte >= 0 && n == static_cast<std::uint64_t>(faults.corruptReplyByte)) return true;
    if (faults.corruptReplyEvery > 0 && (n + 1) % static_cast<std::uint64_t>(faults.corruptReplyEvery) == 0) return true;
    return faults.corruptReplyOneIn > 0 &&
           Mix(faults.corruptReplySeed, n) % static_cast<std::uint64_t>(faults.corruptReplyOneIn) == 0;
}

}  // namespace

DcuLink::DcuLink(const ReceiverConfig* config, const ReceiverFaults* faults, ReceiverCounters* counters,
                 DcuByteSink* sink)
    : config_(config), faults_(faults), counters_(counters), sink_(sink) {}

bool DcuLink::Clock(bool tdi) {
    if (faults_->dcuSilent) {
        if (!silenced_) {
            Reset();
            silenced_ = true;
        }
        return tdo_ = false;
    }
    silenced_ = false;

    if (tdi) {
        idleRun_ = 0;
    } else if (idleRun_ != std::numeric_limits<std::uint32_t>::max()) {
        ++idleRun_;
    }
    DecodeTdi(tdi);
    if (mode_ == Mode::Receive) {
        if (idleRun_ == kResyncIdleClocks) sink_->OnResync();
    } else if (scriptLength_ == 0 && zeroRun_ == 0) {
        SendStep();
    }
    return tdo_ = NextOutput();
}

void DcuLink::Reset() {
    rx_ = Rx::NeedLow;
    idleRun_ = 0;
    tdo_ = false;
    EndReply();  // whatever was being sent is dropped
}

void DcuLink::DecodeTdi(bool tdi) {
    switch (rx_) {
    case Rx::NeedLow:
        if (!tdi) rx_ = Rx::Low;
        break;
    case Rx::Low:
        if (tdi) rx_ = Rx::High;
        break;
    case Rx::High:
        if (tdi) {
            rx_ = Rx::Data;
            rxBit_ = 0;
            rxByte_ = 0;
            ByteStarted();
        } else {
            rx_ = Rx::Low;
            if (mode_ == Mode::Send) {
                hostAcked_ = true;
            } else {
                sink_->OnPulse();
            }
        }
        break;
    case Rx::Data:
        if (tdi) rxByte_ = static_cast<std::uint8_t>(rxByte_ | (1u << rxBit_));
        if (++rxBit_ == 8) {
            rx_ = Rx::NeedLow;
            ByteComplete();
        }
        break;
    }
}

void DcuLink::ByteStarted() {
    if (mode_ == Mode::Send) {
        // The host talks over a reply it no longer wants: it is dropped.
        EndReply();
    }
    rxAccepted_ = sink_->WillAccept();
    if (rxAccepted_ && config_->ack == AckTiming::Early) Queue(kPulse, 3);
}

void DcuLink::ByteComplete() {
    ++counters_->dcuBytesReceived;
    if (rxAccepted_ && config_->ack == AckTiming::Late) Queue(kPulse, 3);
    const DcuByteSink::Reply reply = sink_->OnByte(rxByte_, rxAccepted_);
    if (reply.count > 0) BeginReply(reply);
}

void DcuLink::BeginReply(const DcuByteSink::Reply& reply) {
    replyCount_ = std::min(reply.count, kMaxReply);
    std::memcpy(reply_, reply.bytes, static_cast<std::size_t>(replyCount_));
    replyNext_ = 0;
    // Busy: a gap before each pulse and one after the last, then the bytes.
    const int pulses = std::max(0, config_->busyPulsesBeforeReply);
    busySteps_ = pulses > 0 ? 2 * pulses + 1 : 0;
    hostAcked_ = false;
    mode_ = Mode::Send;
    Queue(0, kTurnaroundClocks);
}

// Called in Send mode whenever the queued levels have run out: decides what goes next.
void DcuLink::SendStep() {
    if (busySteps_ > 0) {
        if (busySteps_-- % 2 == 1) {
            zeroRun_ = static_cast<std::uint32_t>(std::max(0, config_->busyGapClocks));
        } else {
            Queue(kPulse, 3);
        }
        return;
    }
    const bool previousAcked = replyNext_ == 0 || hostAcked_;
    if (!previousAcked) {
        if (idleRun_ >= kResyncIdleClocks) EndReply();  // the host stopped listening
        return;
    }
    if (replyNext_ == replyCount_) {
        EndReply();
        return;
    }
    std::uint8_t value = reply_[replyNext_++];
    if (ReplyByteCorrupted(*faults_, counters_->dcuBytesSent)) value = static_cast<std::uint8_t>(value ^ 0xFF);
    ++counters_->dcuBytesSent;
    hostAcked_ = false;
    Queue(kByteStart | (static_cast<std::uint32_t>(value) << 3), kFramedByteClocks);
}

void DcuLink::EndReply() {
    mode_ = Mode::Receive;
    replyCount_ = 0;
    replyNext_ = 0;
    busySteps_ = 0;
    zeroRun_ = 0;
    script_ = 0;
    scriptLength_ = 0;
    sink_->OnResync();
}

void DcuLink::Queue(std::uint32_t bits, int count) {
    script_ |= bits << scriptLength_;
    scriptLength_ += count;
}

bool DcuLink::NextOutput() {
    if (zeroRun_ > 0) {
        --zeroRun_;
        return false;
    }
    if (scriptLength_ == 0) return false;
    const bool level = (script_ & 1u) != 0;
    script_ >>= 1;
    --scriptLength_;
    return level;
}

}  // namespace orbvex::sim

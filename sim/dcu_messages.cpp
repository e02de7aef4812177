// SPDX-License-Identifier: GPL-2.0-or-later
#include "sim/dcu_messages.h"

#include <algorithm>

namespace orbvex::sim {

DcuMessages::DcuMessages(TargetMemory* memory, CpuModel* cpu, const ReceiverConfig* config,
                         const ReceiverFaults* faults, const ReceiverCounters* counters)
    : memory_(memory), cpu_(cpu), config_(config), faults_(faults), counters_(counters) {}

bool DcuMessages::WillAccept() {
    if (faults_->noAckAfterBytes >= 0 &&
        counters_->dcuBytesReceived >= static_cast<std::uint64_t>(faults_->noAckAfterBytes)) {
        return false;
    }
    return phase_ != Phase::Ignoring;
}

DcuByteSink::Reply DcuMessages::OnByte(std::uint8_t value, bool accepted) {
    if (!accepted) {
        // A byte the DCU did not take breaks the message it belonged to; the bytes it
        // took are stored.
        if (phase_ == Phase::WriteData) FlushPendingBytes();
        phase_ = Phase::Ignoring;
        return {};
    }
    switch (phase_) {
    case Phase::Idle:
        BeginMessage(value);
        break;
    case Phase::ReadAddress:
    case Phase::WriteAddress:
        address_ |= static_cast<std::uint32_t>(value) << (8 * addressBytes_);
        if (++addressBytes_ == 4) return AddressComplete();
        break;
    case Phase::WriteData:
        StoreDataByte(value);
        break;
    case Phase::Dropping:
        CountRecordedBytes(1);
        break;
    case Phase::Ignoring:
    case Phase::Replying:
        break;
    }
    return {};
}

void DcuMessages::OnPulse() {
    if (phase_ == Phase::Idle) preamble_ = true;
}

void DcuMessages::OnResync() {
    phase_ = Phase::Idle;
    preamble_ = false;
    recordIndex_ = -1;
}

void DcuMessages::BeginMessage(std::uint8_t command) {
    memory_->ApplyGeometry();
    command_ = command;
    address_ = 0;
    addressBytes_ = 0;
    dataIndex_ = 0;
    pendingCount_ = 0;
    if (preamble_) {
        phase_ = (command & 3u) == 0 ? Phase::WriteAddress : Phase::Ignoring;
    } else {
        // A write without its preamble is not a write; only the read stands alone.
        phase_ = command == kReadCommand ? Phase::ReadAddress : Phase::Ignoring;
    }
    preamble_ = false;
}

DcuByteSink::Reply DcuMessages::AddressComplete() {
    if (phase_ == Phase::ReadAddress) {
        StartRecord(DcuMessageRecord::Kind::Read);
        if (ReadRefused()) {
            phase_ = Phase::Ignoring;
            return {};
        }
        return AnswerRead();
    }
    StartRecord(DcuMessageRecord::Kind::Write);
    if (WriteRefused()) {
        phase_ = Phase::Ignoring;
    } else {
        phase_ = command_ == 0 ? Phase::Dropping : Phase::WriteData;
    }
    return {};
}

DcuByteSink::Reply DcuMessages::AnswerRead() {
    const int length = ReplyLength();
    reply_[0] = static_cast<std::uint8_t>(length & 0xFF);  // 256 travels as 0
    for (int i = 0; i < length; ++i) reply_[1 + i] = memory_->ReadByte(address_ + static_cast<std::uint32_t>(i));
    // The length byte announces the whole block even when the reply breaks off early.
    const int sent = faults_->shortReplyAfter >= 0 && length > faults_->shortReplyAfter
                         ? static_cast<int>(faults_->shortReplyAfter)
                         : length;
    CountRecordedBytes(static_cast<std::uint32_t>(sent));
    phase_ = Phase::Replying;
    return {reply_, sent + 1};
}

void DcuMessages::StoreDataByte(std::uint8_t value) {
    CountRecordedBytes(1);
    pending_[pendingCount_++] = value;
    ++dataIndex_;
    const std::uint32_t end = address_ + dataIndex_;
    const bool last = dataIndex_ == command_;
    // A word reaches memory whole, as one bus cycle: the CPU, which runs between the
    // clocks that carry its bytes, never sees part of it (a trap program that answered
    // a command quickly would otherwise have its answer overwritten by the rest of it).
    if ((end & 3u) == 0 || last) FlushPendingBytes();
    if ((end & 3u) == 0) {
        cpu_->AfterWordWrite(end - 4);
    } else if (last) {
        cpu_->AfterWordWrite(end & ~3u);
    }
    if (last) phase_ = Phase::Dropping;
}

void DcuMessages::FlushPendingBytes() {
    const std::uint32_t end = address_ + dataIndex_;
    for (std::uint32_t i = 0; i < pendingCount_; ++i) {
        const std::uint32_t at = end - pendingCount_ + i;
        const auto& turned = faults_->turnedWriteAddresses;
        const bool turn = std::find(turned.begin(), turned.end(), at) != turned.end();
        memory_->WriteByte(at, turn ? static_cast<std::uint8_t>(~pending_[i]) : pending_[i]);
    }
    pendingCount_ = 0;
}

int DcuMessages::ReplyLength() const {
    const bool outside = config_->replyLengthOutsideFlash && !memory_->InFlashWindow(address_);
    int length = (outside ? *config_->replyLengthOutsideFlash : config_->replyBlockLength) & ~3;
    if (length < 4) length = 4;
    if (length > 256) length = 256;
    return length;
}

bool DcuMessages::ReadRefused() const {
    for (const auto& range : faults_->refusedReadRanges) {
        if (address_ >= range.first && address_ <= range.second) return true;
    }
    return false;
}

bool DcuMessages::WriteRefused() const {
    const std::uint64_t first = address_;
    const std::uint64_t end = first + (command_ == 0 ? 1u : command_);
    for (std::uint32_t refused : faults_->refusedWriteAddresses) {
        if (refused >= first && refused < end) return true;
    }
    return false;
}

void DcuMessages::StartRecord(DcuMessageRecord::Kind kind) {
    if (!recording_) return;
    records_.push_back(DcuMessageRecord{kind, address_, command_, 0});
    recordIndex_ = static_cast<long>(records_.size()) - 1;
}

void DcuMessages::CountRecordedBytes(std::uint32_t count) {
    if (recordIndex_ >= 0 && static_cast<std::size_t>(recordIndex_) < records_.size()) {
        records_[static_cast<std::size_t>(recordIndex_)].dataBytes += count;
    }
}

}  // namespace orbvex::sim

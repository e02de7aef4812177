// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <vector>

#include "sim/cpu_model.h"
#include "sim/dcu_link.h"
#include "sim/target_memory.h"
#include "sim/virtual_receiver.h"

namespace orbvex::sim {

// The DCU's memory-access messages on top of its framed bytes:
//   block read:  0x01, address (4 bytes, lowest first); reply: length byte, then the data
//   block write: preamble 0,1,0 on TDI, command = byte count (a multiple of 4), address,
//                data; the DCU stores as many bytes as the command announced
//   word write:  the block write of 4 bytes
// Bytes that follow a complete write are acknowledged and dropped, anything it does not
// understand is left unacknowledged; both until the link falls back to idle.
class DcuMessages : public DcuByteSink {
public:
    static constexpr std::uint8_t kReadCommand = 0x01;

    DcuMessages(TargetMemory* memory, CpuModel* cpu, const ReceiverConfig* config, const ReceiverFaults* faults,
                const ReceiverCounters* counters);

    bool WillAccept() override;
    Reply OnByte(std::uint8_t value, bool accepted) override;
    void OnPulse() override;
    void OnResync() override;

    void Record(bool on) { recording_ = on; }
    const std::vector<DcuMessageRecord>& Records() const { return records_; }
    void ClearRecords() {
        records_.clear();
        recordIndex_ = -1;
    }

private:
    enum class Phase : std::uint8_t { Idle,
                                      ReadAddress,
                                      WriteAddress,
                                      WriteData,
                                      Dropping,
                                      Ignoring,
                                      Replying };

    void BeginMessage(std::uint8_t command);
    Reply AddressComplete();
    Reply AnswerRead();
    void StoreDataByte(std::uint8_t value);
    void FlushPendingBytes();
    void NoteWordsWritten(std::uint32_t endAddress);
    int ReplyLength() const;
    bool ReadRefused() const;
    bool WriteRefused() const;
    void StartRecord(DcuMessageRecord::Kind kind);
    void CountRecordedBytes(std::uint32_t count);

    TargetMemory* memory_;
    CpuModel* cpu_;
    const ReceiverConfig* config_;
    const ReceiverFaults* faults_;
    const ReceiverCounters* counters_;

    Phase phase_ = Phase::Idle;
    bool preamble_ = false;
    std::uint8_t command_ = 0;
    std::uint32_t address_ = 0;
    int addressBytes_ = 0;
    std::uint32_t dataIndex_ = 0;
    std::uint8_t pending_[4] = {};  // the bytes of the word being received
    std::uint32_t pendingCount_ = 0;
    std::uint8_t reply_[257] = {};

    bool recording_ = false;
    long recordIndex_ = -1;
    std::vector<DcuMessageRecord> records_;
};

}  // namespace orbvex::sim

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "port/port_backend.h"
#include "sim/flash_model.h"
#include "sim/nor_flash.h"
#include "sim/st20_cpu.h"

namespace orbvex::sim {

// When the DCU acknowledges a byte the host sends: during the byte's own data clocks,
// or only after them (so that the host has to wait for it).
enum class AckTiming { Early,
                       Late };

enum class TdoStuck { None,
                      Low,
                      High };

// The cable's lines on the port's data register and status register.
inline constexpr std::uint8_t kDataTms = 0x01;
inline constexpr std::uint8_t kDataTck = 0x02;
inline constexpr std::uint8_t kDataTdi = 0x04;
inline constexpr std::uint8_t kDataReset = 0x08;  // low holds the TAP in Test-Logic-Reset
inline constexpr std::uint8_t kStatusTdo = 0x10;

// The DCU counts a busy stretch as two steps per pulse and one more, in an int.
inline constexpr int kMostBusyPulses = (0x7FFFFFFF - 1) / 2;

// Settings may be changed between accesses; each takes effect at the next point where the
// receiver consults it (a scan, a byte, a message).
struct ReceiverConfig {
    std::uint32_t idcode = 0x10006A5B;           // CPU key 6
    std::uint32_t flashSize = 0x100000;          // 1 MB at 0x7FF00000, or 0x200000: 2 MB at 0x7FE00000
    std::uint32_t ramSize = 4u << 20;            // from 0x80000000
    int replyBlockLength = 256;                  // data bytes in a block-read reply: 4..256, a multiple of 4
                                                 // (other values are rounded down and clamped)
    std::optional<int> replyLengthOutsideFlash;  // when set, the same for reads outside the flash
                                                 // window (registers, RAM): 4 answers a word read, such as
                                                 // a poll of the mailbox, at the price of a word
    AckTiming ack = AckTiming::Early;
    int busyPulsesBeforeReply = 0;  // 0,1,0 pulses the DCU shows before each reply byte stream
                                    // (at most kMostBusyPulses),
    int busyGapClocks = 16;         // with this many quiet clocks before each pulse and after
                                    // the last one
    int cpuRate = 20;               // CPU instructions per rising TCK edge (the receiver's
                                    // clock advances by as many whether or not the CPU runs)
    std::string flashChip;          // a part of FlashModels() by name; its size then wins over
                                    // flashSize. Empty (or unknown): the default part of flashSize
    FlashTiming flashTiming;        // the chip's busy times, in CPU instructions
};

// Faults counted in bytes count from construction or the last ResetCounters().
struct ReceiverFaults {
    TdoStuck tdoStuck = TdoStuck::None;                                      // no cable
    bool dcuSilent = false;                                                  // the DCU never acknowledges or replies
    long noAckAfterBytes = -1;                                               // stop acknowledging after this many received bytes
    long corruptReplyByte = -1;                                              // invert the n-th byte the DCU sends (from 0,
                                                                             // length bytes counted)
    long corruptReplyEvery = 0;                                              // a noisy link: invert every n-th byte it sends
                                                                             // (bytes n-1, 2n-1, ...; 0: off)
    long corruptReplyOneIn = 0;                                              // or each byte it sends with a chance of 1 in n
    std::uint64_t corruptReplySeed = 1;                                      // (0: off), drawn from this seed and the byte's
                                                                             // number: the same seed corrupts the same bytes
    long shortReplyAfter = -1;                                               // a block-read reply that has more data bytes
                                                                             // ends after this many, announced whole, and the
                                                                             // DCU falls silent (-1: off)
    bool haltIgnored = false;                                                // 0x80000000 to 0x3004 does not take
    std::vector<std::uint32_t> refusedWriteAddresses;                        // a write covering one: its data is neither
                                                                             // acknowledged nor stored
    std::vector<std::uint32_t> turnedWriteAddresses;                         // a byte written there arrives inverted,
                                                                             // acknowledged as if whole
    std::vector<std::pair<std::uint32_t, std::uint32_t>> refusedReadRanges;  // [first, last]: a read that
                                                                             // starts inside gets no reply
    std::optional<std::uint32_t> jtiptrValue;                                // what 0x3080 reads, whatever runs
    FlashFaults flash;                                                       // a stuck cell bit, a chip never ready, IDs nobody knows
};

// One DCU message as the virtual DCU understood it (recorded when enabled).
struct DcuMessageRecord {
    enum class Kind { Read,
                      Write } kind;
    std::uint32_t address;
    std::uint8_t command;     // the command byte as received
    std::uint32_t dataBytes;  // data bytes received (writes) or sent (reads)
};

using CpuRecord = St20Cpu::Record;

struct ReceiverCounters {
    std::uint64_t tckCycles = 0;
    std::uint64_t portReads = 0;
    std::uint64_t portWrites = 0;
    std::uint64_t dcuBytesReceived = 0;  // framed bytes from the host, acknowledged or not
    std::uint64_t dcuBytesSent = 0;      // framed bytes the DCU put on TDO
};

// The receiver on the other end of the cable: its CPU's TAP, the DCU, RAM, registers,
// a NOR flash, and the CPU running whatever program the host installs. It answers the port registers of any base:
// base + 0 is the data register the host writes, base + 1 the status register it reads.
class VirtualReceiver : public orbvex::PortBackend {
public:
    explicit VirtualReceiver(ReceiverConfig config = {});
    ~VirtualReceiver() override;
    VirtualReceiver(const VirtualReceiver&) = delete;
    VirtualReceiver& operator=(const VirtualReceiver&) = delete;

    std::uint8_t Read(std::uint16_t port) override;
    void Write(std::uint16_t port, std::uint8_t value) override;

    ReceiverConfig& Config();
    ReceiverFaults& Faults();

    // A side door into target memory for tests and tools, not through JTAG: stored contents
    // (flash included, whatever the memory interface holds), no reaction of the CPU.
    std::uint8_t PeekByte(std::uint32_t address) const;
    std::uint32_t PeekWord(std::uint32_t address) const;
    void PokeWord(std::uint32_t address, std::uint32_t value);

    std::uint32_t FlashBase() const;  // 0x7FF00000 or 0x7FE00000
    const std::vector<std::uint8_t>& Flash() const;
    void SetFlash(const std::vector<std::uint8_t>& image);  // sized to the flash; the rest 0xFF
    // Flash image files: raw bytes, byte i at FlashBase() + i.
    bool LoadFlashImage(const std::string& path);
    bool SaveFlashImage(const std::string& path) const;
    // The chip in the socket, and what was done to it that it would not take as meant.
    const FlashModel& FlashChip() const;
    const std::vector<FlashViolation>& FlashViolations() const;
    void ClearFlashViolations();

    bool CpuHalted() const;
    bool TrapRunning() const;  // released by the start series and still executing
    bool CpuStopped() const;   // at an instruction it does not know
    // What the CPU met that the documents leave open, and where it stopped.
    const std::vector<CpuRecord>& CpuRecords() const;
    std::uint64_t CpuInstructions() const;  // executed since construction

    ReceiverCounters Counters() const;
    void ResetCounters();

    void RecordMessages(bool on);
    const std::vector<DcuMessageRecord>& Messages() const;
    void ClearMessages();

private:
    struct State;
    State* state_;
};

}  // namespace orbvex::sim

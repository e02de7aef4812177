// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>

#include "sim/virtual_receiver.h"

namespace orbvex::sim {

// What the DCU does with the bytes its link layer frames. Called once per byte or
// pattern, never per clock.
class DcuByteSink {
public:
    struct Reply {
        const std::uint8_t* bytes = nullptr;
        int count = 0;  // 0: nothing to send
    };

    virtual ~DcuByteSink() = default;
    // Asked when the host's start pattern arrives: will this byte be acknowledged?
    virtual bool WillAccept() = 0;
    // A whole byte arrived; `accepted` is the answer WillAccept gave for it. A reply,
    // if any, is copied by the link before the next call.
    virtual Reply OnByte(std::uint8_t value, bool accepted) = 0;
    // The host's 0,1,0 on TDI outside a reply: the write preamble.
    virtual void OnPulse() = 0;
    // The link fell back to idle: a long quiet TDI, a reset, or a reply given up.
    virtual void OnResync() = 0;
};

// The DCU's byte framing on its JTAG data register, one call per shift clock.
// Host to DCU: start 0,1,1 and eight bits on TDI, answered by 0,1,0 on TDO.
// DCU to host: start 0,1,1 and eight bits on TDO, each acknowledged by the host's
// 0,1,0 on TDI before the next byte goes out.
class DcuLink {
public:
    // Quiet TDI clocks after which the link drops whatever message it was in: longer
    // than any gap inside a message, shorter than the host's drain before each message.
    static constexpr std::uint32_t kResyncIdleClocks = 1000;
    // Zeros the DCU shows between the end of a request and its reply, so that the
    // reply's start pattern falls where the host samples.
    static constexpr int kTurnaroundClocks = 3;
    static constexpr int kMaxReply = 260;

    DcuLink(const ReceiverConfig* config, const ReceiverFaults* faults, ReceiverCounters* counters,
            DcuByteSink* sink);

    // One rising edge of TCK with the DCU's register in Shift-DR: takes TDI, returns the
    // level the DCU drives on TDO from the following falling edge.
    bool Clock(bool tdi);
    bool Output() const { return tdo_; }
    // The reset line: back to idle, any reply dropped.
    void Reset();

private:
    enum class Rx : std::uint8_t { NeedLow,
                                   Low,
                                   High,
                                   Data };
    enum class Mode : std::uint8_t { Receive,
                                     Send };

    void DecodeTdi(bool tdi);
    void ByteStarted();
    void ByteComplete();
    void BeginReply(const DcuByteSink::Reply& reply);
    void SendStep();
    void EndReply();
    void Queue(std::uint32_t bits, int count);
    bool NextOutput();

    const ReceiverConfig* config_;
    const ReceiverFaults* faults_;
    ReceiverCounters* counters_;
    DcuByteSink* sink_;

    Mode mode_ = Mode::Receive;
    Rx rx_ = Rx::NeedLow;
    std::uint8_t rxByte_ = 0;
    std::uint8_t rxBit_ = 0;
    bool rxAccepted_ = false;
    std::uint32_t idleRun_ = 0;

    // Levels queued for TDO, lowest bit first; zeros after them.
    std::uint32_t script_ = 0;
    int scriptLength_ = 0;
    std::uint32_t zeroRun_ = 0;

    std::uint8_t reply_[kMaxReply] = {};
    int replyCount_ = 0;
    int replyNext_ = 0;
    int busySteps_ = 0;  // gaps and pulses still to show before the reply
    bool hostAcked_ = false;

    bool tdo_ = false;
    bool silenced_ = false;
};

}  // namespace orbvex::sim

#pragma once
#include <cstdint>

namespace orbvex::dcu {

// The DCU's framed bytes for a cable with a round trip (LinkDefersReads): clocks go out
// ahead of their samples wherever no sample not yet back could change their pins, so
// that a whole byte, or a stretch of a start wait, costs one round trip. The pins are
// exactly those of DcuReceiveByte and DcuSendByte; only the time between clocks differs.
//
// One object lives for one message. A receive told that another follows drives the
// first clocks of the next start wait with its data clocks; the object takes every
// sample it asked for before it goes, and sends what the cable still holds.
class BatchedBytes {
public:
    BatchedBytes() = default;
    ~BatchedBytes();
    BatchedBytes(const BatchedBytes&) = delete;
    BatchedBytes& operator=(const BatchedBytes&) = delete;

    // anotherFollows: whether a further receive comes right after a successful one.
    bool Receive(std::uint8_t& out, bool anotherFollows);
    bool Send(std::uint8_t value);

private:
    void Ask(bool tdi);
    bool Take();
    bool WaitStart(int& dataAhead);
    bool WaitAck(int& ahead);

    int asked_ = 0;      // samples asked for and not yet taken
    int waitAhead_ = 0;  // clocks of the next start wait driven already
};

}  // namespace orbvex::dcu

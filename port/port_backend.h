// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>

namespace orbvex {

class DcuMessagePort;

// Something that answers the parallel port's registers in place of the hardware:
// the virtual receiver, a remote bit-bang server, a USB cable, a recorder in the tests.
// Port numbers are the absolute 16-bit I/O addresses the host drives
// (LptBase for the data register, LptBase + 1 for the status register).
class PortBackend {
public:
    virtual ~PortBackend() = default;
    virtual std::uint8_t Read(std::uint16_t port) = 0;
    virtual void Write(std::uint16_t port, std::uint8_t value) = 0;

    // Cables with a round trip (a socket, a USB chip) hold writes until something must
    // go out, and say so here. The link then takes their reads in two halves, so that
    // it can send the clocks that no answer decides without waiting for the answers:
    // RequestRead queues a read at its place among the writes; TakeRead gives back the
    // oldest answer not yet taken, sending what is queued when that answer is not in.
    // Answers come back in the order they were requested.
    virtual bool DefersReads() const { return false; }
    // A backend that answers at once holds one answer: the link asks it for one at a time.
    virtual void RequestRead(std::uint16_t port) { held_ = Read(port); }
    virtual std::uint8_t TakeRead() { return held_; }
    // Sends everything queued without waiting for an answer. The link calls it after a
    // reset-line change and at the end of each DCU message. Before a delay it asks for a
    // read and takes it instead, so that the wait begins only once the target has seen
    // what was meant to happen before it.
    virtual void Flush() {}
    // A probe runs the DCU's messages itself: the link hands them over whole.
    virtual DcuMessagePort* Messages() { return nullptr; }

private:
    std::uint8_t held_ = 0xFF;
};

}  // namespace orbvex

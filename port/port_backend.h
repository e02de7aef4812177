#pragma once
#include <cstdint>

namespace orbvex {

// Something that answers the parallel port's registers in place of the hardware:
// the virtual receiver, a remote bit-bang server, a recorder in the tests.
// Port numbers are the absolute 16-bit I/O addresses the host drives
// (LptBase for the data register, LptBase + 1 for the status register).
class PortBackend {
public:
    virtual ~PortBackend() = default;
    virtual std::uint8_t Read(std::uint16_t port) = 0;
    virtual void Write(std::uint16_t port, std::uint8_t value) = 0;
};

}  // namespace orbvex

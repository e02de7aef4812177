// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>

namespace orbvex {

// A cable that runs the DCU's messages itself, next to the target (a probe): the link
// hands it each message whole instead of clocking its framed bytes over the pins. The
// results are the link's own: counts and booleans, 0 or false for every failure.
// `select`: the TAP is not known to hold the DCU's instruction, so the message selects
// it first; `startWaitLimit`: the budget of each start wait.
class DcuMessagePort {
public:
    virtual ~DcuMessagePort() = default;
    // buffer has room for 256 bytes; bytes received before a failure are left in it.
    virtual std::int32_t ReadBlock(bool select, std::int32_t startWaitLimit, std::uint32_t address, std::uint8_t* buffer) = 0;
    virtual bool ReadWord(bool select, std::int32_t startWaitLimit, std::uint32_t address, std::uint32_t& out) = 0;
    virtual std::int32_t WriteBlock(bool select, std::int32_t startWaitLimit, std::uint32_t address, const std::uint8_t* data,
                                    std::uint8_t length) = 0;
    virtual bool WriteWord(bool select, std::int32_t startWaitLimit, std::uint32_t address, std::uint32_t value) = 0;
    // Keeps the lines as they are for ms at the target, returning once that is over.
    virtual void Hold(std::uint32_t ms) = 0;
};

}  // namespace orbvex

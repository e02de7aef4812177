// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

namespace orbvex {

// Outcome of reading a stretch of target memory.
struct RangeReadResult {
    bool ok = false;
    bool interrupted = false;       // the caller asked to stop; not a failure of the receiver
    std::uint32_t stoppedAt = 0;    // on failure: the address of the block read that failed or was not made
    std::uint32_t bytesRead = 0;    // bytes of the range stored before it stopped
    std::uint32_t blockLength = 0;  // bytes in the first block the DCU sent
};

// Told after every block read, the failed one included: how far the reads have come
// past the range's start (a last block may run past the range's end). Returning false
// stops the reading there.
using BlockDone = std::function<bool(std::uint64_t offset)>;

// Reads [start, start + length) of target memory with DCU block reads into out
// (resized to length). The DCU decides each block's size; the first block starts on
// the word boundary at or below start - lead, and whatever falls outside the range is
// dropped. A lead moves every byte of the range to another place in the replies.
// Nothing is retried: the first failing block read ends the range.
RangeReadResult ReadTargetRange(std::uint32_t start, std::uint32_t length, std::vector<std::uint8_t>& out,
                                const BlockDone& onBlock = {}, std::uint32_t lead = 0);

}  // namespace orbvex

#pragma once
#include <cstdint>
#include <functional>
#include <vector>

namespace orbvex {

// Outcome of reading a stretch of target memory.
struct RangeReadResult {
    bool ok = false;
    std::uint32_t stoppedAt = 0;  // on failure: the address of the block read that failed
    std::uint32_t bytesRead = 0;  // bytes of the range stored before it stopped
};

// Bytes of the range stored so far, of the range's length.
using RangeProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// Reads [start, start + length) of target memory with DCU block reads into out
// (resized to length). The DCU decides each block's size; blocks start on a word
// boundary at or below start, and whatever falls outside the range is dropped.
// Nothing is retried: the first failing block read ends the range.
RangeReadResult ReadTargetRange(std::uint32_t start, std::uint32_t length, std::vector<std::uint8_t>& out,
                                const RangeProgress& progress = {});

}  // namespace orbvex

// SPDX-License-Identifier: GPL-2.0-or-later
#include "ops/flash_range.h"

#include <algorithm>
#include <cstring>

#include "link/dcu.h"

namespace orbvex {

RangeReadResult ReadTargetRange(std::uint32_t start, std::uint32_t length, std::vector<std::uint8_t>& out,
                                const BlockDone& onBlock, std::uint32_t lead) {
    out.assign(length, 0);
    RangeReadResult result;
    // 64-bit arithmetic: a range may end exactly at the top of the address space.
    const std::uint64_t end = std::uint64_t{start} + length;
    std::uint64_t address = (start - std::min(lead, start)) & ~std::uint32_t{3};
    std::uint8_t block[257];
    while (address < end) {
        const std::int32_t n = DcuReadBlock(static_cast<std::uint32_t>(address), block);
        if (n <= 0) {
            result.stoppedAt = static_cast<std::uint32_t>(address);
            if (onBlock) onBlock(address > start ? address - start : 0);
            return result;
        }
        if (result.blockLength == 0) result.blockLength = static_cast<std::uint32_t>(n);
        const std::uint64_t blockEnd = address + static_cast<std::uint64_t>(n);
        const std::uint64_t from = std::max<std::uint64_t>(address, start);
        const std::uint64_t to = std::min(blockEnd, end);
        if (to > from) {
            std::memcpy(out.data() + (from - start), block + (from - address), static_cast<std::size_t>(to - from));
            result.bytesRead = static_cast<std::uint32_t>(to - start);
        }
        address = blockEnd;
        if (onBlock && !onBlock(address > start ? address - start : 0) && address < end) {
            result.interrupted = true;
            result.stoppedAt = static_cast<std::uint32_t>(address);
            return result;
        }
    }
    result.ok = true;
    return result;
}

}  // namespace orbvex

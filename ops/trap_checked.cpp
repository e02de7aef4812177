// SPDX-License-Identifier: GPL-2.0-or-later
#include "ops/trap_checked.h"

#include <algorithm>

#include "link/link_log.h"
#include "link/trap_protocol.h"
#include "ops/flash_range.h"
#include "ops/readings.h"
#include "util/crc32.h"

namespace orbvex {
namespace {

// Readings of a block before it is given up: on a link that turns one byte in a few
// hundred, every reading of 64 KB has faults, and only the byte-wise vote of several
// comes out whole.
constexpr int kMostReadings = 9;

std::uint32_t Crc(const std::vector<std::uint8_t>& v) { return Crc32(v.data(), v.size()); }

class CheckedReader {
public:
    CheckedReader(WindowServices& window, std::uint32_t base, std::uint32_t start, std::uint32_t length)
        : window_(window), base_(base), start_(start), length_(length) {}

    bool Read(std::vector<std::uint8_t>& image) {
        image.assign(length_, 0);
        for (std::uint32_t offset = 0; offset < length_; offset += kChecksumBlock) {
            const std::uint32_t n = std::min(kChecksumBlock, length_ - offset);
            std::vector<std::uint8_t> block;
            if (!ReadBlock(start_ + offset, n, offset, block)) return false;
            std::copy(block.begin(), block.end(), image.begin() + offset);
        }
        window_.LogLine("Read checked by the receiver's checksums" +
                        (rereads_ ? " after re-reading " + std::to_string(rereads_) + " blocks" : std::string()));
        return true;
    }

private:
    // The checksum runs on the target while its bytes come over the link.
    bool ReadBlock(std::uint32_t at, std::uint32_t n, std::uint32_t offset, std::vector<std::uint8_t>& block) {
        if (!StartTrapChecksum(base_, at, n)) return Stopped(at, false);
        const RangeReadResult read = ReadTargetRange(at, n, block, [&](std::uint64_t done) {
            window_.TransferProgress(offset + std::min<std::uint64_t>(done, n), length_);
            return !window_.StopRequested();
        });
        if (!read.ok) return Stopped(read.stoppedAt, read.interrupted);
        if (blockLength_ == 0) blockLength_ = read.blockLength;
        std::uint32_t crc = 0;
        if (const TrapAnswer answer = FinishTrapChecksum(n, crc); !answer.ok) {
            window_.LogLine("Read FAIL at address " + Hex8(at) + ": the receiver's checksum: " + answer.failure +
                            ", no file written");
            return false;
        }
        if (Crc(block) == crc) return true;
        ++rereads_;
        std::vector<Reading> readings{block};
        while (readings.size() < kMostReadings) {
            if (window_.StopRequested()) return Stopped(at, true);
            Reading again;
            const RangeReadResult more = ReadTargetRange(at, n, again, {}, CutLead(readings.size(), blockLength_));
            if (!more.ok) return Stopped(more.stoppedAt, false);
            readings.push_back(std::move(again));
            // The word itself came over the same link.
            if (!ReadTrapChecksumWord(crc)) return Stopped(at, false);
            block = MostCommonContent(readings);
            if (Crc(block) == crc) return true;
        }
        window_.LogLine("Read FAIL: the block at address " + Hex8(at) + " never matched the receiver's checksum in " +
                        std::to_string(kMostReadings) + " readings: no file written; check the cable");
        return false;
    }

    bool Stopped(std::uint32_t at, bool interrupted) {
        window_.LogLine("Read stopped at address " + Hex8(at) +
                        (interrupted ? ": interrupted, no file written" : ": the receiver did not answer, no file written"));
        return false;
    }

    WindowServices& window_;
    std::uint32_t base_, start_, length_;
    std::uint32_t blockLength_ = 0;
    std::uint32_t rereads_ = 0;
};

}  // namespace

bool TrapCanChecksum() {
    const std::optional<TrapAbilities> abilities = ReadTrapSignature();
    return abilities && abilities->Can(mailbox::kCanChecksum);
}

bool ReadCheckedByTrap(WindowServices& window, std::uint32_t flashBase, std::uint32_t start, std::uint32_t length,
                       std::vector<std::uint8_t>& image) {
    return CheckedReader(window, flashBase, start, length).Read(image);
}

std::optional<std::vector<std::uint32_t>> BlocksDiffering(WindowServices& window, std::uint32_t flashBase,
                                                          std::uint32_t start, const std::vector<std::uint8_t>& file) {
    std::vector<std::uint32_t> differing;
    const auto size = static_cast<std::uint32_t>(file.size());
    for (std::uint32_t offset = 0; offset < size; offset += kChecksumBlock) {
        const std::uint32_t n = std::min(kChecksumBlock, size - offset);
        if (window.StopRequested()) {
            window.LogLine("Verify stopped at address " + Hex8(start + offset) + ": interrupted");
            return std::nullopt;
        }
        bool same = false;
        TrapAnswer answer{false, "the receiver did not answer"};
        if (StartTrapChecksum(flashBase, start + offset, n))
            answer = FinishTrapChecksumAgainst(n, Crc32(file.data() + offset, n), same);
        if (!answer.ok) {
            window.LogLine("Verify stopped at address " + Hex8(start + offset) + ": " + answer.failure);
            return std::nullopt;
        }
        if (!same) {
            differing.push_back(offset);
            window.LogLine("Checksum differs ADR[" + Hex8(start + offset) + "]:LEN[" + Hex8(n) + "]");
        }
        window.TransferProgress(offset + n, size);
    }
    return differing;
}

}  // namespace orbvex

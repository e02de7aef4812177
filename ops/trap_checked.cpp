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

bool CannotChecksumHere(const TrapAnswer& answer) {
    return answer.wait == CommandWait::Failed &&
           (answer.status >> mailbox::kFailureReasonShift) == mailbox::kChipNotIdentified;
}

class CheckedReader {
public:
    CheckedReader(WindowServices& window, std::uint32_t base, std::uint32_t start, std::uint32_t length)
        : window_(window), base_(base), start_(start), length_(length) {}

    // The image as read (or as read before), each block checked by its checksum.
    CheckedRead Read(std::vector<std::uint8_t>& image, bool skipBlank, bool readAlready) {
        if (!readAlready) image.assign(length_, 0);
        if (skipBlank && !readAlready) FindBlankPages();
        for (std::uint32_t offset = 0; offset < length_; offset += kChecksumBlock) {
            const std::uint32_t n = std::min(kChecksumBlock, length_ - offset);
            std::vector<std::uint8_t> block;
            if (readAlready) block.assign(image.begin() + offset, image.begin() + offset + n);
            const CheckedRead got = ReadBlock(start_ + offset, n, offset, block, readAlready);
            if (got != CheckedRead::Ok) return got;
            std::copy(block.begin(), block.end(), image.begin() + offset);
        }
        std::string line = "Read checked by the receiver's checksums";
        if (rereads_) line += " after re-reading " + std::to_string(rereads_) + " blocks";
        if (skipped_) line += "; " + std::to_string(skipped_) + " blank 4 KB pages were not transferred";
        window_.LogLine(line);
        return CheckedRead::Ok;
    }

private:
    // Which pages of the range the trap program finds all 0xFF, when it can say; the read
    // then leaves them out, and the block's checksum still covers them.
    void FindBlankPages() {
        const std::optional<TrapAbilities> abilities = ReadTrapSignature();
        if (!abilities || !abilities->Can(mailbox::kCanFindBlankPages) || length_ == 0) return;
        if (!TrapBlankPages(base_, start_, length_, blank_).ok) blank_.clear();
    }

    bool Blank(std::uint32_t offset) const {
        const std::uint32_t page = offset / mailbox::kBlankPageSize;
        return page < blank_.size() && blank_[page];
    }

    // The block's pages that are not blank, read in runs; the blank ones filled with 0xFF.
    RangeReadResult ReadSkippingBlank(std::uint32_t offset, std::uint32_t n, std::vector<std::uint8_t>& block) {
        block.assign(n, 0xFF);
        RangeReadResult last{true, false, 0, n, blockLength_};
        for (std::uint32_t at = 0; at < n;) {
            const std::uint32_t page = std::min(mailbox::kBlankPageSize, n - at);
            if (Blank(offset + at)) {
                ++skipped_;
                at += page;
                window_.TransferProgress(offset + at, length_);
                continue;
            }
            std::uint32_t run = page;
            while (at + run < n && !Blank(offset + at + run)) run += std::min(mailbox::kBlankPageSize, n - at - run);
            std::vector<std::uint8_t> part;
            last = ReadTargetRange(start_ + offset + at, run, part, [&](std::uint64_t done) {
                window_.TransferProgress(offset + at + std::min<std::uint64_t>(done, run), length_);
                return !window_.StopRequested();
            });
            if (!last.ok) return last;
            if (blockLength_ == 0) blockLength_ = last.blockLength;
            std::copy(part.begin(), part.end(), block.begin() + at);
            at += run;
        }
        return last;
    }

    // The checksum runs on the target while its bytes come over the link.
    CheckedRead ReadBlock(std::uint32_t at, std::uint32_t n, std::uint32_t offset, std::vector<std::uint8_t>& block,
                          bool readAlready) {
        if (!StartTrapChecksum(base_, at, n)) return Stopped(at, false);
        bool skipped = false;
        if (!readAlready) {
            const std::uint32_t skippedBefore = skipped_;
            const RangeReadResult read = ReadSkippingBlank(offset, n, block);
            if (!read.ok) return Stopped(read.stoppedAt, read.interrupted);
            skipped = skipped_ != skippedBefore;
        }
        std::uint32_t crc = 0;
        if (const TrapAnswer answer = FinishTrapChecksum(n, crc); !answer.ok) {
            if (offset == 0 && CannotChecksumHere(answer)) return CheckedRead::CannotChecksum;
            window_.LogLine("Read FAIL at address " + Hex8(at) + ": the receiver's checksum: " + answer.failure +
                            ", no file written");
            return CheckedRead::Failed;
        }
        if (Crc(block) == crc) return CheckedRead::Ok;
        ++rereads_;
        // A reading that took pages for blank on the trap's word is no reading of them.
        std::vector<Reading> readings;
        if (!skipped) readings.push_back(block);
        while (readings.size() < kMostReadings) {
            if (window_.StopRequested()) return Stopped(at, true);
            Reading again;
            const RangeReadResult more = ReadTargetRange(at, n, again, {}, CutLead(readings.size(), blockLength_));
            if (!more.ok) return Stopped(more.stoppedAt, false);
            if (blockLength_ == 0) blockLength_ = more.blockLength;
            readings.push_back(std::move(again));
            // The word itself came over the same link.
            if (!ReadTrapChecksumWord(crc)) return Stopped(at, false);
            block = MostCommonContent(readings);
            if (Crc(block) == crc) return CheckedRead::Ok;
        }
        // Readings that agree with each other and not with the checksum point at the
        // checksum, not at the cable.
        if (SettledContent(readings))
            window_.LogLine("Read FAIL: the block at address " + Hex8(at) + " reads the same in " +
                            std::to_string(kMostReadings) +
                            " readings, but the receiver's checksum disagrees with the flash as read: no file "
                            "written; the trap program's checksum is at fault");
        else
            window_.LogLine("Read FAIL: the block at address " + Hex8(at) +
                            " never matched the receiver's checksum in " + std::to_string(kMostReadings) +
                            " readings: no file written; check the cable");
        return CheckedRead::Failed;
    }

    CheckedRead Stopped(std::uint32_t at, bool interrupted) {
        window_.LogLine("Read stopped at address " + Hex8(at) +
                        (interrupted ? ": interrupted, no file written" : ": the receiver did not answer, no file written"));
        return CheckedRead::Failed;
    }

    WindowServices& window_;
    std::uint32_t base_, start_, length_;
    std::uint32_t blockLength_ = 0;
    std::uint32_t rereads_ = 0;
    std::uint32_t skipped_ = 0;  // blank pages not transferred
    std::vector<bool> blank_;    // per 4 KB page from start: the trap found it all 0xFF
};

}  // namespace

bool TrapCanChecksum() {
    const std::optional<TrapAbilities> abilities = ReadTrapSignature();
    return abilities && abilities->Can(mailbox::kCanChecksum);
}

CheckedRead ReadCheckedByTrap(WindowServices& window, std::uint32_t flashBase, std::uint32_t start,
                              std::uint32_t length, std::vector<std::uint8_t>& image, bool skipBlank) {
    return CheckedReader(window, flashBase, start, length).Read(image, skipBlank, false);
}

CheckedRead CheckReadByTrap(WindowServices& window, std::uint32_t flashBase, std::uint32_t start,
                            std::vector<std::uint8_t>& image) {
    return CheckedReader(window, flashBase, start, static_cast<std::uint32_t>(image.size())).Read(image, false, true);
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

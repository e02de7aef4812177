// SPDX-License-Identifier: GPL-2.0-or-later
// Read: the whole flash window, or a stretch of it, into a file, with plain DCU block
// reads; read several times over when asked, so that a noisy link cannot slip a wrong
// byte into a backup.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "ops/common.h"
#include "ops/flash_range.h"
#include "ops/operations.h"
#include "ops/readings.h"
#include "ops/trap_checked.h"
#include "util/image_file.h"

namespace orbvex {
namespace {

constexpr std::uint64_t kLabelEvery = 15;           // bytes: the label moves when the count divides
constexpr std::uint32_t kProgressEveryBlocks = 16;  // TransferProgress, about every 4 KB
constexpr std::uint32_t kUnit = 256;                // passes are compared, and re-read, in these
constexpr int kMaxRereads = 4;                      // per unit the passes disagree on
constexpr double kMostDoubt = 1e-3;                 // accepted chance that all passes turned a byte alike
constexpr int kMostPasses = 6;                      // a read takes more passes by itself up to this

std::string RangeLine(const char* what, std::uint32_t start, std::uint32_t length) {
    return std::string(what) + " ADR[" + Hex8(start) + "]:LEN[" + Hex8(length) + "]";
}

// Reads one range, once or several times, and settles what the passes disagree on.
class RangeReader {
public:
    RangeReader(WindowServices& window, std::uint32_t start, std::uint32_t length, bool moveLabel, int passes)
        : window_(window),
          start_(start),
          length_(length),
          moveLabel_(moveLabel),
          requested_(std::max(passes, 1)),
          passes_(requested_) {}

    bool Read(std::vector<std::uint8_t>& image) {
        if (!Pass(image, 0)) return false;
        if (passes_ == 1) return true;
        std::map<std::uint32_t, std::vector<Reading>> disputed;  // unit offset: its readings, one per pass
        std::vector<std::uint8_t> again;
        for (int pass = 2;; ++pass) {
            if (pass > passes_ && !MorePassesNeeded(disputed)) break;
            if (pass > passes_ && !OneMorePass()) return false;
            if (!Pass(again, CutLead(static_cast<std::size_t>(pass - 1), blockLength_))) return false;
            for (std::uint32_t unit = 0; unit < length_; unit += kUnit) {
                const std::uint32_t n = std::min(kUnit, length_ - unit);
                auto found = disputed.find(unit);
                if (found == disputed.end() && std::memcmp(image.data() + unit, again.data() + unit, n) == 0) continue;
                auto& readings = disputed[unit];
                if (readings.empty()) readings.assign(pass - 1, Slice(image, unit, n));
                readings.push_back(Slice(again, unit, n));
            }
        }
        return Settle(disputed, image);
    }

private:
    static std::vector<std::uint8_t> Slice(const std::vector<std::uint8_t>& v, std::uint32_t at, std::uint32_t n) {
        return {v.begin() + at, v.begin() + at + n};
    }

    // One pass over the range, its blocks begun lead bytes below it, with the label rule
    // of the whole-flash read and the progress counted over every pass.
    bool Pass(std::vector<std::uint8_t>& out, std::uint32_t lead) {
        std::uint32_t blocks = 0;
        const std::uint64_t total = std::uint64_t{length_} * static_cast<std::uint64_t>(passes_);
        const RangeReadResult result = ReadTargetRange(
            start_, length_, out, [&](std::uint64_t offset) {
                const std::uint64_t shown = done_ + std::min<std::uint64_t>(offset, length_);
                if (moveLabel_ && offset % kLabelEvery == 0) {
                    window_.SetAddressLabel(Hex8(static_cast<std::uint32_t>(start_ + offset)));
                    window_.TransferProgress(shown, total);
                    window_.ProcessMessages();
                }
                if (++blocks % kProgressEveryBlocks == 0) window_.TransferProgress(shown, total);
                return !window_.StopRequested();
            },
            lead);
        if (!result.ok) {
            window_.LogLine("Read stopped at address " + Hex8(result.stoppedAt) +
                            (result.interrupted ? ": interrupted, no file written"
                                                : ": the receiver did not answer, no file written"));
            return false;
        }
        done_ += length_;
        if (blockLength_ == 0) blockLength_ = result.blockLength;
        window_.TransferProgress(done_, total);
        return true;
    }

    // Passes that agree prove nothing when the link turns so many bytes that every pass
    // may well have turned the same one alike. From how often they disagreed, the
    // chance of that must stay below kMostDoubt; until it does, the passes so far do
    // not vouch for the data.
    bool MorePassesNeeded(const std::map<std::uint32_t, std::vector<Reading>>& disputed) {
        differing_ = 0;
        for (const auto& [unit, readings] : disputed)
            for (std::size_t i = 0; i < readings.front().size(); ++i)
                differing_ += std::any_of(readings.begin(), readings.end(),
                                          [&](const Reading& r) { return r[i] != readings.front()[i]; });
        noise_ = {static_cast<double>(differing_) / (static_cast<double>(length_) * passes_), static_cast<double>(length_),
                  kMostDoubt};
        return static_cast<double>(length_) * std::pow(noise_.turned, passes_) >= kMostDoubt;
    }

    // A noisy link costs another pass rather than the backup, up to a cap past which
    // the link is too noisy for any number of passes to be worth it.
    bool OneMorePass() {
        const std::string detail = " (" + std::to_string(differing_) + " bytes differed between them)";
        if (passes_ >= std::max(kMostPasses, requested_)) {
            window_.LogLine("Read FAIL: the link is too noisy for " + std::to_string(passes_) +
                            " passes to vouch for the data" + detail +
                            ": no file written; check the cable or read with more passes");
            return false;
        }
        window_.StillWaiting("read: " + std::to_string(passes_) + " passes are too few to vouch for the data" + detail +
                             "; reading once more");
        ++passes_;
        return true;
    }

    // Each unit the passes disagree on is read again, cut at other places, until its
    // readings settle; a unit that never does fails the read. A stop is heeded between units.
    bool Settle(std::map<std::uint32_t, std::vector<Reading>>& disputed, std::vector<std::uint8_t>& image) {
        std::uint32_t unsettled = 0, firstUnsettled = 0;
        for (auto& [unit, readings] : disputed) {
            if (window_.StopRequested()) {
                window_.LogLine("Read stopped at address " + Hex8(start_ + unit) + ": interrupted, no file written");
                return false;
            }
            if (const std::optional<Reading> settled = ReadUntilSettled(start_ + unit, readings, blockLength_, kMaxRereads, nullptr, noise_)) {
                std::copy(settled->begin(), settled->end(), image.begin() + unit);
            } else if (unsettled++ == 0) {
                firstUnsettled = start_ + unit;
            }
        }
        if (unsettled > 0) {
            window_.LogLine("Read FAIL: the passes disagree on " + std::to_string(unsettled) +
                            " blocks, the first at address " + Hex8(firstUnsettled) + ": no file written");
            return false;
        }
        window_.LogLine("Read " + std::to_string(passes_) + " passes agree" +
                        (disputed.empty() ? std::string()
                                          : " after re-reading " + std::to_string(disputed.size()) + " blocks"));
        return true;
    }

    WindowServices& window_;
    std::uint32_t start_;
    std::uint32_t length_;
    bool moveLabel_;
    int requested_;
    int passes_;                   // grows past requested_ while the passes disagree too often
    std::uint64_t differing_ = 0;  // bytes the passes disagreed on, as last counted
    LinkNoise noise_;              // what they tell of the link
    std::uint64_t done_ = 0;
    std::uint32_t blockLength_ = 0;  // of the DCU's replies, as the first pass found it
};

// What the command line asks of a read: the passes, and whether the trap program's
// checksums may vouch for it.
struct ReadPlan {
    int passes = 1;
    std::optional<std::uint32_t> checksumBase;
    bool everyPage = false;
};

// A single pass nothing checked can carry a byte the link turned; it is said so. With the
// trap's checksums, one checked pass is the backup (blank pages left out unless every page
// was asked for); passes asked for are read and then checked as well. A chip the program
// cannot checksum (it names none) is read as without them.
bool ReadImage(WindowServices& window, std::uint32_t start, std::uint32_t length, bool moveLabel, const ReadPlan& plan,
               std::vector<std::uint8_t>& image) {
    const int passes = std::max(plan.passes, 1);
    if (plan.checksumBase && TrapCanChecksum()) {
        CheckedRead got = CheckedRead::CannotChecksum;
        if (!plan.everyPage || passes == 1)
            got = ReadCheckedByTrap(window, *plan.checksumBase, start, length, image, !plan.everyPage);
        else if (RangeReader(window, start, length, moveLabel, passes).Read(image))
            got = CheckReadByTrap(window, *plan.checksumBase, start, image);
        else
            return false;
        if (got != CheckedRead::CannotChecksum) return got == CheckedRead::Ok;
        window.StillWaiting("read: the trap program cannot checksum this chip (it names none): read by passes instead");
        if (plan.everyPage && passes > 1) return true;  // the passes agreed
        return RangeReader(window, start, length, moveLabel, std::max(passes, 2)).Read(image);
    }
    if (plan.checksumBase && passes == 1)
        window.StillWaiting(
            "read: the single pass was not checked (the trap program cannot checksum the flash): a byte the link "
            "turned would pass; read with --passes 2 to compare two");
    return RangeReader(window, start, length, moveLabel, passes).Read(image);
}

// Only a complete image is saved, and only then does it replace the chosen file.
bool ReadToFile(WindowServices& window, std::uint32_t start, std::uint32_t length, bool moveLabel,
                const ReadPlan& plan, const std::string& path) {
    // A destination that cannot take the file is refused before minutes of reading.
    if (const Status usable = CheckSaveTarget(path); !usable) {
        window.LogLine(usable.Error());
        return false;
    }
    window.LogLine(RangeLine("Read", start, length));
    window.ProcessMessages();
    std::vector<std::uint8_t> image;
    if (!ReadImage(window, start, length, moveLabel, plan, image)) return false;
    const Status saved = SaveWholeFile(path, image);
    if (!saved) {
        window.LogLine(saved.Error());
        return false;
    }
    window.LogLine("Read END");
    return true;
}

}  // namespace

bool RunRead(Link& link, WindowServices& window, const ReadInputs& in) {
    OperationGuard guard(window);
    if (!guard.Acquired()) return false;
    if (!BringUpLink(link, window, in.lptBase)) return false;

    bool saved = false;
    if (DcuAnswers(window)) {
        if (const std::optional<ChosenFile> chosen = in.chooseBin())
            saved = ReadToFile(window, chosen->flash.base, chosen->flash.size, true,
                               {in.passes, in.checksumBase, in.everyPage}, chosen->path);
    }
    EndOperation(window);
    return saved;
}

bool RunReadRange(Link& link, WindowServices& window, const RangeReadInputs& in) {
    OperationGuard guard(window);
    if (!guard.Acquired()) return false;
    if (!BringUpLink(link, window, in.lptBase)) return false;

    const bool saved = DcuAnswers(window) && ReadToFile(window, in.start, in.length, false, {in.passes, in.checksumBase, in.everyPage}, in.path);
    EndOperation(window);
    return saved;
}

}  // namespace orbvex

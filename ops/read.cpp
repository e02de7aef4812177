// Read: the whole flash window, or a stretch of it, into a file, with plain DCU block
// reads; read several times over when asked, so that a noisy link cannot slip a wrong
// byte into a backup.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "ops/common.h"
#include "ops/flash_range.h"
#include "ops/operations.h"
#include "util/image_file.h"

namespace orbvex {
namespace {

constexpr std::uint64_t kLabelEvery = 15;           // bytes: the label moves when the count divides
constexpr std::uint32_t kProgressEveryBlocks = 16;  // TransferProgress, about every 4 KB
constexpr std::uint32_t kUnit = 256;                // passes are compared, and re-read, in these
constexpr int kMaxRereads = 4;                      // per unit the passes disagree on

std::string RangeLine(const char* what, std::uint32_t start, std::uint32_t length) {
    return std::string(what) + " ADR[" + Hex8(start) + "]:LEN[" + Hex8(length) + "]";
}

// Reads one range, once or several times, and settles what the passes disagree on.
class RangeReader {
public:
    RangeReader(WindowServices& window, std::uint32_t start, std::uint32_t length, bool moveLabel, int passes)
        : window_(window), start_(start), length_(length), moveLabel_(moveLabel), passes_(std::max(passes, 1)) {}

    bool Read(std::vector<std::uint8_t>& image) {
        if (!Pass(image)) return false;
        std::map<std::uint32_t, std::vector<std::vector<std::uint8_t>>> disputed;  // unit offset: its readings
        std::vector<std::uint8_t> again;
        for (int pass = 2; pass <= passes_; ++pass) {
            if (!Pass(again)) return false;
            for (std::uint32_t unit = 0; unit < length_; unit += kUnit) {
                const std::uint32_t n = std::min(kUnit, length_ - unit);
                auto found = disputed.find(unit);
                if (found == disputed.end() && std::memcmp(image.data() + unit, again.data() + unit, n) == 0) continue;
                auto& readings = disputed[unit];
                if (readings.empty()) readings.assign(pass - 1, Slice(image, unit, n));
                readings.push_back(Slice(again, unit, n));
            }
        }
        if (passes_ == 1) return true;
        return Settle(disputed, image);
    }

private:
    static std::vector<std::uint8_t> Slice(const std::vector<std::uint8_t>& v, std::uint32_t at, std::uint32_t n) {
        return {v.begin() + at, v.begin() + at + n};
    }

    // One pass over the range, with the label rule of the whole-flash read and the
    // progress counted over every pass.
    bool Pass(std::vector<std::uint8_t>& out) {
        std::uint32_t blocks = 0;
        const std::uint64_t total = std::uint64_t{length_} * static_cast<std::uint64_t>(passes_);
        const RangeReadResult result = ReadTargetRange(start_, length_, out, [&](std::uint64_t offset) {
            const std::uint64_t shown = done_ + std::min<std::uint64_t>(offset, length_);
            if (moveLabel_ && offset % kLabelEvery == 0) {
                window_.SetAddressLabel(Hex8(static_cast<std::uint32_t>(start_ + offset)));
                window_.TransferProgress(shown, total);
                window_.ProcessMessages();
            }
            if (++blocks % kProgressEveryBlocks == 0) window_.TransferProgress(shown, total);
            return !window_.StopRequested();
        });
        if (!result.ok) {
            window_.LogLine("Read stopped at address " + Hex8(result.stoppedAt) +
                            (result.interrupted ? ": interrupted, no file written"
                                                : ": the receiver did not answer, no file written"));
            return false;
        }
        done_ += length_;
        window_.TransferProgress(done_, total);
        return true;
    }

    // Each unit the passes disagree on is read again until one content holds a clear
    // majority of all its readings; a unit that never gets one fails the read.
    bool Settle(std::map<std::uint32_t, std::vector<std::vector<std::uint8_t>>>& disputed,
                std::vector<std::uint8_t>& image) {
        std::uint32_t unsettled = 0, firstUnsettled = 0;
        for (auto& [unit, readings] : disputed) {
            const std::uint32_t n = static_cast<std::uint32_t>(readings.front().size());
            const std::vector<std::uint8_t>* winner = Majority(readings);
            for (int tries = 0; !winner && tries < kMaxRereads; ++tries) {
                std::vector<std::uint8_t> reading;
                const RangeReadResult result = ReadTargetRange(start_ + unit, n, reading);
                if (!result.ok) break;
                readings.push_back(std::move(reading));
                winner = Majority(readings);
            }
            if (winner) {
                std::copy(winner->begin(), winner->end(), image.begin() + unit);
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

    // The content that more than half of the readings hold, if one does.
    static const std::vector<std::uint8_t>* Majority(const std::vector<std::vector<std::uint8_t>>& readings) {
        for (const auto& candidate : readings) {
            const auto votes = std::count(readings.begin(), readings.end(), candidate);
            if (static_cast<std::size_t>(votes) * 2 > readings.size()) return &candidate;
        }
        return nullptr;
    }

    WindowServices& window_;
    std::uint32_t start_;
    std::uint32_t length_;
    bool moveLabel_;
    int passes_;
    std::uint64_t done_ = 0;
};

// Only a complete image is saved, and only then does it replace the chosen file.
bool ReadToFile(WindowServices& window, std::uint32_t start, std::uint32_t length, bool moveLabel, int passes,
                const std::string& path) {
    // A destination that cannot take the file is refused before minutes of reading.
    if (const FileSaveResult usable = CheckSaveTarget(path); !usable.ok) {
        window.LogLine(usable.error);
        return false;
    }
    window.LogLine(RangeLine("Read", start, length));
    window.ProcessMessages();
    std::vector<std::uint8_t> image;
    if (!RangeReader(window, start, length, moveLabel, passes).Read(image)) return false;
    const FileSaveResult saved = SaveWholeFile(path, image);
    if (!saved.ok) {
        window.LogLine(saved.error);
        return false;
    }
    window.LogLine("Read END");
    return true;
}

}  // namespace

bool RunRead(WindowServices& window, const ReadInputs& in) {
    OperationGuard guard(window);
    if (!guard.Acquired()) return false;
    if (!BringUpLink(window, in.lptBase)) return false;

    bool saved = false;
    if (DcuAnswers(window)) {
        if (const std::optional<ChosenFile> chosen = in.chooseBin())
            saved = ReadToFile(window, chosen->flash.base, chosen->flash.size, true, in.passes, chosen->path);
    }
    EndOperation(window);
    return saved;
}

bool RunReadRange(WindowServices& window, const RangeReadInputs& in) {
    OperationGuard guard(window);
    if (!guard.Acquired()) return false;
    if (!BringUpLink(window, in.lptBase)) return false;

    const bool saved = DcuAnswers(window) && ReadToFile(window, in.start, in.length, false, in.passes, in.path);
    EndOperation(window);
    return saved;
}

}  // namespace orbvex

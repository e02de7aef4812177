// Read: the whole flash window, or a stretch of it, into a file, with plain DCU block
// reads.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "ops/common.h"
#include "ops/flash_range.h"
#include "ops/operations.h"
#include "util/image_file.h"

namespace orbvex {
namespace {

constexpr std::uint64_t kLabelEvery = 15;          // bytes: the label moves when the count divides
constexpr std::uint32_t kProgressEveryBlocks = 16;  // TransferProgress, about every 4 KB

std::string RangeLine(const char* what, std::uint32_t start, std::uint32_t length) {
    return std::string(what) + " ADR[" + Hex8(start) + "]:LEN[" + Hex8(length) + "]";
}

// Reads the range into image. The whole flash moves the address label as the window
// always did, when the running count lands on a multiple of 15, and lets messages
// through there; a stretch only reports its progress.
bool ReadImage(WindowServices& window, std::uint32_t start, std::uint32_t length, bool moveLabel,
               std::vector<std::uint8_t>& image) {
    std::uint32_t blocks = 0;
    const RangeReadResult result = ReadTargetRange(start, length, image, [&](std::uint64_t offset) {
        const std::uint64_t shown = std::min<std::uint64_t>(offset, length);
        if (moveLabel && offset % kLabelEvery == 0) {
            window.SetAddressLabel(Hex8(static_cast<std::uint32_t>(start + offset)));
            window.TransferProgress(shown, length);
            window.ProcessMessages();
        }
        if (++blocks % kProgressEveryBlocks == 0) window.TransferProgress(shown, length);
    });
    if (!result.ok) {
        window.LogLine("Read stopped at address " + Hex8(result.stoppedAt) +
                       ": the receiver did not answer, no file written");
        return false;
    }
    window.TransferProgress(length, length);
    return true;
}

// Only a complete image is saved, and only then does it replace the chosen file.
bool ReadToFile(WindowServices& window, std::uint32_t start, std::uint32_t length, bool moveLabel,
                const std::string& path) {
    window.LogLine(RangeLine("Read", start, length));
    window.ProcessMessages();
    std::vector<std::uint8_t> image;
    if (!ReadImage(window, start, length, moveLabel, image)) return false;
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
    OperationGuard guard;
    if (!guard.Acquired()) return false;
    LinkLogScope logScope(window);
    if (!BringUpLink(window, in.lptBase)) return false;

    bool saved = false;
    if (DcuAnswers(window)) {
        if (const std::optional<ChosenFile> chosen = in.chooseBin())
            saved = ReadToFile(window, chosen->flash.base, chosen->flash.size, true, chosen->path);
    }
    EndOperation(window);
    return saved;
}

bool RunReadRange(WindowServices& window, const RangeReadInputs& in) {
    OperationGuard guard;
    if (!guard.Acquired()) return false;
    LinkLogScope logScope(window);
    if (!BringUpLink(window, in.lptBase)) return false;

    const bool saved = DcuAnswers(window) && ReadToFile(window, in.start, in.length, false, in.path);
    EndOperation(window);
    return saved;
}

}  // namespace orbvex

// Verify: a file compared with the flash from an address on, with plain DCU block reads.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "ops/common.h"
#include "ops/flash_range.h"
#include "ops/operations.h"
#include "ops/verify.h"
#include "util/image_file.h"

namespace orbvex {
namespace {

std::string ByteHex(std::uint8_t value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value);
    return text;
}

// The file first: a file that cannot be used needs no cable. False, with the line that
// says why, when it cannot be compared.
bool LoadVerifyFile(WindowServices& window, const VerifyInputs& in, std::vector<std::uint8_t>& file,
                    std::uint32_t& count) {
    // Measured before it is read: a file larger than the flash from start on cannot fit.
    const std::uint64_t room = in.end - in.start;
    const FileReadResult read = ReadWholeFile(in.path, room, file);
    if (read.status == FileReadStatus::TooLarge) {
        window.LogLine("File : " + in.path + " holds " + std::to_string(read.size) + " bytes, more than the " +
                       std::to_string(room) + " from " + Hex8(in.start) + " to the end of the flash");
        return false;
    }
    if (!read.Ok()) {
        window.LogLine("Cannot open file " + in.path + ": " + read.reason);
        return false;
    }
    const std::uint64_t wanted = in.length ? *in.length : file.size();  // within the room, as the file is
    if (wanted > file.size()) {
        window.LogLine("File : " + in.path + " has " + std::to_string(file.size()) + " bytes, fewer than the " +
                       std::to_string(wanted) + " to verify");
        return false;
    }
    count = static_cast<std::uint32_t>(wanted);
    file.resize(count);
    return true;
}

}  // namespace

Comparison CompareImages(const std::vector<std::uint8_t>& flash, const std::vector<std::uint8_t>& file) {
    Comparison c;
    const std::size_t n = std::min(flash.size(), file.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (flash[i] == file[i]) continue;
        if (c.differing++ == 0) {
            c.firstOffset = static_cast<std::uint32_t>(i);
            c.flashByte = flash[i];
            c.fileByte = file[i];
        }
    }
    return c;
}

namespace {

constexpr std::uint32_t kUnit = 256;  // a difference is read again in units of this size

// Reads each unit that differs from the file once more. A difference that reads back
// the same is the flash's; one that vanishes was the link's, and the new reading counts.
std::uint32_t RereadDifferences(std::uint32_t start, const std::vector<std::uint8_t>& file,
                                std::vector<std::uint8_t>& flash) {
    std::uint32_t glitches = 0;
    for (std::uint32_t unit = 0; unit < file.size(); unit += kUnit) {
        const std::uint32_t n = std::min<std::uint32_t>(kUnit, static_cast<std::uint32_t>(file.size()) - unit);
        if (std::equal(file.begin() + unit, file.begin() + unit + n, flash.begin() + unit)) continue;
        std::vector<std::uint8_t> again;
        if (!ReadTargetRange(start + unit, n, again).ok) continue;  // the first reading stands
        if (std::equal(file.begin() + unit, file.begin() + unit + n, again.begin())) ++glitches;
        std::copy(again.begin(), again.end(), flash.begin() + unit);
    }
    return glitches;
}

}  // namespace

VerifyResult RunVerify(WindowServices& window, const VerifyInputs& in) {
    VerifyResult result;
    OperationGuard guard(window);
    if (!guard.Acquired()) return result;
    std::vector<std::uint8_t> file;
    std::uint32_t count = 0;
    if (!LoadVerifyFile(window, in, file, count)) return result;
    if (!BringUpLink(window, in.lptBase)) return result;

    if (DcuAnswers(window)) {
        window.LogLine("File : " + in.path);
        window.LogLine("Verify ADR[" + Hex8(in.start) + "]:LEN[" + Hex8(count) + "]");
        window.ProcessMessages();
        std::vector<std::uint8_t> flash;
        const RangeReadResult read =
            count == 0 ? RangeReadResult{true, false, 0, 0}
                       : ReadTargetRange(in.start, count, flash, [&](std::uint64_t offset) {
                             window.TransferProgress(std::min<std::uint64_t>(offset, count), count);
                             return !window.StopRequested();
                         });
        if (!read.ok) {
            window.LogLine("Verify stopped at address " + Hex8(read.stoppedAt) +
                           (read.interrupted ? ": interrupted" : ": the receiver did not answer"));
        } else {
            result.glitches = RereadDifferences(in.start, file, flash);
            const Comparison c = CompareImages(flash, file);
            result.same = c.differing == 0;
            if (result.same) {
                window.LogLine("Verify OK");
            } else {
                window.LogLine("Verify FAIL ADR[" + Hex8(in.start + c.firstOffset) + "] flash=" + ByteHex(c.flashByte) +
                               " file=" + ByteHex(c.fileByte) + ", " + std::to_string(c.differing) + " bytes differ");
            }
        }
    }
    EndOperation(window);
    return result;
}

}  // namespace orbvex

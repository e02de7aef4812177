// SPDX-License-Identifier: GPL-2.0-or-later
// Verify: a file compared with the flash from an address on, with plain DCU block reads.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include "ops/common.h"
#include "ops/flash_range.h"
#include "ops/operations.h"
#include "ops/readings.h"
#include "ops/trap_checked.h"
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
constexpr int kMaxRereads = 4;        // per unit, until its readings settle

// What the readings say of the units that differed from the file on the first reading.
struct Rereading {
    std::uint32_t glitches = 0;              // units that settled on the file's content: the link's doing
    std::optional<std::uint32_t> undecided;  // address of the first unit whose readings never settled
    std::optional<std::uint32_t> stoppedAt;  // a stop was asked for before this unit
    bool flashDiffers = false;               // a unit settled on other content than the file's
};

// Reads each unit that differs from the file again, cut at other places, until its
// readings settle: a difference counts against the flash only when they settle on it,
// and the settled content replaces the first reading. A unit whose readings never
// settle is taken as the file's: it is no evidence either way. Once one difference is
// the flash's the verdict stands, and the units after it are read only once more, so
// that the count leaves out what the link alone turned.
Rereading RereadDifferences(WindowServices& window, std::uint32_t start, const std::vector<std::uint8_t>& file,
                            std::vector<std::uint8_t>& flash, std::uint32_t blockLength) {
    Rereading result;
    for (std::uint32_t unit = 0; unit < file.size(); unit += kUnit) {
        const std::uint32_t n = std::min<std::uint32_t>(kUnit, static_cast<std::uint32_t>(file.size()) - unit);
        const auto fileUnit = file.begin() + unit;
        const auto flashUnit = flash.begin() + unit;
        if (std::equal(fileUnit, fileUnit + n, flashUnit)) continue;
        if (window.StopRequested()) {
            result.stoppedAt = start + unit;
            break;
        }
        if (result.flashDiffers) {
            Reading again;
            if (!ReadTargetRange(start + unit, n, again, {}, CutLead(1, blockLength)).ok) continue;
            for (std::uint32_t i = 0; i < n; ++i)
                if (again[i] == fileUnit[i]) flashUnit[i] = fileUnit[i];
            continue;
        }
        std::vector<Reading> readings{Reading(flashUnit, flashUnit + n)};
        const std::optional<Reading> settled =
            ReadUntilSettled(start + unit, readings, blockLength, kMaxRereads, file.data() + unit);
        if (!settled) {
            if (!result.undecided) result.undecided = start + unit;
            std::copy(fileUnit, fileUnit + n, flashUnit);
        } else if (std::equal(fileUnit, fileUnit + n, settled->begin())) {
            std::copy(settled->begin(), settled->end(), flashUnit);
            ++result.glitches;
        } else {
            std::copy(settled->begin(), settled->end(), flashUnit);
            result.flashDiffers = true;
        }
    }
    return result;
}
// Only the blocks whose checksums on the target differ from the file's are read; the
// others are taken as the file's. Nothing, after its log line, when the target could
// not tell.
std::optional<RangeReadResult> ReadDifferingBlocks(WindowServices& window, std::uint32_t base, std::uint32_t start,
                                                   const std::vector<std::uint8_t>& file,
                                                   std::vector<std::uint8_t>& flash) {
    const std::optional<std::vector<std::uint32_t>> differing = BlocksDiffering(window, base, start, file);
    if (!differing) return std::nullopt;
    flash = file;
    RangeReadResult result{true, false, 0, static_cast<std::uint32_t>(file.size()), 0};
    for (std::uint32_t offset : *differing) {
        const auto n = std::min<std::uint32_t>(kChecksumBlock, static_cast<std::uint32_t>(file.size()) - offset);
        std::vector<std::uint8_t> block;
        const RangeReadResult read = ReadTargetRange(start + offset, n, block, [&](std::uint64_t) {
            return !window.StopRequested();
        });
        if (!read.ok) return read;
        if (result.blockLength == 0) result.blockLength = read.blockLength;
        std::copy(block.begin(), block.end(), flash.begin() + offset);
    }
    return result;
}

// What the readings add up to, and the line that says it: a stop, a link too noisy to
// decide, no difference, or the differences the readings agreed on.
VerifyResult Verdict(WindowServices& window, std::uint32_t start, const Rereading& reread, const Comparison& c) {
    VerifyResult result;
    result.glitches = reread.glitches;
    result.same = c.differing == 0 && !reread.undecided && !reread.stoppedAt;
    if (reread.stoppedAt) {
        window.LogLine("Verify stopped at address " + Hex8(*reread.stoppedAt) + ": interrupted");
    } else if (c.differing == 0 && reread.undecided) {
        result.noisy = true;
        window.LogLine("Verify stopped at address " + Hex8(*reread.undecided) +
                       ": the link is too noisy to decide, its readings of the flash never agreed");
    } else if (result.same) {
        window.LogLine("Verify OK");
    } else {
        window.LogLine("Verify FAIL ADR[" + Hex8(start + c.firstOffset) + "] flash=" + ByteHex(c.flashByte) +
                       " file=" + ByteHex(c.fileByte) + ", " + std::to_string(c.differing) + " bytes differ");
    }
    return result;
}

}  // namespace

VerifyResult RunVerify(Link& link, WindowServices& window, const VerifyInputs& in) {
    VerifyResult result;
    OperationGuard guard(window);
    if (!guard.Acquired()) return result;
    std::vector<std::uint8_t> file;
    std::uint32_t count = 0;
    if (!LoadVerifyFile(window, in, file, count)) return result;
    if (!BringUpLink(link, window, in.lptBase)) return result;

    if (DcuAnswers(window)) {
        window.LogLine("File : " + in.path);
        window.LogLine("Verify ADR[" + Hex8(in.start) + "]:LEN[" + Hex8(count) + "]");
        window.ProcessMessages();
        std::vector<std::uint8_t> flash;
        std::optional<RangeReadResult> checked;
        if (in.checksumBase && count > 0 && TrapCanChecksum()) {
            checked = ReadDifferingBlocks(window, *in.checksumBase, in.start, file, flash);
            if (!checked) {
                EndOperation(window);
                return result;
            }
        }
        const RangeReadResult read =
            checked      ? *checked
            : count == 0 ? RangeReadResult{true, false, 0, 0}
                         : ReadTargetRange(in.start, count, flash, [&](std::uint64_t offset) {
                               window.TransferProgress(std::min<std::uint64_t>(offset, count), count);
                               return !window.StopRequested();
                           });
        if (!read.ok) {
            window.LogLine("Verify stopped at address " + Hex8(read.stoppedAt) +
                           (read.interrupted ? ": interrupted" : ": the receiver did not answer"));
        } else {
            const Rereading reread = RereadDifferences(window, in.start, file, flash, read.blockLength);
            result = Verdict(window, in.start, reread, CompareImages(flash, file));
        }
    }
    EndOperation(window);
    return result;
}

}  // namespace orbvex

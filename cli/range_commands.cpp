#include "cli/range_commands.h"

#include <cstdio>

#include "link/link_log.h"
#include "ops/common.h"
#include "ops/flash_range.h"
#include "util/image_file.h"

namespace orbvex::cli {
namespace {

// The common start of the flash operations that read, as Read has it: the port, the
// JTAG link, and a sign of life from the DCU.
bool ConnectForReading(WindowServices& window) {
    if (!BringUpLink(window)) return false;
    if (DcuAnswers(window)) return true;
    EndOperation(window);
    return false;
}

std::string RangeLine(const char* what, std::uint32_t start, std::uint32_t length) {
    return std::string(what) + " ADR[" + Hex8(start) + "]:LEN[" + Hex8(length) + "]";
}

bool ReadRange(WindowServices& window, const char* what, std::uint32_t start, std::uint32_t length,
               std::vector<std::uint8_t>& data) {
    RangeReadResult result =
        ReadTargetRange(start, length, data, [&](std::uint64_t done, std::uint64_t total) {
            window.TransferProgress(done, total);
        });
    if (!result.ok)
        window.LogLine(std::string(what) + " stopped at address " + Hex8(result.stoppedAt) +
                       ": the receiver did not answer" + (what[0] == 'R' ? ", no file written" : ""));
    return result.ok;
}

std::string ByteHex(std::uint8_t value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value);
    return text;
}

}  // namespace

bool ReadRangeToFile(WindowServices& window, std::uint32_t start, std::uint32_t length, const std::string& path) {
    OperationGuard guard;
    if (!guard.Acquired()) return false;
    LinkLogScope logScope(window);
    if (!ConnectForReading(window)) return false;
    window.LogLine(RangeLine("Read", start, length));
    window.ProcessMessages();
    std::vector<std::uint8_t> data;
    bool ok = ReadRange(window, "Read", start, length, data);
    if (ok) {
        const FileSaveResult saved = SaveWholeFile(path, data);
        ok = saved.ok;
        if (!ok) window.LogLine(saved.error);
    }
    if (ok) window.LogLine("Read END");
    EndOperation(window);
    return ok;
}

bool VerifyRangeWithFile(WindowServices& window, std::uint32_t start, std::optional<std::uint32_t> length,
                         std::uint64_t flashEnd, const std::string& path) {
    OperationGuard guard;
    if (!guard.Acquired()) return false;
    LinkLogScope logScope(window);
    // The file first: a missing file needs no cable.
    std::vector<std::uint8_t> file;
    const FileReadResult read = ReadWholeFile(path, flashEnd - start, file);
    if (read.status == FileReadStatus::TooLarge) {
        window.LogLine("File : " + path + " runs " + std::to_string(start + read.size - flashEnd) +
                       " bytes past the end of the flash");
        return false;
    }
    if (!read.Ok()) {
        window.LogLine("Cannot open file " + path + ": " + read.reason);
        return false;
    }
    const std::uint64_t count = length ? *length : file.size();
    if (count > file.size()) {
        window.LogLine("File : " + path + " has " + std::to_string(file.size()) + " bytes, fewer than the " +
                       std::to_string(count) + " to verify");
        return false;
    }
    if (start + count > flashEnd) {
        window.LogLine("File : " + path + " runs " + std::to_string(start + count - flashEnd) +
                       " bytes past the end of the flash");
        return false;
    }
    if (!ConnectForReading(window)) return false;
    window.LogLine("File : " + path);
    window.LogLine(RangeLine("Verify", start, static_cast<std::uint32_t>(count)));
    window.ProcessMessages();
    std::vector<std::uint8_t> flash;
    bool ok = count == 0 || ReadRange(window, "Verify", start, static_cast<std::uint32_t>(count), flash);
    if (ok) {
        file.resize(static_cast<std::size_t>(count));
        Comparison c = CompareImages(flash, file);
        if (c.differing == 0) {
            window.LogLine("Verify OK");
        } else {
            window.LogLine("Verify FAIL ADR[" + Hex8(start + c.firstOffset) + "] flash=" + ByteHex(c.flashByte) +
                           " file=" + ByteHex(c.fileByte) + ", " + std::to_string(c.differing) + " bytes differ");
            ok = false;
        }
    }
    EndOperation(window);
    return ok;
}

}  // namespace orbvex::cli

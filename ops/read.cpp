// Read: the whole flash window into a BIN file, with plain DCU block reads.
#include <cstdint>
#include <vector>

#include "link/dcu.h"
#include "ops/common.h"
#include "util/image_file.h"
#include "ops/operations.h"
#include "port/program_dir.h"

namespace orbvex {
namespace {

constexpr std::uint32_t kLabelEvery = 15;            // bytes: the label moves when the count divides
constexpr std::uint32_t kBlockMax = 256;             // a block ends at most this far past its start
constexpr std::uint32_t kProgressEveryBlocks = 16;   // TransferProgress, about every 4 KB

bool ChooseBinFile(WindowServices& window, std::string& path) {
    FileDialogSetup setup{"BIN files (*.bin)|*.bin|All files (*.*)|*.*", ProgramDirectory(), "bin"};
    return window.RunSaveDialog(setup, path);
}

// Reads the range into image; the DCU's reply decides each block's size. Returns the
// count of bytes read, which is short of the length when a block failed.
std::uint32_t ReadFlash(WindowServices& window, FlashRange flash, std::vector<std::uint8_t>& image) {
    std::uint32_t offset = 0;
    std::int32_t last = 1;
    std::uint32_t blocks = 0;
    while (offset < flash.size && last != 0) {
        last = DcuReadBlock(flash.base + offset, image.data() + offset);
        offset += static_cast<std::uint32_t>(last);
        std::uint32_t shown = offset < flash.size ? offset : flash.size;
        if (offset % kLabelEvery == 0) {
            window.SetAddressLabel(Hex8(flash.base + offset));
            window.TransferProgress(shown, flash.size);
            window.ProcessMessages();
        }
        if (++blocks % kProgressEveryBlocks == 0) window.TransferProgress(shown, flash.size);
    }
    return offset;
}

// Only a complete image is saved, and only then does it replace the chosen file.
bool SaveImage(WindowServices& window, const std::string& path,
               const std::vector<std::uint8_t>& image, std::uint32_t length) {
    const FileSaveResult saved = SaveWholeFile(path, image.data(), length);
    if (!saved.ok) window.LogLine(saved.error);
    return saved.ok;
}

bool ReadIntoChosenFile(WindowServices& window) {
    std::string path;
    if (!ChooseBinFile(window, path)) return false;
    FlashRange flash = ChosenFlash(window);
    std::vector<std::uint8_t> image(flash.size + kBlockMax - 1, 0);
    window.LogLine("Read ADR[" + Hex8(flash.base) + "]:LEN[" + Hex8(flash.size) + "]");
    window.ProcessMessages();

    std::uint32_t read = ReadFlash(window, flash, image);
    if (read < flash.size) {
        window.LogLine("Read stopped at address " + Hex8(flash.base + read) +
                       ": the receiver did not answer, no file written");
        return false;
    }
    window.TransferProgress(flash.size, flash.size);
    if (!SaveImage(window, path, image, flash.size)) return false;
    window.LogLine("Read END");
    return true;
}

}  // namespace

bool RunRead(WindowServices& window) {
    OperationGuard guard;
    if (!guard.Acquired()) return false;
    LinkLogScope logScope(window);

    if (!BringUpLink(window)) return false;

    bool saved = DcuAnswers(window) && ReadIntoChosenFile(window);
    EndOperation(window);
    return saved;
}

}  // namespace orbvex

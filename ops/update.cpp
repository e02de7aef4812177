// SPDX-License-Identifier: GPL-2.0-or-later
// Update: the flash made to hold a file by erasing and programming only the sectors
// whose checksums on the target differ from the file's.
#include <algorithm>
#include <string>
#include <vector>

#include "link/trap_protocol.h"
#include "ops/chip_info.h"
#include "ops/common.h"
#include "ops/erased.h"
#include "ops/flash_writer.h"
#include "ops/operations.h"
#include "util/crc32.h"

namespace orbvex {
namespace {

constexpr std::uint32_t kGroupSize = 0x40000;  // bytes of sectors one checksum compares first

struct Sector {
    std::uint32_t offset;  // in the chip
    std::uint32_t size;
};

class Updater {
public:
    Updater(WindowServices& window, FlashRange flash, std::uint32_t offset, const std::vector<std::uint8_t>& file)
        : window_(window), flash_(flash), offset_(offset), file_(file) {}

    bool Run(const ChipInfo& chip, const SectorSpan& span, const TrapHelp& help) {
        std::vector<Sector> differing;
        if (!FindDiffering(span.blocks, differing)) return false;
        window_.StillWaiting(std::to_string(span.blocks.size() - differing.size()) + " of " +
                             std::to_string(span.blocks.size()) + " sectors already hold the file's bytes");
        for (const Sector& sector : differing)
            if (!UpdateSector(chip, sector, help)) return false;
        // The end: every sector touched holds the file's bytes, as the target sums them.
        for (const Sector& sector : differing) {
            bool same = false;
            if (!ChecksumIs(sector.offset, sector.size, FileCrc(sector.offset, sector.size), same)) return false;
            if (!same) {
                window_.LogLine("Update FAIL: the sector at " + Hex8(flash_.base + sector.offset) +
                                " does not hold the file's bytes after it was written (the receiver's checksum "
                                "differs); update again");
                return false;
            }
        }
        window_.LogLine("Update checked by the receiver's checksums: " + std::to_string(differing.size()) + " of " +
                        std::to_string(span.blocks.size()) + " sectors written");
        return true;
    }

private:
    // Sectors are compared in groups first: each checksum costs the link a command and
    // its answer, and a group that holds the file's bytes needs no look at its sectors.
    bool FindDiffering(const std::vector<ChipRegion>& blocks, std::vector<Sector>& differing) {
        for (std::size_t first = 0; first < blocks.size();) {
            std::size_t end = first;
            std::uint32_t size = 0;
            while (end < blocks.size() && (size < kGroupSize || end == first)) size += blocks[end++].blockSize;
            bool same = false;
            if (end - first > 1 && !ChecksumIs(blocks[first].blocks, size, FileCrc(blocks[first].blocks, size), same))
                return false;
            for (std::size_t i = first; i < end && !same; ++i) {
                const ChipRegion& block = blocks[i];
                bool sectorSame = false;
                if (!ChecksumIs(block.blocks, block.blockSize, FileCrc(block.blocks, block.blockSize), sectorSame))
                    return false;
                if (!sectorSame) differing.push_back({block.blocks, block.blockSize});
            }
            first = end;
        }
        return true;
    }

    std::uint32_t FileCrc(std::uint32_t chipOffset, std::uint32_t size) const {
        return Crc32(file_.data() + (chipOffset - offset_), size);
    }

    bool ChecksumIs(std::uint32_t chipOffset, std::uint32_t size, std::uint32_t crc, bool& same) {
        if (window_.StopRequested()) {
            window_.LogLine("Update stopped at address " + Hex8(flash_.base + chipOffset) + ": interrupted");
            return false;
        }
        TrapAnswer answer{false, "the receiver did not answer"};
        if (StartTrapChecksum(flash_.base, flash_.base + chipOffset, size))
            answer = FinishTrapChecksumAgainst(size, crc, same);
        if (!answer.ok)
            window_.LogLine("Update stopped at address " + Hex8(flash_.base + chipOffset) +
                            ": the receiver's checksum: " + answer.failure);
        return answer.ok;
    }

    // A sector already blank (a run cut off after its erase) needs no second erase.
    bool UpdateSector(const ChipInfo& chip, const Sector& sector, const TrapHelp& help) {
        const std::vector<std::uint8_t> erased(sector.size, 0xFF);
        bool blank = false;
        if (!ChecksumIs(sector.offset, sector.size, Crc32(erased.data(), sector.size), blank)) return false;
        if (!blank && !EraseSpan(window_, flash_.base, chip, SectorsCovering(chip, sector.offset, sector.size)))
            return false;
        const auto from = file_.begin() + (sector.offset - offset_);
        const std::vector<std::uint8_t> bytes(from, from + sector.size);
        return WriteChunks(window_, flash_, bytes, sector.offset, help);
    }

    WindowServices& window_;
    FlashRange flash_;
    std::uint32_t offset_;
    const std::vector<std::uint8_t>& file_;
};

bool UpdateFlash(WindowServices& window, const UpdateInputs& in) {
    const FlashRange flash = in.flash;
    if (in.offset >= flash.size) {
        window.LogLine("Update refused: the offset " + Hex8(in.offset) + " lies past the flash's end");
        return false;
    }
    window.LogLine("File : " + in.path);
    std::vector<std::uint8_t> file;
    if (!LoadRomFile(window, in.path, {flash.base + in.offset, flash.size - in.offset}, file)) return false;
    const std::optional<TrapAbilities> abilities = ReadTrapSignature();
    if (!abilities || !abilities->Can(mailbox::kCanChecksum) || !abilities->Can(mailbox::kCanEraseSectors)) {
        window.LogLine(
            "Update refused: the trap program cannot checksum the flash and erase its sectors, so it cannot tell "
            "which sectors differ: nothing erased; use erase and write");
        return false;
    }
    if (in.checkChipSize && !ChipSizeAgrees(window, flash, "Update")) return false;
    const std::optional<ChipInfo> chip = IdentifyChip(window, flash.base);
    if (!chip || chip->regions.empty()) {
        window.LogLine("Update refused: the trap program cannot name the chip's sectors: nothing erased");
        return false;
    }
    // Sectors the file covers only in part would lose the bytes outside it: refused.
    const auto length = static_cast<std::uint32_t>(file.size());
    const SectorSpan span = SectorsCovering(*chip, in.offset, length);
    if (!span.aligned) {
        window.LogLine("Update refused: ADR[" + Hex8(flash.base + in.offset) + "]:LEN[" + Hex8(length) +
                       "] does not start and end on sector boundaries; the sectors around it run from " +
                       Hex8(flash.base + span.below) + " to " + Hex8(flash.base + span.above) + ": nothing erased");
        return false;
    }
    window.LogLine("Update Flash ADR[" + Hex8(flash.base + in.offset) + "] LEN[" +
                   Hex8(static_cast<std::uint32_t>(file.size())) + "] : Please Wait...");
    // The chip is named once: each naming costs the link a command and its answer.
    const TrapHelp help{abilities->Can(mailbox::kCanProgramSummed), chip->programUs[1], true};
    const bool updated = Updater(window, flash, in.offset, file).Run(*chip, span, help);
    window.LogLine("Update Flash END");
    return updated;
}

}  // namespace

bool RunUpdate(Link& link, WindowServices& window, const UpdateInputs& in) {
    OperationGuard guard(window);
    if (!guard.Acquired()) return false;
    AbortRequested = false;
    if (!BringUpLink(link, window, in.lptBase)) return false;
    const bool updated = DcuAnswers(window) && FindMailbox(link, window) && UpdateFlash(window, in);
    EndOperation(window);
    return updated;
}

}  // namespace orbvex

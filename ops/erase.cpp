// SPDX-License-Identifier: GPL-2.0-or-later
// Erase: one call into the trap program's mailbox erases the chosen flash.
#include <algorithm>
#include <string>
#include <vector>

#include "link/trap.h"
#include "link/trap_protocol.h"
#include "ops/chip_info.h"
#include "ops/common.h"
#include "ops/erased.h"
#include "ops/operations.h"

namespace orbvex {
namespace {

// The chip, when the trap program can name it and erase its sectors one by one.
std::optional<ChipInfo> SectorMap(WindowServices& window, FlashRange flash) {
    const std::optional<TrapAbilities> abilities = ReadTrapSignature();
    if (!abilities || !abilities->Can(mailbox::kCanEraseSectors)) return std::nullopt;
    std::optional<ChipInfo> chip = IdentifyChip(window, flash.base);
    if (chip && (chip->regions.empty() || chip->size != flash.size)) chip.reset();
    return chip;
}

std::string SectorNamed(std::uint32_t flashBase, std::uint32_t offset, const ChipInfo* chip) {
    ChipRegion sector{offset / mailbox::kBlankPageSize * mailbox::kBlankPageSize, mailbox::kBlankPageSize};
    if (chip) {
        const SectorSpan span = SectorsCovering(*chip, offset, 1);
        if (!span.blocks.empty()) sector = span.blocks.front();
    }
    return (chip ? "the sector at " : "the 4 KB page at ") + Hex8(flashBase + sector.blocks) + " (" +
           std::to_string(sector.blockSize / 1024) + " KB)";
}

}  // namespace

bool ErasedAsAsked(WindowServices& window, std::uint32_t flashBase, std::uint32_t start, std::uint32_t length,
                   const ChipInfo* chip) {
    const std::optional<TrapAbilities> abilities = ReadTrapSignature();
    if (!abilities || !abilities->Can(mailbox::kCanFindBlankPages)) {
        window.StillWaiting("erase: the trap program cannot check that the flash reads blank: the erase was not checked");
        return true;
    }
    std::vector<bool> blank;
    const TrapAnswer answer = TrapBlankPages(flashBase, flashBase + start, length, blank);
    if (!answer.ok) {
        window.LogLine("Erase FAIL: the check that the flash reads blank failed: " + answer.failure);
        return false;
    }
    const auto dirty = std::find(blank.begin(), blank.end(), false);
    if (dirty == blank.end()) return true;
    const auto offset = start + static_cast<std::uint32_t>(dirty - blank.begin()) * mailbox::kBlankPageSize;
    window.LogLine("Erase FAIL: " + SectorNamed(flashBase, offset, chip) +
                   " still holds data after the erase: the erase did not take, whatever the trap program answered");
    return false;
}

bool EraseSpan(WindowServices& window, std::uint32_t flashBase, const ChipInfo& chip, const SectorSpan& span) {
    if (span.blocks.empty()) return true;
    // Twice each block's longest erase, and a second more; 30 s a block when the chip names none.
    std::uint64_t maxMs = 1000;
    for (std::size_t i = 0; i < span.blocks.size(); ++i) maxMs += chip.blockEraseMs[1] ? chip.blockEraseMs[1] * 2 : 30000;
    const std::uint32_t from = span.blocks.front().blocks;
    const std::uint32_t to = span.blocks.back().blocks + span.blocks.back().blockSize;
    const std::size_t n = span.blocks.size();
    window.StillWaiting("erasing " + std::to_string(n) + (n == 1 ? " sector from " : " sectors from ") +
                        Hex8(flashBase + from) +
                        " to " + Hex8(flashBase + to) + " (" + std::to_string((to - from) / 1024) + " KB)");
    const TrapAnswer answer = TrapEraseSectors(flashBase, flashBase + from, to - from,
                                               static_cast<std::uint32_t>(std::min<std::uint64_t>(maxMs, 0xFFFFFFFF)));
    if (!answer.ok) {
        window.LogLine("Erase of the sectors from " + Hex8(flashBase + from) + " to " + Hex8(flashBase + to) +
                       " failed: " + answer.failure);
        return false;
    }
    return ErasedAsAsked(window, flashBase, from, to - from, &chip);
}

bool RunErase(Link& link, WindowServices& window, const EraseInputs& in) {
    OperationGuard guard(window);
    if (!guard.Acquired()) return false;

    if (!BringUpLink(link, window, in.lptBase)) return false;

    bool erased = false;
    if (DcuAnswers(window) && FindMailbox(link, window) && (!in.checkChipSize || ChipSizeAgrees(window, in.flash, "Erase"))) {
        const std::uint32_t base = in.flash.base;
        window.LogLine("Erase ADR[" + Hex8(base) + "] : Please Wait...");
        TrapWaitWatch watch(window, "erase ADR[" + Hex8(base) + "]", [&window] { return window.StopRequested(); });
        const std::optional<ChipInfo> chip = in.sectorBySector ? SectorMap(window, in.flash) : std::nullopt;
        if (chip)
            erased = EraseSectors(window, base, *chip, SectorsCovering(*chip, 0, chip->size));
        else
            erased = TrapCall(base, [&watch](std::uint32_t status) { return watch(status); });
        if (erased && in.checkErased) erased = ErasedAsAsked(window, base, 0, in.flash.size, chip ? &*chip : nullptr);
        if (watch.Failure()) window.LogLine("Erase failed: " + *watch.Failure());
        if (!erased && !watch.Failure() && window.StopRequested())
            window.LogLine("Erase interrupted while the trap program works: the flash may be partly erased");
        else
            window.LogLine(erased ? "Erase success !!!" : "Fail");
    }
    EndOperation(window);
    return erased;
}

}  // namespace orbvex

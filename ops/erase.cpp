// SPDX-License-Identifier: GPL-2.0-or-later
// Erase: one call into the trap program's mailbox erases the chosen flash.
#include "link/trap.h"
#include "link/trap_protocol.h"
#include "ops/chip_info.h"
#include "ops/common.h"
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

}  // namespace

bool RunErase(WindowServices& window, const EraseInputs& in) {
    OperationGuard guard(window);
    if (!guard.Acquired()) return false;

    if (!BringUpLink(window, in.lptBase)) return false;

    bool erased = false;
    if (DcuAnswers(window) && FindMailbox(window) && (!in.checkChipSize || ChipSizeAgrees(window, in.flash, "Erase"))) {
        const std::uint32_t base = in.flash.base;
        window.LogLine("Erase ADR[" + Hex8(base) + "] : Please Wait...");
        TrapWaitWatch watch(window, "erase ADR[" + Hex8(base) + "]", [&window] { return window.StopRequested(); });
        if (const std::optional<ChipInfo> chip = in.sectorBySector ? SectorMap(window, in.flash) : std::nullopt)
            erased = EraseSectors(window, base, *chip, SectorsCovering(*chip, 0, chip->size));
        else
            erased = TrapCall(base, [&watch](std::uint32_t status) { return watch(status); });
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

// Erase: one call into the trap program's mailbox erases the chosen flash.
#include "link/trap.h"
#include "ops/chip_info.h"
#include "ops/common.h"
#include "ops/operations.h"

namespace orbvex {

bool RunErase(WindowServices& window, const EraseInputs& in) {
    OperationGuard guard(window);
    if (!guard.Acquired()) return false;

    if (!BringUpLink(window, in.lptBase)) return false;

    bool erased = false;
    if (DcuAnswers(window) && FindMailbox(window) && (!in.checkChipSize || ChipSizeAgrees(window, in.flash, "Erase"))) {
        const std::uint32_t base = in.flash.base;
        window.LogLine("Erase ADR[" + Hex8(base) + "] : Please Wait...");
        TrapWaitWatch watch(window, "erase ADR[" + Hex8(base) + "]", [&window] { return window.StopRequested(); });
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

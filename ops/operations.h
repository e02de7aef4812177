// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "link/link.h"
#include "ops/window_services.h"
#include "util/flash_map.h"

// Set by the Abort button; cleared by START and Write at their start; read only by Write.
extern bool AbortRequested;

namespace orbvex {

// What the operator picked when the operation asked: the file, and the flash size as
// it was chosen right after the file.
struct ChosenFile {
    std::string path;
    FlashRange flash;
};
// Called by Write and Read at the moment they need their file (the window runs its
// dialog there); nothing when the operator cancelled.
using FileChooser = std::function<std::optional<ChosenFile>()>;

struct StartInputs {
    std::uint16_t lptBase;
    // The target-side program. A plain name is looked up in the program's folder; an
    // absolute path is used as it is.
    std::string trapFile;
};
struct EraseInputs {
    std::uint16_t lptBase;
    FlashRange flash;
    // Refuse, before anything is erased, a flash whose size is not the chip's, when the
    // trap program names the chip.
    bool checkChipSize = false;
    // Erase sector by sector, each bounded by the chip's own longest block erase, with a
    // word on stderr per sector, when the trap program can name and erase sectors.
    bool sectorBySector = false;
    // Check afterwards that the flash reads blank, when the trap program can tell.
    bool checkErased = false;
};
struct WriteInputs {
    std::uint16_t lptBase;
    FileChooser chooseRom;
    bool checkChipSize = false;  // as for EraseInputs
    // Write the file from this many bytes into the flash, erasing first the sectors it
    // covers and no others; it must start and end on sector boundaries. Needs a trap
    // program that names the chip's sectors.
    std::optional<std::uint32_t> offset;
    // When the trap program can: check each chunk by its checksum on the target, and
    // bound each chunk's wait by the chip's longest word program.
    bool trapChecks = false;
    // Send no 4 KB chunk that is all 0xFF; the chunks left out are then checked blank.
    bool skipBlank = false;
};
// What a write did. It converts to whether it wrote, as every operation does.
struct WriteOutcome {
    bool written = false;                      // every byte of the file programmed
    bool checkedByTrap = false;                // and every chunk found in the flash by the trap's checksum:
                                               // no read-back is needed
    operator bool() const { return written; }  // NOLINT: the operations' common answer
};
// The flash made to hold a file from an offset on, touching only the erase sectors
// whose contents differ from it; the file must start and end on sector boundaries.
// Needs a trap program that checksums the flash and names and erases its sectors.
struct UpdateInputs {
    std::uint16_t lptBase;
    std::string path;
    FlashRange flash;
    std::uint32_t offset = 0;
    bool checkChipSize = false;  // as for EraseInputs
};
struct InfoInputs {
    std::uint16_t lptBase;
    FlashRange flash;
};
struct ReadInputs {
    std::uint16_t lptBase;
    FileChooser chooseBin;
    // Read the flash this many times; the file is written only when the passes agree
    // (what they disagree on is read again and settled by a clear majority).
    int passes = 1;
    // The flash base, for a read that the trap program's checksums may vouch for: when
    // set and the program signs for them, one pass checked by them replaces the passes,
    // and pages the program finds blank are not transferred.
    std::optional<std::uint32_t> checksumBase;
    // The passes were asked for: every page is read that many times (and, with the
    // program's checksums, checked by them as well).
    bool everyPage = false;
};
// A stretch of target memory saved to a file, or compared with one.
struct RangeReadInputs {
    std::uint16_t lptBase;
    std::uint32_t start;
    std::uint32_t length;
    std::string path;
    int passes = 1;
    std::optional<std::uint32_t> checksumBase;  // as for ReadInputs
    bool everyPage = false;
};
struct VerifyInputs {
    std::uint16_t lptBase;
    std::uint32_t start;
    std::optional<std::uint32_t> length;  // the file's size when not given
    std::uint64_t end;                    // the comparison must not run past this address
    std::string path;
    // The flash base, when the trap program's checksums may say which blocks to read.
    std::optional<std::uint32_t> checksumBase;
};

// The operations and Abort. Each returns true when it ended in success (START:
// "Init OK :)"; Erase: "Erase success !!!"; Write: every byte programmed; Read: the
// file written whole; Verify: no byte differs). The outcome the operator sees is in the log.
// Each drives the link it is given (a LinkSession's), on the port its inputs name.
bool RunStart(Link& link, WindowServices& window, const StartInputs& in);          // Button5Click
bool RunErase(Link& link, WindowServices& window, const EraseInputs& in);          // Button6Click
WriteOutcome RunWrite(Link& link, WindowServices& window, const WriteInputs& in);  // Button7Click
bool RunRead(Link& link, WindowServices& window, const ReadInputs& in);            // Button8Click
bool RunUpdate(Link& link, WindowServices& window, const UpdateInputs& in);
bool RunReadRange(Link& link, WindowServices& window, const RangeReadInputs& in);
// same: no byte differs. glitches: blocks that differed on the first reading and whose
// readings then agreed on the file's content, differences of the link rather than of
// the flash. noisy: no byte was found to differ, but the readings of some block never
// agreed: the link is too noisy to decide.
struct VerifyResult {
    bool same = false;
    std::uint32_t glitches = 0;
    bool noisy = false;
};
VerifyResult RunVerify(Link& link, WindowServices& window, const VerifyInputs& in);
void RunAbort(WindowServices& window);  // Button2Click
// The trap program's version and the chip it names: maker, part, size, sectors,
// command set. False when the program does not sign its mailbox or cannot name the chip.
bool RunInfo(Link& link, WindowServices& window, const InfoInputs& in);

// True while one of the operations runs. The operations let window messages through
// at fixed points; a front end uses this to hold back a close until the link is free.
// An operation started while another runs does nothing and returns false.
bool OperationRunning();

// The CPU line for an IDCODE ("CPU : STi5512"), or an empty string for a CPU the
// table does not know.
std::string CpuLine(std::uint32_t idcode);

}  // namespace orbvex

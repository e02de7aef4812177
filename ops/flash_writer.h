// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Programming a file's bytes chunk by chunk through the trap program: what write and
// update share.
#include <cstdint>
#include <string>
#include <vector>

#include "ops/operations.h"
#include "ops/window_services.h"
#include "util/flash_map.h"

namespace orbvex {

// What our own trap program adds to a write: each chunk's checksum, and the chip's
// longest word program, which bounds the wait for a chunk by time.
struct TrapHelp {
    bool checksums = false;
    std::uint32_t programMaxUs = 0;  // 0: the poll count bounds the wait
    bool skipBlank = false;          // send no chunk that is all 0xFF (then checked blank)
};
TrapHelp AskTrapHelp(WindowServices& window, std::uint32_t flashBase);

// Reads the ROM file whole, refusing one larger than flash; false after its line.
bool LoadRomFile(WindowServices& window, const std::string& path, FlashRange flash, std::vector<std::uint8_t>& rom);

// Programs rom at flash.base + offset on, chunk by chunk, with the label, the progress
// and the stops of the write.
WriteOutcome WriteChunks(WindowServices& window, FlashRange flash, const std::vector<std::uint8_t>& rom,
                         std::uint32_t offset, const TrapHelp& help);

}  // namespace orbvex

// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orbvex::sim {

enum class CommandSet { Amd,
                        Intel,
                        Sst };  // AMD-like cycles at words 0x5555/0x2AAA, and its own erase commands

// A run of equal erase blocks, as a CFI erase block region describes it.
struct EraseRegion {
    std::uint32_t blocks;
    std::uint32_t blockSize;  // bytes
};

// One erase block (sector) of a chip, by byte offset from the chip's base.
struct FlashBlock {
    std::uint32_t offset;
    std::uint32_t size;
};

// A flash part the virtual receiver can carry: what it answers to its identifier and
// CFI queries and how its blocks lie. All of them sit on a 16-bit bus (word mode).
struct FlashModel {
    std::string name;  // as --flash-chip takes it
    CommandSet commandSet;
    std::uint16_t manufacturer;
    std::uint16_t device;
    std::uint32_t size;  // bytes
    bool topBoot;
    bool lockedAtPowerUp;              // Intel parts with software block locking
    bool answersCfi;                   // false: the query is no command to it
    std::vector<EraseRegion> regions;  // from the lowest address up
    // Quirks of real parts, off unless a row of the table turns them on.
    bool cfiBottomFirst = false;          // CFI lists the regions from the boot end's opposite
                                          // order: a top-boot part printing the bottom-boot table
    std::uint8_t extendedVersion = 0x10;  // the primary extended table's version, 0x10 = 1.0
    bool autoselectAtPowerUp = false;     // as a run cut off in autoselect leaves it

    // Quirks of particular parts; the rest leave them off.
    bool lateLowBits = false;         // AMD: DQ0-DQ6 turn to data one read after DQ7 does
    bool nonvolatileLocks = false;    // Sharp: 60/01 sets a block's lock bit, 60/D0 clears all
                                      // of them at once; both run timed, like an erase
    std::uint16_t cfiCommandSet = 0;  // the CFI primary command set, when not the usual one

    std::vector<FlashBlock> Blocks() const;
};

// Busy times in CPU instructions. The datasheets' typical values (about 10 us a word,
// 50 us of sector-erase window, 0.7 s a sector, 25 s the chip) are squeezed so that a
// whole session on the virtual receiver stays quick; their order is kept, and each is
// long enough that a program polls the chip several times while it is busy.
struct FlashTiming {
    std::uint64_t wordProgram = 60;
    std::uint64_t blockErase = 3000;
    std::uint64_t chipErase = 40000;
    std::uint64_t eraseWindow = 300;  // AMD: the window for further sectors after SA/30
    std::uint64_t failAfter = 600;    // how long an operation that cannot succeed runs before
                                      // the chip gives up and reports the failure
    std::uint64_t lockBit = 60;       // Sharp: setting one block's lock bit
    std::uint64_t lockClear = 3000;   // Sharp: clearing every block's lock bit, about an erase
};

// A cell bit that never programs: it stays 1 whatever is written over it.
struct StuckBit {
    std::uint32_t offset;  // byte offset from the chip's base
    unsigned bit;          // 0..7 of that byte
};

struct FlashFaults {
    std::optional<StuckBit> stuckBit;
    bool neverReady = false;   // program and erase never finish (and never fail)
    bool unknownChip = false;  // identifier codes nobody knows, and no CFI
};

// The parts on offer, in the order --help lists them.
const std::vector<FlashModel>& FlashModels();
const FlashModel* FindFlashModel(const std::string& name);  // any case; nullptr when unknown
// What a receiver carries when no part is named: the 2 MB part for 2 MB, else the 1 MB one.
const FlashModel& DefaultFlashModel(std::uint32_t size);
// The part as a chip with the unknownChip fault shows it.
FlashModel UnknownVariant(const FlashModel& model);

// The CFI query table in word addresses (JESD68 layout); each entry is the byte a
// query read returns in the low half of the word.
std::vector<std::uint8_t> CfiTable(const FlashModel& model);

}  // namespace orbvex::sim

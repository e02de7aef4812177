// SPDX-License-Identifier: GPL-2.0-or-later
#include "ops/chip_info.h"

#include <algorithm>

#include "link/link_log.h"
#include "link/trap_checks.h"
#include "ops/common.h"
#include "ops/operations.h"

namespace orbvex {
namespace {

std::string PartName(const ChipInfo& chip) {
    const KnownChip* known = FindKnownChip(chip.manufacturer, chip.device);
    return known ? known->name : "part " + Hex8(chip.device).substr(4);
}

std::string SizeText(std::uint32_t bytes) {
    if (bytes >= 0x100000 && bytes % 0x100000 == 0) return std::to_string(bytes >> 20) + " MB";
    return std::to_string(bytes >> 10) + " KB";
}

std::uint32_t Word(const std::vector<std::uint8_t>& a, std::size_t at) {
    return a[at] | a[at + 1] << 8 | a[at + 2] << 16 | static_cast<std::uint32_t>(a[at + 3]) << 24;
}

// A CFI time field: 2^n units, 0 when the chip gives none.
std::uint32_t Power(std::uint8_t n) { return n == 0 || n > 30 ? 0 : 1u << n; }

// Where an AMD-class part keeps its boot blocks. From version 1.1 on, the primary
// extended table says (2 bottom, 3 top); older tables may lack the flag or carry a wrong
// one, and the device ID decides, as Linux's CFI driver does: bit 7 set is top boot, but
// for Macronix's bottom-boot 29LV400 (xxBA).
bool TopBoot(const std::vector<std::uint8_t>& a, std::uint32_t manufacturer, std::uint32_t device) {
    const std::size_t p = a[0x15] | a[0x16] << 8;
    if (p >= 0x10 && p + 0xF < 0x50 && a[p] == 'P' && a[p + 1] == 'R' && a[p + 2] == 'I' &&
        (a[p + 3] << 8 | a[p + 4]) >= ('1' << 8 | '1'))
        return a[p + 0xF] == 3;
    if (manufacturer == 0xC2 && (device & 0xFF) == 0xBA) return false;
    return (device & 0x80) != 0;
}

// The map must cover the chip exactly. SST's table lists its sectors and then its blocks,
// each region spanning the whole chip: the regions that first add up to the size are the
// map, and a list that never does is no map at all.
void WholeChipOnly(ChipInfo& chip) {
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < chip.regions.size(); ++i) {
        total += std::uint64_t{chip.regions[i].blocks} * chip.regions[i].blockSize;
        if (total < chip.size) continue;
        chip.regions.resize(total == chip.size ? i + 1 : 0);
        return;
    }
    chip.regions.clear();
}

// Many top-boot AMD-class parts print their bottom-boot twin's table: the regions from
// the small boot blocks up, although those sit at the top. Linux turns round the regions
// of every top-boot part; here only a list that starts with smaller blocks than it ends
// with, so that a table already in address order is kept as it is.
void BootBlocksToTheTop(ChipInfo& chip, const std::vector<std::uint8_t>& a) {
    std::vector<ChipRegion>& r = chip.regions;
    if (chip.intel || chip.commandSet != 0x0002 || r.size() < 2 || r.front().blockSize >= r.back().blockSize) return;
    if (TopBoot(a, chip.manufacturer, chip.device)) std::reverse(r.begin(), r.end());
}

}  // namespace

std::optional<ChipInfo> DecodeChipAnswer(const std::vector<std::uint8_t>& a) {
    if (a.size() < 0x50) return std::nullopt;
    ChipInfo chip;
    const std::uint32_t type = Word(a, 0);
    if (type != 1 && type != 2) return std::nullopt;
    chip.intel = type == 2;
    chip.size = Word(a, 4);
    chip.manufacturer = Word(a, 8) & 0xFF;
    chip.device = Word(a, 12) & 0xFFFF;
    chip.cfi = a[0x10] == 'Q' && a[0x11] == 'R' && a[0x12] == 'Y';
    if (!chip.cfi) {
        const KnownChip* known = FindKnownChip(chip.manufacturer, chip.device);
        if (known && known->size == chip.size) chip.regions = known->regions;
        return chip;
    }
    chip.commandSet = a[0x13] | a[0x14] << 8;
    chip.programUs[0] = Power(a[0x1F]);
    chip.programUs[1] = chip.programUs[0] * Power(a[0x23]);
    chip.blockEraseMs[0] = Power(a[0x21]);
    chip.blockEraseMs[1] = chip.blockEraseMs[0] * Power(a[0x25]);
    const unsigned regions = a[0x2C];
    for (unsigned r = 0; r < regions && r < 4; ++r) {
        const std::size_t at = 0x2D + 4 * r;
        chip.regions.push_back({(a[at] | a[at + 1] << 8) + 1u, static_cast<std::uint32_t>(a[at + 2] | a[at + 3] << 8) * 256});
    }
    WholeChipOnly(chip);
    BootBlocksToTheTop(chip, a);
    return chip;
}

std::vector<std::string> DescribeChip(const ChipInfo& chip) {
    std::vector<std::string> lines;
    lines.push_back("Chip : " + MakerName(chip.manufacturer) + " " + PartName(chip) + " (IDs " +
                    Hex8(chip.manufacturer).substr(6) + " " + Hex8(chip.device).substr(4) + ")");
    lines.push_back("Size : " + Hex8(chip.size) + " (" + SizeText(chip.size) + ")");
    std::string set = chip.intel ? "Intel/Sharp" : "AMD/JEDEC";
    if (chip.cfi) set += " (CFI primary command set " + Hex8(chip.commandSet).substr(4) + ")";
    lines.push_back("Command set : " + set);
    std::string map;
    std::uint32_t at = 0;
    for (const ChipRegion& r : chip.regions) {
        map += (map.empty() ? "" : ", ") + std::to_string(r.blocks) + " x " + SizeText(r.blockSize) + " from " +
               Hex8(at);
        at += r.blocks * r.blockSize;
    }
    lines.push_back("Sectors : " + (map.empty() ? std::string("not given by the chip") : map));
    if (chip.cfi)
        lines.push_back("Times : word program " + std::to_string(chip.programUs[0]) + " us (at most " +
                        std::to_string(chip.programUs[1]) + "), block erase " + std::to_string(chip.blockEraseMs[0]) +
                        " ms (at most " + std::to_string(chip.blockEraseMs[1]) + ")");
    return lines;
}

std::optional<ChipInfo> IdentifyChip(WindowServices& window, std::uint32_t flashBase) {
    const std::optional<TrapAbilities> abilities = ReadTrapSignature();
    if (!abilities || !abilities->Can(mailbox::kCanIdentify)) return std::nullopt;
    std::vector<std::uint8_t> answer;
    const TrapAnswer result = TrapIdentify(flashBase, answer);
    if (!result.ok) {
        window.LogLine("Identify failed: " + result.failure);
        return std::nullopt;
    }
    const std::optional<ChipInfo> chip = DecodeChipAnswer(answer);
    if (!chip) window.LogLine("Identify failed: the trap program's answer makes no sense");
    return chip;
}

SectorSpan SectorsCovering(const ChipInfo& chip, std::uint32_t offset, std::uint32_t length) {
    SectorSpan span;
    const std::uint64_t end = std::uint64_t{offset} + length;
    bool startsOnOne = false, endsOnOne = false;
    std::uint64_t at = 0;
    for (const ChipRegion& r : chip.regions) {
        for (std::uint32_t b = 0; b < r.blocks; ++b, at += r.blockSize) {
            const std::uint64_t next = at + r.blockSize;
            if (at <= offset) span.below = static_cast<std::uint32_t>(at);
            if (next >= end && span.above == 0) span.above = static_cast<std::uint32_t>(next);
            startsOnOne = startsOnOne || at == offset;
            endsOnOne = endsOnOne || next == end;
            if (at < end && next > offset) span.blocks.push_back({static_cast<std::uint32_t>(at), r.blockSize});
        }
    }
    span.aligned = startsOnOne && endsOnOne && length > 0;
    return span;
}

bool EraseSectors(WindowServices& window, std::uint32_t flashBase, const ChipInfo& chip, const SectorSpan& span) {
    // Twice the chip's longest block erase and a second more; 30 s when it names none.
    const std::uint32_t maxMs = chip.blockEraseMs[1] ? chip.blockEraseMs[1] * 2 + 1000 : 30000;
    std::size_t n = 0;
    for (const ChipRegion& block : span.blocks) {
        if (window.StopRequested()) return false;
        const std::uint32_t at = flashBase + block.blocks;
        window.StillWaiting("erasing sector " + std::to_string(++n) + " of " + std::to_string(span.blocks.size()) +
                            " at " + Hex8(at) + " (" + SizeText(block.blockSize) + ")");
        const TrapAnswer answer = TrapEraseSectors(flashBase, at, block.blockSize, maxMs);
        if (!answer.ok) {
            window.LogLine("Erase of the sector at " + Hex8(at) + " failed: " + answer.failure);
            return false;
        }
    }
    return true;
}

bool ChipSizeAgrees(WindowServices& window, FlashRange flash, const char* what) {
    const std::optional<ChipInfo> chip = IdentifyChip(window, flash.base);
    if (!chip || chip->size == flash.size) return true;
    window.LogLine(std::string(what) + " refused: the chip holds " + SizeText(chip->size) + " (" + Hex8(chip->size) +
                   ") but the flash chosen is " + SizeText(flash.size) + " (" + Hex8(flash.size) +
                   "): nothing erased; choose the chip's size, or --force");
    return false;
}

bool RunInfo(Link& link, WindowServices& window, const InfoInputs& in) {
    OperationGuard guard(window);
    if (!guard.Acquired()) return false;
    if (!BringUpLink(link, window, in.lptBase)) return false;

    bool named = false;
    if (DcuAnswers(window) && FindMailbox(link, window)) {
        const std::optional<TrapAbilities> abilities = ReadTrapSignature();
        if (!abilities) {
            window.LogLine("Info: the trap program does not sign its mailbox, so it cannot name the chip");
        } else {
            std::string can;
            if (abilities->Can(mailbox::kCanIdentify)) can += "identify";
            if (abilities->Can(mailbox::kCanChecksum)) can += can.empty() ? "checksum" : ", checksum";
            if (abilities->Can(mailbox::kCanEraseSectors)) can += can.empty() ? "erase sectors" : ", erase sectors";
            window.LogLine("Trap program : version " + std::to_string(abilities->version) + " (" + can + ")");
            if (const std::optional<ChipInfo> chip = IdentifyChip(window, in.flash.base)) {
                for (const std::string& line : DescribeChip(*chip)) window.LogLine(line);
                named = true;
            }
        }
    }
    EndOperation(window);
    return named;
}

}  // namespace orbvex

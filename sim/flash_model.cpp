// SPDX-License-Identifier: GPL-2.0-or-later
#include "sim/flash_model.h"

#include <algorithm>

#include "util/text.h"

namespace orbvex::sim {
namespace {

constexpr std::uint32_t kK = 1024;
constexpr std::uint32_t k1M = 0x100000;
constexpr std::uint32_t k2M = 0x200000;
constexpr std::uint16_t kAmd = 0x01;
constexpr std::uint16_t kIntel = 0x89;
constexpr std::uint16_t kFujitsu = 0x04;
constexpr std::uint16_t kSharp = 0xB0;
constexpr std::uint16_t kSst = 0xBF;

// Boot sectors of the AMD parts: 16K, 8K, 8K, 32K at the bottom, mirrored at the top.
std::vector<EraseRegion> AmdRegions(std::uint32_t size, bool top) {
    const EraseRegion main{(size - 64 * kK) / (64 * kK), 64 * kK};
    std::vector<EraseRegion> boot{{1, 16 * kK}, {2, 8 * kK}, {1, 32 * kK}};
    if (!top) {
        boot.push_back(main);
        return boot;
    }
    std::reverse(boot.begin(), boot.end());
    boot.insert(boot.begin(), main);
    return boot;
}

// Eight 8K parameter blocks at the boot end, the rest 64K main blocks.
std::vector<EraseRegion> IntelRegions(std::uint32_t size, bool top) {
    const EraseRegion params{8, 8 * kK};
    const EraseRegion main{(size - 64 * kK) / (64 * kK), 64 * kK};
    return top ? std::vector<EraseRegion>{main, params} : std::vector<EraseRegion>{params, main};
}

FlashModel Amd(const char* name, std::uint16_t device, std::uint32_t size, bool top) {
    return {name, CommandSet::Amd, kAmd, device, size, top, false, true, AmdRegions(size, top)};
}

FlashModel Intel(const char* name, std::uint16_t device, std::uint32_t size, bool top) {
    return {name, CommandSet::Intel, kIntel, device, size, top, false, true, IntelRegions(size, top)};
}

// The 29LV800B's bottom boot block at an eighth of its size (2K, 1K, 1K, 4K, then 8K
// blocks) in a 64 KB part, so that whole-chip sessions cost a sixteenth of a 1 MB one.
// No such part is sold: its device code is ours and appears in no datasheet. Its bit 7
// is clear, as in every bottom-boot AMD code: a host reads the boot end of a version 1.0
// extended table from that bit, and would take the part for a top-boot one.
FlashModel Miniature() {
    return {"Mini64B", CommandSet::Amd, kAmd, 0x2260, 64 * kK, false, false, true, {{1, 2 * kK}, {2, kK}, {1, 4 * kK}, {7, 8 * kK}}};
}

// Fujitsu's bottom-boot 29LV160 (codes as AMD's part). Like every AMD-class sheet, its
// DQ7 section warns that DQ7 may turn to data while "the data outputs on DQ0-DQ6 may be
// still invalid": valid data on all of them appears on the following reads.
FlashModel FujitsuLateLowBits() {
    FlashModel model = Amd("MBM29LV160BE", 0x2249, k2M, false);
    model.manufacturer = kFujitsu;
    model.lateLowBits = true;
    return model;
}

// The C3 bottom-boot part: eight 4-Kword parameter blocks, then 31 of 32 Kwords. "The
// default status of all blocks upon power-up or reset is locked": nothing programs or
// erases before 60/D0 unlocks its block.
FlashModel IntelC3() {
    FlashModel model = Intel("28F160C3B", 0x88C3, k2M, false);
    model.lockedAtPowerUp = true;
    return model;
}

// Sharp's Smart 3 part: 32 uniform 64 KB blocks, CFI primary command set 0x0001. Its
// block lock bits are non-volatile, so a box may come with them set (here all are);
// 60/D0 clears them all in one timed operation.
FlashModel SharpS3() {
    FlashModel model = Intel("LH28F160S3", 0x00D0, k2M, false);
    model.manufacturer = kSharp;
    model.regions = {{32, 64 * kK}};
    model.lockedAtPowerUp = true;
    model.nonvolatileLocks = true;
    model.cfiCommandSet = 0x0001;
    return model;
}

// SST39VF160: 1M x16 in 512 sectors of 2 Kwords (block erase takes 16 of them at once).
FlashModel Sst39vf160() {
    return {"SST39VF160", CommandSet::Sst, kSst, 0x2782, k2M, false, false, true, {{512, 4 * kK}}};
}

constexpr std::uint16_t kSt = 0x20;

FlashModel BottomFirst(const char* name, std::uint16_t device, std::uint32_t size, std::uint8_t version) {
    FlashModel model = Amd(name, device, size, true);
    model.manufacturer = kSt;
    model.cfiBottomFirst = true;
    model.extendedVersion = version;
    return model;
}

FlashModel PoweredInAutoselect(const char* name, std::uint16_t device, std::uint32_t size) {
    FlashModel model = Amd(name, device, size, false);
    model.autoselectAtPowerUp = true;
    return model;
}

// The 29LV800 codes come from public driver tables; no datasheet page we could read
// shows them, so they are the likeliest values rather than confirmed ones.
std::vector<FlashModel> BuildModels() {
    return {
        Amd("29LV800B", 0x225B, k1M, false),
        Amd("29LV800T", 0x22DA, k1M, true),
        Amd("29LV160B", 0x2249, k2M, false),
        Amd("29LV160T", 0x22C4, k2M, true),
        Intel("28F800B3B", 0x8893, k1M, false),
        Intel("28F800B3T", 0x8892, k1M, true),
        Intel("28F160B3B", 0x8891, k2M, false),
        Intel("28F160B3T", 0x8890, k2M, true),
        Miniature(),
        FujitsuLateLowBits(),
        IntelC3(),
        SharpS3(),
        Sst39vf160(),
        // ST's top-boot parts print the one table of T and B: regions bottom-first, the
        // extended table naming the top boot end (the 160's table as version 1.1).
        BottomFirst("M29W800DT", 0x22D7, k1M, 0x10),
        BottomFirst("M29W160ET", 0x22C4, k2M, 0x11),
        PoweredInAutoselect("29LV800B_autoselect", 0x225B, k1M),
    };
}

unsigned Log2(std::uint32_t value) {
    unsigned n = 0;
    while ((1u << (n + 1)) <= value) ++n;
    return n;
}

void Put16(std::vector<std::uint8_t>& table, std::size_t at, std::uint32_t value) {
    table[at] = static_cast<std::uint8_t>(value);
    table[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace

std::vector<FlashBlock> FlashModel::Blocks() const {
    std::vector<FlashBlock> blocks;
    std::uint32_t offset = 0;
    for (const EraseRegion& region : regions) {
        for (std::uint32_t i = 0; i < region.blocks; ++i, offset += region.blockSize) {
            blocks.push_back({offset, region.blockSize});
        }
    }
    return blocks;
}

const std::vector<FlashModel>& FlashModels() {
    static const std::vector<FlashModel> models = BuildModels();
    return models;
}

const FlashModel* FindFlashModel(const std::string& name) {
    const std::string wanted = Lower(name);
    for (const FlashModel& model : FlashModels()) {
        if (Lower(model.name) == wanted) return &model;
    }
    return nullptr;
}

const FlashModel& DefaultFlashModel(std::uint32_t size) {
    return *FindFlashModel(size == k2M ? "29LV160B" : "29LV800B");
}

// 0x66 has an even number of bits set, so no maker's JEDEC code can be it.
FlashModel UnknownVariant(const FlashModel& model) {
    FlashModel unknown = model;
    unknown.manufacturer = 0x66;
    unknown.device = 0x2266;
    unknown.answersCfi = false;
    return unknown;
}

namespace {

// Transcribed from the SST39VF160 sheet's query tables: command set 0x0701, no extended
// table, and two erase block regions that each span the whole chip (its sectors, then
// its blocks), so that the regions add up to twice its size.
std::vector<std::uint8_t> SstCfiTable(const FlashModel& model) {
    std::vector<std::uint8_t> t(0x50, 0);
    const std::uint8_t head[] = {'Q', 'R', 'Y', 0x01, 0x07, 0, 0, 0, 0, 0, 0, 0x27, 0x36, 0, 0, 0x04, 0, 0x04, 0x06,
                                 0x01, 0, 0x01, 0x01};
    std::copy(std::begin(head), std::end(head), t.begin() + 0x10);
    t[0x27] = static_cast<std::uint8_t>(Log2(model.size));
    Put16(t, 0x28, 0x0001);  // x16 only
    t[0x2C] = 2;
    Put16(t, 0x2D, model.size / (4 * kK) - 1);
    Put16(t, 0x2F, 4 * kK / 256);
    Put16(t, 0x31, model.size / (64 * kK) - 1);
    Put16(t, 0x33, 64 * kK / 256);
    return t;
}

}  // namespace

std::vector<std::uint8_t> CfiTable(const FlashModel& model) {
    if (model.commandSet == CommandSet::Sst) return SstCfiTable(model);
    const bool amd = model.commandSet == CommandSet::Amd;
    std::vector<std::uint8_t> t(0x50, 0);
    t[0x10] = 'Q';
    t[0x11] = 'R';
    t[0x12] = 'Y';
    const std::uint16_t primary = model.cfiCommandSet ? model.cfiCommandSet : amd ? 0x0002
                                                                                  : 0x0003;
    Put16(t, 0x13, primary);
    // The Intel extended table follows the geometry: after one region at 0x31, after two at 0x35.
    const std::size_t extended = amd ? 0x40 : 0x31 + 4 * (model.regions.size() - 1);
    Put16(t, 0x15, static_cast<std::uint32_t>(extended));
    t[0x1B] = 0x27;  // Vcc 2.7 V to 3.6 V
    t[0x1C] = 0x36;
    t[0x1D] = amd ? 0x00 : 0xB4;  // Vpp 11.4 V to 12.6 V for the fast Intel program
    t[0x1E] = amd ? 0x00 : 0xC6;
    t[0x1F] = amd ? 0x04 : 0x05;  // typical word program 2^n us
    t[0x21] = 0x0A;               // typical block erase 2^n ms
    t[0x23] = amd ? 0x05 : 0x04;  // maximum word program 2^n times typical
    t[0x25] = amd ? 0x04 : 0x03;  // maximum block erase 2^n times typical
    t[0x27] = static_cast<std::uint8_t>(Log2(model.size));
    Put16(t, 0x28, amd ? 0x0002 : 0x0001);  // x8/x16, or x16 only
    std::vector<EraseRegion> listed = model.regions;
    if (model.cfiBottomFirst) std::reverse(listed.begin(), listed.end());
    t[0x2C] = static_cast<std::uint8_t>(listed.size());
    for (std::size_t i = 0; i < listed.size(); ++i) {
        Put16(t, 0x2D + 4 * i, listed[i].blocks - 1);
        Put16(t, 0x2F + 4 * i, listed[i].blockSize / 256);
    }
    t[extended] = 'P';
    t[extended + 1] = 'R';
    t[extended + 2] = 'I';
    t[extended + 3] = static_cast<std::uint8_t>('0' + (model.extendedVersion >> 4));
    t[extended + 4] = static_cast<std::uint8_t>('0' + (model.extendedVersion & 0xF));
    if (amd) {
        t[0x46] = 0x02;  // erase suspend: read and write
        t[0x47] = 0x01;  // sector protection
        t[0x4F] = model.topBoot ? 0x03 : 0x02;
    }
    return t;
}

}  // namespace orbvex::sim

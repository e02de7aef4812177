// SPDX-License-Identifier: GPL-2.0-or-later
// The host's one table of chips: the block map it shows and uses, decoded from the
// trap's identify answer (top-boot tables listed bottom-first turned round), and the
// table checked against the virtual receiver's parts and the trap's own list of IDs.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "ops/chip_info.h"
#include "sim/flash_model.h"

namespace orbvex {
namespace {

constexpr std::uint32_t kK = 1024;

struct Region {
    std::uint32_t blocks, kb;
};

// The head of an identify answer as the trap writes it: the command set it drives, the
// size and the codes; CFI bytes 0x10..0x4F follow at the same offsets.
void PutHead(std::vector<std::uint8_t>& a, bool intel, std::uint32_t size, std::uint32_t maker, std::uint32_t device) {
    const std::uint32_t words[] = {intel ? 2u : 1u, size, maker, device};
    for (std::size_t w = 0; w < 4; ++w)
        for (std::size_t i = 0; i < 4; ++i) a[4 * w + i] = static_cast<std::uint8_t>(words[w] >> (8 * i));
}

// An answer with the regions listed as given; version "": no extended table.
std::vector<std::uint8_t> Answer(bool intel, std::uint32_t size, std::uint32_t maker, std::uint32_t device,
                                 std::initializer_list<Region> listed, const char* version, std::uint8_t bootFlag) {
    std::vector<std::uint8_t> a(0x50, 0);
    PutHead(a, intel, size, maker, device);
    if (listed.size() == 0) return a;  // no CFI: whatever the bus drove, here zeros
    a[0x10] = 'Q', a[0x11] = 'R', a[0x12] = 'Y';
    a[0x13] = intel ? 3 : 2;
    std::size_t at = 0x2D;
    a[0x2C] = static_cast<std::uint8_t>(listed.size());
    for (const Region& r : listed) {
        a[at] = static_cast<std::uint8_t>(r.blocks - 1), a[at + 1] = static_cast<std::uint8_t>((r.blocks - 1) >> 8);
        a[at + 2] = static_cast<std::uint8_t>(r.kb * 4), a[at + 3] = static_cast<std::uint8_t>((r.kb * 4) >> 8);
        at += 4;
    }
    if (*version) {
        const std::size_t p = intel ? 0x35 : 0x40;
        a[0x15] = static_cast<std::uint8_t>(p);
        a[p] = 'P', a[p + 1] = 'R', a[p + 2] = 'I', a[p + 3] = version[0], a[p + 4] = version[1];
        if (!intel) a[p + 0xF] = bootFlag;
    }
    return a;
}

// Block sizes from the chip's start: enough to compare two maps, the offsets follow.
std::vector<std::uint32_t> Sizes(const std::vector<ChipRegion>& regions) {
    std::vector<std::uint32_t> sizes;
    for (const ChipRegion& r : regions) sizes.insert(sizes.end(), r.blocks, r.blockSize);
    return sizes;
}
std::vector<std::uint32_t> Sizes(const std::vector<sim::FlashBlock>& blocks) {
    std::vector<std::uint32_t> sizes;
    for (const sim::FlashBlock& b : blocks) sizes.push_back(b.size);
    return sizes;
}

std::string SectorsLine(const std::vector<std::uint8_t>& answer) {
    const std::optional<ChipInfo> chip = DecodeChipAnswer(answer);
    if (!chip) return "undecoded";
    for (const std::string& line : DescribeChip(*chip))
        if (line.rfind("Sectors : ", 0) == 0) return line.substr(10);
    return "no line";
}

const std::initializer_list<Region> kBottomFirst2M = {{1, 16}, {2, 8}, {1, 32}, {31, 64}};
const std::initializer_list<Region> kTopOrder2M = {{31, 64}, {1, 32}, {2, 8}, {1, 16}};
const char* const kBottom2M =
    "1 x 16 KB from 00000000, 2 x 8 KB from 00004000, 1 x 32 KB from 00008000, 31 x 64 KB "
    "from 00010000";
const char* const kTop2M =
    "31 x 64 KB from 00000000, 1 x 32 KB from 001F0000, 2 x 8 KB from 001F8000, 1 x 16 KB "
    "from 001FC000";

TEST(ChipMap, TheRealBlockMapFromTheIdentifyAnswer) {
    const struct {
        const char* what;
        std::vector<std::uint8_t> answer;
        const char* sectors;
    } rows[] = {
        {"bottom boot, flag 2", Answer(false, 0x200000, 0x01, 0x2249, kBottomFirst2M, "11", 2), kBottom2M},
        {"top boot listed bottom-first, flag 3 of a 1.1 table",
         Answer(false, 0x200000, 0x20, 0x22C4, kBottomFirst2M, "11", 3), kTop2M},
        {"top boot already in address order is kept", Answer(false, 0x200000, 0x01, 0x22C4, kTopOrder2M, "11", 3),
         kTop2M},
        {"a 1.0 table's flag is not trusted: the top-boot device ID decides",
         Answer(false, 0x200000, 0x20, 0x22C4, kBottomFirst2M, "10", 2), kTop2M},
        {"a 1.0 table of a bottom-boot ID stays", Answer(false, 0x200000, 0x01, 0x2249, kBottomFirst2M, "10", 3),
         kBottom2M},
        {"a 1.1 flag saying bottom wins over the ID", Answer(false, 0x200000, 0x01, 0x22C4, kBottomFirst2M, "11", 2),
         kBottom2M},
        {"no extended table: the device ID decides", Answer(false, 0x200000, 0x20, 0x22C4, kBottomFirst2M, "", 0),
         kTop2M},
        {"Macronix's bottom-boot 29LV400 despite bit 7",
         Answer(false, 0x80000, 0xC2, 0x22BA, {{1, 16}, {2, 8}, {1, 32}, {7, 64}}, "10", 0),
         "1 x 16 KB from 00000000, 2 x 8 KB from 00004000, 1 x 32 KB from 00008000, 7 x 64 KB from 00010000"},
        {"an Intel top-boot table is in address order already",
         Answer(true, 0x100000, 0x89, 0x8892, {{15, 64}, {8, 8}}, "10", 0),
         "15 x 64 KB from 00000000, 8 x 8 KB from 000F0000"},
        {"regions that each span the chip: the first that makes it up",
         Answer(false, 0x200000, 0xBF, 0x2782, {{512, 4}, {32, 64}}, "", 0), "512 x 4 KB from 00000000"},
        {"regions that do not add up to the chip: no map",
         Answer(false, 0x200000, 0x01, 0x2249, {{1, 16}, {2, 8}, {1, 32}, {30, 64}}, "11", 2),
         "not given by the chip"},
        {"no CFI: the known part's map", Answer(false, 0x100000, 0x01, 0x22DA, {}, "", 0),
         "15 x 64 KB from 00000000, 1 x 32 KB from 000F0000, 2 x 8 KB from 000F8000, 1 x 16 KB from 000FC000"},
        {"no CFI and a size the known part has not: no map", Answer(false, 0x200000, 0x01, 0x22DA, {}, "", 0),
         "not given by the chip"},
        {"no CFI, unknown codes: no map", Answer(false, 0x100000, 0x66, 0x2266, {}, "", 0), "not given by the chip"},
    };
    for (const auto& row : rows) EXPECT_EQ(SectorsLine(row.answer), row.sectors) << row.what;
}

// The --offset boundaries and the per-sector erase lines come from the same map.
TEST(ChipMap, SectorsCoveringARangeInTheTopBootBlocks) {
    const std::optional<ChipInfo> chip = DecodeChipAnswer(Answer(false, 0x200000, 0x20, 0x22C4, kBottomFirst2M, "11", 3));
    ASSERT_TRUE(chip);
    const SectorSpan span = SectorsCovering(*chip, 0x1F9000, 0x3000);
    ASSERT_EQ(span.blocks.size(), 2u);
    EXPECT_EQ(span.blocks[0].blocks, 0x1F8000u);
    EXPECT_EQ(span.blocks[0].blockSize, 8 * kK);
    EXPECT_EQ(span.blocks[1].blocks, 0x1FA000u);
    EXPECT_FALSE(span.aligned);
    EXPECT_EQ(span.below, 0x1F8000u);
    EXPECT_EQ(span.above, 0x1FC000u);
    EXPECT_TRUE(SectorsCovering(*chip, 0x1FC000, 0x4000).aligned);
    EXPECT_EQ(SectorsCovering(*chip, 0x1FC000, 0x4000).blocks.size(), 1u);
}

// The virtual receiver's parts are written from the datasheets apart from this table;
// where both know a part, they must agree on its name, size and every block.
TEST(ChipTable, AgreesWithTheVirtualReceiversParts) {
    std::map<std::pair<std::uint32_t, std::uint32_t>, int> seen;
    for (const KnownChip& chip : KnownChips())
        EXPECT_EQ(++seen[std::make_pair(chip.manufacturer, chip.device)], 1) << chip.name << " twice";
    for (const sim::FlashModel& model : sim::FlashModels()) {
        SCOPED_TRACE(model.name);
        const KnownChip* known = FindKnownChip(model.manufacturer, model.device);
        ASSERT_NE(known, nullptr) << "the host cannot name a part the receiver carries";
        EXPECT_EQ(model.name.rfind(known->name, 0), 0u) << known->name;  // a variant may add to the name
        EXPECT_EQ(known->size, model.size);
        EXPECT_EQ(Sizes(known->regions), Sizes(model.Blocks()));
    }
}

// Each part's own CFI bytes, as the trap passes them on, decode to the part's real map:
// its boot end read as a host reads it (the flag, or a 1.0 table's device ID).
TEST(ChipMap, EveryVirtualPartsQueryDecodesToItsBlocks) {
    for (const sim::FlashModel& model : sim::FlashModels()) {
        if (!model.answersCfi) continue;
        SCOPED_TRACE(model.name);
        std::vector<std::uint8_t> answer = sim::CfiTable(model);
        ASSERT_EQ(answer.size(), 0x50u);
        PutHead(answer, model.commandSet == sim::CommandSet::Intel, model.size, model.manufacturer, model.device);
        const std::optional<ChipInfo> chip = DecodeChipAnswer(answer);
        ASSERT_TRUE(chip);
        EXPECT_EQ(Sizes(chip->regions), Sizes(model.Blocks()));
    }
}

// The trap knows a few AMD parts by their autoselect IDs alone (in the code from the
// label autoselect on), each with the size it stores first: every one must be a part of
// this table, of that size.
std::vector<std::pair<std::uint32_t, std::uint32_t>> TrapAutoselectIds(std::istream& source) {
    const std::regex constant(R"(^\s*ldc\s+(0x[0-9A-Fa-f]+)\b)"), sizeStore(R"(^\s*stl\s+SIZE\b)");
    const std::regex id(R"(^\s*eqc\s+(0x[0-9A-Fa-f]+)\b)");
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ids;  // device, size
    bool inList = false;
    std::uint32_t constantBefore = 0, size = 0;
    for (std::string line; std::getline(source, line);) {
        if (line.rfind("autoselect:", 0) == 0 || line.rfind("as_leave_amd:", 0) == 0) inList = true;
        else if (line.rfind("not_identified:", 0) == 0 || line.rfind("autoselect_known:", 0) == 0) inList = false;
        if (!inList) continue;
        std::smatch m;
        if (std::regex_search(line, sizeStore)) size = constantBefore;
        constantBefore = std::regex_search(line, m, constant) ? static_cast<std::uint32_t>(std::stoul(m[1], nullptr, 16)) : 0;
        const auto value = static_cast<std::uint32_t>(std::regex_search(line, m, id) ? std::stoul(m[1], nullptr, 16) : 0);
        if (value > 0xFF) ids.push_back({value, size});  // not a maker's code
    }
    return ids;
}

TEST(ChipTable, HoldsEveryPartTheTrapNamesByID) {
    std::ifstream source(std::string(ORBVEX_SOURCE_DIR) + "/trap/trap.s");
    ASSERT_TRUE(source) << "the trap's source";
    const auto ids = TrapAutoselectIds(source);
    EXPECT_GE(ids.size(), 4u) << "the trap's list of IDs was not found";
    for (const auto& [device, size] : ids) {
        bool known = false;
        for (const KnownChip& chip : KnownChips()) known = known || (chip.device == device && chip.size == size);
        EXPECT_TRUE(known) << "device " << std::hex << device << " of " << size << " bytes";
    }
}

}  // namespace
}  // namespace orbvex

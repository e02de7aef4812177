// SPDX-License-Identifier: GPL-2.0-or-later
// The flash chip models against their datasheets: identifier codes, CFI tables and
// sector maps, then command cycles as the datasheets list them, with the status bits
// while busy and after, and what the chip records as done wrong.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "sim/nor_flash.h"

namespace {

using namespace orbvex::sim;

// A chip on the bench, with its own clock.
struct Bench {
    explicit Bench(const std::string& name) : chip(*FindFlashModel(name), &clock) {
        chip.SetTiming(&timing);
        chip.SetFaults(&faults);
    }
    void Write(std::uint32_t word, std::uint16_t value) { chip.WriteHalf(word << 1, value); }
    std::uint16_t Read(std::uint32_t word) { return chip.ReadHalf(word << 1); }
    void Cycles(std::initializer_list<std::pair<std::uint32_t, std::uint16_t>> cycles) {
        for (const auto& [word, value] : cycles) Write(word, value);
    }
    SimClock clock;
    FlashTiming timing;
    FlashFaults faults;
    NorFlash chip;
};

struct Identity {
    const char* chip;
    std::uint16_t manufacturer, device;
    std::uint16_t commandSet;  // CFI primary command set
    std::uint32_t size;
    std::uint32_t lowBlock, highBlock;  // sizes of the blocks at the two ends
    std::size_t blocks;
};

const Identity kIdentities[] = {
    {"29LV800B", 0x01, 0x225B, 2, 0x100000, 0x4000, 0x10000, 19},
    {"29LV800T", 0x01, 0x22DA, 2, 0x100000, 0x10000, 0x4000, 19},
    {"29LV160B", 0x01, 0x2249, 2, 0x200000, 0x4000, 0x10000, 35},
    {"29LV160T", 0x01, 0x22C4, 2, 0x200000, 0x10000, 0x4000, 35},
    {"28F800B3B", 0x89, 0x8893, 3, 0x100000, 0x2000, 0x10000, 23},
    {"28F800B3T", 0x89, 0x8892, 3, 0x100000, 0x10000, 0x2000, 23},
    {"28F160B3B", 0x89, 0x8891, 3, 0x200000, 0x2000, 0x10000, 39},
    {"28F160B3T", 0x89, 0x8890, 3, 0x200000, 0x10000, 0x2000, 39},
    {"MBM29LV160BE", 0x04, 0x2249, 2, 0x200000, 0x4000, 0x10000, 35},
    {"28F160C3B", 0x89, 0x88C3, 3, 0x200000, 0x2000, 0x10000, 39},
    {"LH28F160S3", 0xB0, 0x00D0, 1, 0x200000, 0x10000, 0x10000, 32},
    {"SST39VF160", 0xBF, 0x2782, 0x0701, 0x200000, 0x1000, 0x10000, 512},
    {"M29W800DT", 0x20, 0x22D7, 2, 0x100000, 0x10000, 0x4000, 19},
    {"M29W160ET", 0x20, 0x22C4, 2, 0x200000, 0x10000, 0x4000, 35},
};

void PrintTo(const Identity& id, std::ostream* os) { *os << id.chip; }

class ChipIdentity : public ::testing::TestWithParam<Identity> {};

TEST_P(ChipIdentity, IdentifierCodesCfiAndSectorMap) {
    const Identity& id = GetParam();
    Bench b(id.chip);
    const CommandSet set = b.chip.Model().commandSet;
    const std::uint16_t reset = set == CommandSet::Intel ? 0xFF : 0xF0;
    b.chip.Set(0, 0x34);
    b.chip.Set(1, 0x12);

    if (set == CommandSet::Amd) b.Cycles({{0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x90}});
    else if (set == CommandSet::Sst) b.Cycles({{0x5555, 0xAA}, {0x2AAA, 0x55}, {0x5555, 0x90}});
    else b.Write(0, 0x90);
    EXPECT_EQ(b.Read(0), id.manufacturer);
    EXPECT_EQ(b.Read(1), id.device);
    EXPECT_FALSE(b.chip.ReadingArray());
    b.Write(0, reset);
    EXPECT_EQ(b.Read(0), 0x1234) << "back to the array";

    if (set == CommandSet::Amd) b.Write(0x55, 0x98);
    else if (set == CommandSet::Sst) b.Cycles({{0x5555, 0xAA}, {0x2AAA, 0x55}, {0x5555, 0x98}});
    else b.Write(0x1234, 0x98);
    auto cfi = [&b](std::uint32_t word) { return b.Read(word); };
    EXPECT_EQ(std::string({char(cfi(0x10)), char(cfi(0x11)), char(cfi(0x12))}), "QRY");
    EXPECT_EQ(cfi(0x13) | cfi(0x14) << 8, id.commandSet);
    EXPECT_EQ(1u << cfi(0x27), id.size);
    // The erase block regions add up to the chip and give the sector map.
    std::uint32_t total = 0, first = 0, last = 0;
    for (unsigned r = 0; r < cfi(0x2C); ++r) {
        const std::uint32_t blocks = (cfi(0x2D + 4 * r) | cfi(0x2E + 4 * r) << 8) + 1u;
        const std::uint32_t size = (cfi(0x2F + 4 * r) | cfi(0x30 + 4 * r) << 8) * 256u;
        if (r == 0) first = size;
        last = size;
        total += blocks * size;
    }
    // The SST sheet lists its sectors and its blocks as two regions, each the whole chip.
    EXPECT_EQ(total, set == CommandSet::Sst ? 2 * id.size : id.size);
    // A part that prints the bottom-boot table lists its top blocks first.
    const bool bottomFirst = FindFlashModel(id.chip)->cfiBottomFirst;
    EXPECT_EQ(first, bottomFirst ? id.highBlock : id.lowBlock);
    EXPECT_EQ(last, bottomFirst ? id.lowBlock : id.highBlock);
    EXPECT_EQ(b.chip.Blocks().size(), id.blocks);
    EXPECT_EQ(b.chip.Blocks().front().size, id.lowBlock);
    EXPECT_EQ(b.chip.Blocks().back().offset + b.chip.Blocks().back().size, id.size);
    b.Write(0, reset);
    EXPECT_EQ(b.Read(0), 0x1234);
    EXPECT_TRUE(b.chip.Violations().empty()) << Describe(b.chip.Violations().front());
}

INSTANTIATE_TEST_SUITE_P(Models, ChipIdentity, ::testing::ValuesIn(kIdentities),
                         [](const auto& info) { return std::string(info.param.chip); });

TEST(ChipIdentity, DefaultPartsAndUnknownNames) {
    EXPECT_EQ(DefaultFlashModel(0x100000).name, "29LV800B");
    EXPECT_EQ(DefaultFlashModel(0x200000).name, "29LV160B");
    ASSERT_NE(FindFlashModel("28f160b3t"), nullptr);
    EXPECT_EQ(FindFlashModel("29LV320B"), nullptr);
}

// Command-cycle scripts. Tokens, addresses in words, numbers in hex:
//   A=V     write V at A            rA=V / rA&M=V   read at A, expect V (under mask M)
//   ~A      two reads at A differ in DQ6 (bit 6)
//   sA=V    set the cell at A through the storage side door
//   bA=V    a byte-wide write at byte offset A
//   +p +e +c +w +f +k +l  let the chip's program, block-erase, chip-erase, erase-window,
//                   failure, lock-bit or lock-clear time pass; +N that many instructions
// violations: one letter per recorded violation, in order: N not a command, B byte
// write, Z zero to one, W refused while busy.
enum class Fault { None,
                   Stuck,
                   NeverReady,
                   Unknown };

struct Script {
    const char* what;
    const char* chip;
    Fault fault;
    const char* steps;
    const char* violations;
};

const Script kScripts[] = {
    // AMD command set
    {"program: DQ7 complement and DQ6 toggling while busy, data after", "29LV800B", Fault::None,
     "555=AA 2AA=55 555=A0 100=1234 r100&80=80 ~100 ~7 +p r100=1234 r101=FFFF", ""},
    {"program only clears bits; asking 0 to 1 fails with DQ5 until reset", "29LV800B", Fault::None,
     "s100=F0F0 555=AA 2AA=55 555=A0 100=0FFF +p r100&20=0 +f r100&A0=20 ~100 r100&20=20 0=F0 r100=00F0", "Z"},
    {"reset is ignored while busy", "29LV160T", Fault::None,
     "555=AA 2AA=55 555=A0 40=0 0=F0 ~40 r40&80=80 +p r40=0", "W"},
    {"sector erase: DQ3 0 in the window, further sectors join, DQ3 1 once erasing", "29LV800B", Fault::None,
     "s0=0 s2000=0 s4000=0 s8000=0 555=AA 2AA=55 555=80 555=AA 2AA=55 2000=30 r2000&88=0 ~0 "
     "+100 4000=30 +w r2000&88=8 +e r4000&88=8 +e r2000=FFFF r4000=FFFF r0=0 r8000=0",
     ""},
    {"DQ2 toggles only inside the sector being erased", "29LV800B", Fault::None,
     "555=AA 2AA=55 555=80 555=AA 2AA=55 8000=30 r8000&4=4 r8000&4=0 r0&4=0 r0&4=0", ""},
    {"chip erase: DQ7 0 and DQ3 1 while busy, all erased after", "29LV160B", Fault::None,
     "s0=0 sFFFFF=0 555=AA 2AA=55 555=80 555=AA 2AA=55 555=10 r0&88=8 ~FFFFF +c r0=FFFF rFFFFF=FFFF", ""},
    {"command addresses ignore bits above A10", "29LV160B", Fault::None, "D55=AA AAA=55 F555=A0 10=AB +p r10=AB", ""},
    {"cycles that are no command leave the chip reading its array", "29LV800B", Fault::None,
     "s0=1234 0=5678 555=AA 2AA=77 r0=1234 555=AA 2AA=55 555=80 123=AA r0=1234 555=90", "NNNN"},
    {"an erase window ends at the first other cycle, erasing nothing", "29LV800B", Fault::None,
     "s0=0 555=AA 2AA=55 555=80 555=AA 2AA=55 0=30 0=F0 +w +e r0=0", "N"},
    {"autoselect needs a reset before the next command", "29LV800B", Fault::None,
     "555=AA 2AA=55 555=90 555=AA r1=225B 0=F0 r1=FFFF", "N"},
    {"a byte write on the word bus is refused", "29LV800B", Fault::None, "b0=AA b1=55 r0=FFFF", "BB"},
    {"the Intel read-array command is a wrong cycle: the array stays", "29LV800B", Fault::None, "s0=1234 0=FF r0=1234",
     ""},
    {"bottom-first CFI regions of a top-boot part, the 1.0 table saying top", "M29W800DT", Fault::None,
     "555=AA 2AA=55 555=90 r0=20 r1=22D7 0=F0 55=98 r2D=0 r2F=40 r39=E r3C=1 r43=31 r44=30 r4F=3 0=F0", ""},
    {"the same on the 2 MB part, its 1.1 table saying top", "M29W160ET", Fault::None,
     "555=AA 2AA=55 555=90 r1=22C4 0=F0 55=98 r2F=40 r39=1E r3C=1 r43=31 r44=31 r4F=3 0=F0", ""},
    {"powered up in autoselect; a query entered there needs two resets", "29LV800B_autoselect", Fault::None,
     "s0=1234 r0=1 r1=225B 555=AA 55=98 r10=51 0=F0 r1=225B 0=F0 r0=1234", "N"},
    {"unlock bypass: two-cycle programs until 90/00", "29LV160B", Fault::None,
     "555=AA 2AA=55 555=20 0=A0 0=1234 ~0 +p r0=1234 0=A0 1=5678 +p r1=5678 0=90 0=0 0=A0", "N"},
    {"a stuck bit fails the program with DQ5", "29LV800B", Fault::Stuck,
     "555=AA 2AA=55 555=A0 8=0 +p ~8 +f r8&20=20 0=F0 r8=10", ""},
    {"a chip that never finishes: busy forever, no DQ5", "29LV800B", Fault::NeverReady,
     "555=AA 2AA=55 555=80 555=AA 2AA=55 555=10 +1000000 ~0 r0&20=0", ""},
    {"an unknown chip: strange codes and no CFI", "29LV800B", Fault::Unknown,
     "555=AA 2AA=55 555=90 r0=66 r1=2266 0=F0 55=98 r10=FFFF", "N"},
    // Intel command set
    {"program: SR.7 0 while busy, 80 after, status until read array", "28F800B3B", Fault::None,
     "0=40 100=1234 r0=0 +p r0=80 r100=80 0=FF r100=1234", ""},
    {"the alternate program setup 10 takes the next write as data", "28F160B3T", Fault::None,
     "555=AA 2AA=55 555=80 555=AA 2AA=55 555=10 0=F0 +p 0=FF r0=F0", "NNNNN"},
    {"a 1 over a 0 is not programmed and is no error", "28F800B3B", Fault::None,
     "s10=FF00 10=40 10=F0F0 +p r10=80 0=FF r10=F000", "Z"},
    {"block erase erases the one block, status after", "28F800B3B", Fault::None,
     "s0=0 s1000=0 1000=20 1000=D0 r0=0 +e r0=80 0=FF r1000=FFFF r0=0", ""},
    {"erase setup not confirmed: sequence error until clear status", "28F800B3B", Fault::None,
     "0=20 0=FF r0=B0 0=50 r0=80", "N"},
    {"locked blocks refuse program and erase; unlock and it works", "28F800B3T", Fault::None,
     "0=60 0=1 0=40 0=0 r0=92 0=50 0=20 0=D0 r0=A2 0=50 0=60 0=D0 0=40 0=0 +p r0=80 0=FF r0=0", ""},
    {"lock state reads at block word 2 in identifier mode", "28F160B3B", Fault::None,
     "1000=60 1000=1 0=90 r1002=1 r2=0 1000=60 1000=D0 0=90 r1002=0", ""},
    {"writes while busy are refused; read status is allowed", "28F800B3B", Fault::None,
     "0=20 0=D0 0=70 0=FF r0=0 +e r0=80", "W"},
    {"a stuck bit sets SR.4", "28F800B3B", Fault::Stuck, "8=40 8=0 +f r0=90 0=FF r8=10", ""},
    {"a chip that never finishes keeps SR.7 at 0", "28F800B3B", Fault::NeverReady, "0=20 0=D0 +1000000 r0=0", ""},
    {"an unknown chip: strange codes and no CFI", "28F800B3B", Fault::Unknown, "0=90 r0=66 r1=2266 0=98", "N"},
    {"a byte write on the word bus is refused", "28F800B3B", Fault::None, "b0=40 b1=0", "BB"},
    // An AMD-class part whose DQ0-DQ6 turn to data one read after DQ7 does
    {"program: the read that first shows DQ7 true still shows status elsewhere", "MBM29LV160BE", Fault::None,
     "555=AA 2AA=55 555=A0 100=12B4 r100&80=0 +p r100&FFBF=ED80 r100=12B4 r100=12B4", ""},
    {"erase: DQ7 turns 1 a read before the word reads FFFF", "MBM29LV160BE", Fault::None,
     "s0=0 555=AA 2AA=55 555=80 555=AA 2AA=55 555=10 +c r0&FFBF=88 r0=FFFF", ""},
    // Intel C3: every block locked at power-up
    {"C3: all blocks locked at power-up refuse program and erase with SR.1", "28F160C3B", Fault::None,
     "0=90 r2=1 r8002=1 rF8002=1 0=40 0=0 r0=92 0=50 8000=20 8000=D0 r0=A2 0=50 0=FF r0=FFFF", ""},
    {"C3: 60/D0 unlocks one block, 60/01 locks it, 60/2F holds it against 60/D0", "28F160C3B", Fault::None,
     "1000=60 1000=D0 0=90 r1002=0 r2=1 1000=40 1000=1234 +p r0=80 0=FF r1000=1234 1000=60 1000=1 0=90 r1002=1 "
     "1000=60 1000=2F 1000=60 1000=D0 0=90 r1002=3 1000=40 1000=0 r0=92",
     ""},
    // Sharp LH28F160S3: non-volatile lock bits, cleared all at once
    {"S3: lock bits read at block word 2; 60/D0 clears all, SR.7 0 until done", "LH28F160S3", Fault::None,
     "0=90 r0=B0 r1=D0 r2=1 r8002=1 8000=60 8000=D0 r0=0 8000=20 +l r0=80 0=90 r2=0 rF8002=0 "
     "0=FF F8000=20 F8000=D0 +e r0=80",
     "W"},
    {"S3: 60/01 sets one lock bit, timed; 60/2F is no command; 60/F1 needs 12 V", "LH28F160S3", Fault::None,
     "0=60 0=D0 +l 8000=60 8000=1 r0=0 +k r0=80 0=90 r8002=1 r2=0 0=60 0=2F r0=B0 0=50 0=60 0=F1 r0=92", "N"},
    // SST39VF160: its own unlock addresses and erase commands
    {"SST: program after unlock at 5555/2AAA; DQ7 complement, DQ6 toggling", "SST39VF160", Fault::None,
     "5555=AA 2AAA=55 5555=A0 100=12B4 r100&80=0 ~100 +p r100=12B4", ""},
    {"SST: command addresses ignore bits above A14", "SST39VF160", Fault::None,
     "8D555=AA AAAA=55 FD555=A0 10=AB +p r10=AB", ""},
    {"SST: an AMD sequence at 555/2AA is no command and changes nothing", "SST39VF160", Fault::None,
     "s100=0 555=AA 2AA=55 555=80 555=AA 2AA=55 555=10 +c r100=0 555=AA 2AA=55 555=A0 200=0 +p r200=FFFF "
     "555=AA 2AA=55 555=90 r1=FFFF 55=98 r10=FFFF",
     "NNNNNNNNNNNNNN"},
    {"SST: sector erase (30) takes 2 Kwords, block erase (50) 32 Kwords", "SST39VF160", Fault::None,
     "s7FF=0 s800=0 sFFF=0 s1000=0 5555=AA 2AAA=55 5555=80 5555=AA 2AAA=55 800=30 r800&80=0 ~800 +e "
     "r7FF=0 r800=FFFF rFFF=FFFF r1000=0 s7FFF=0 s8000=0 sFFFF=0 s10000=0 "
     "5555=AA 2AAA=55 5555=80 5555=AA 2AAA=55 9123=50 +e r7FFF=0 r8000=FFFF rFFFF=FFFF r10000=0",
     ""},
    {"SST: the three-cycle F0 leaves the software ID", "SST39VF160", Fault::None,
     "5555=AA 2AAA=55 5555=90 r0=BF r1=2782 5555=AA 2AAA=55 5555=F0 r1=FFFF", ""},
    {"SST: no DQ5; a 1 over a 0 ends as usual with the 0 kept; busy ignores commands", "SST39VF160", Fault::None,
     "s100=F0F0 5555=AA 2AAA=55 5555=A0 100=0FFF +p r100=00F0 5555=AA 2AAA=55 5555=80 5555=AA 2AAA=55 5555=10 "
     "0=F0 ~0 +c r0=FFFF",
     "ZW"},
    {"the AMD reset is no command and changes nothing", "28F800B3B", Fault::None, "0=90 0=F0 r0=89 0=FF r0=FFFF", ""},
};

void PrintTo(const Script& s, std::ostream* os) { *os << s.chip << ": " << s.what; }

std::uint64_t Duration(const FlashTiming& t, const std::string& what) {
    if (what == "p") return t.wordProgram;
    if (what == "e") return t.blockErase;
    if (what == "c") return t.chipErase;
    if (what == "w") return t.eraseWindow;
    if (what == "f") return t.failAfter;
    if (what == "k") return t.lockBit;
    if (what == "l") return t.lockClear;
    return std::stoull(what);
}

char Letter(FlashViolation::Kind kind) {
    switch (kind) {
    case FlashViolation::Kind::NotACommand: return 'N';
    case FlashViolation::Kind::ByteWrite: return 'B';
    case FlashViolation::Kind::ZeroToOne: return 'Z';
    case FlashViolation::Kind::WhileBusy: return 'W';
    case FlashViolation::Kind::OffBus: return 'O';
    }
    return '?';
}

void RunStep(Bench& b, const std::string& step) {
    const auto hex = [](const std::string& text) { return static_cast<std::uint32_t>(std::stoul(text, nullptr, 16)); };
    const std::size_t eq = step.find('=');
    switch (step[0]) {
    case '+': b.clock.instructions += Duration(b.timing, step.substr(1)); return;
    case '~': {
        const std::uint32_t at = hex(step.substr(1));
        const std::uint16_t one = b.Read(at);
        EXPECT_NE(one & 0x40, b.Read(at) & 0x40) << "DQ6 should toggle";
        return;
    }
    case 's': {
        const std::uint32_t at = hex(step.substr(1, eq - 1)) << 1, v = hex(step.substr(eq + 1));
        b.chip.Set(at, static_cast<std::uint8_t>(v));
        b.chip.Set(at + 1, static_cast<std::uint8_t>(v >> 8));
        return;
    }
    case 'b': b.chip.WriteByte(hex(step.substr(1, eq - 1)), static_cast<std::uint8_t>(hex(step.substr(eq + 1)))); return;
    case 'r': {
        const std::size_t amp = step.find('&');
        const std::uint32_t at = hex(step.substr(1, std::min(amp, eq) - 1));
        const std::uint32_t mask = amp == std::string::npos ? 0xFFFF : hex(step.substr(amp + 1, eq - amp - 1));
        EXPECT_EQ(b.Read(at) & mask, hex(step.substr(eq + 1))) << "at " << step;
        return;
    }
    default: b.Write(hex(step.substr(0, eq)), static_cast<std::uint16_t>(hex(step.substr(eq + 1))));
    }
}

class CommandCycles : public ::testing::TestWithParam<Script> {};

TEST_P(CommandCycles, FollowTheDatasheet) {
    const Script& s = GetParam();
    SCOPED_TRACE(s.what);
    Bench b(s.chip);
    if (s.fault == Fault::Stuck) b.faults.stuckBit = StuckBit{0x10, 4};  // word 8, bit 4
    b.faults.neverReady = s.fault == Fault::NeverReady;
    b.faults.unknownChip = s.fault == Fault::Unknown;
    std::istringstream steps(s.steps);
    for (std::string step; steps >> step;) RunStep(b, step);
    std::string recorded;
    for (const FlashViolation& v : b.chip.Violations()) recorded += Letter(v.kind);
    EXPECT_EQ(recorded, s.violations);
}

INSTANTIATE_TEST_SUITE_P(Datasheets, CommandCycles, ::testing::ValuesIn(kScripts),
                         [](const auto& info) { return std::to_string(info.index) + "_" + info.param.chip; });

}  // namespace

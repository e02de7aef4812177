// SPDX-License-Identifier: GPL-2.0-or-later
// The receiver's CPU: halted until the start series releases it at the trap words, then
// executing whatever the host installed, in step with TCK, on the memory the DCU reaches.
#include "sim_test.h"
#include "util/crc32.h"

namespace {

using namespace simtest;
using orbvex::sim::CpuRecord;
using Event = orbvex::sim::St20Cpu::Event;

constexpr std::uint32_t kLoad = 0x80000140;

bool InJtiptrWindow(std::optional<std::uint32_t> v) { return v && *v > 0x80000100 && *v < 0x80000300; }

Bytes FaultTrap(const char* name) { return ReadFile(std::string(ORBVEX_BIN_DIR) + "/fault-" + name + ".bin"); }

class Trap : public DcuTest {
protected:
    // What a host does to connect: halt, install an image, point the trap words at it,
    // run the start series and set up the memory interface.
    void Connect(const Bytes& image) {
        cable_.WriteWord(0x3004, 0x80000000);
        for (std::uint32_t a = kRam; a < kLoad; a += 4) cable_.WriteWord(a, kRam);
        InstallImage(image);
        cable_.WriteWord(0x308C, 0x00010000);
        for (std::uint32_t v : {0x20000000u, 0u, 0x40000000u, 0x48000000u, 0x4C000000u, 0xCC000000u, 0x4C000000u,
                                0x44000000u, 0x40000000u, 0x60000000u, 0x40000000u, 0u}) {
            cable_.WriteWord(0x3004, v);
        }
        cable_.WriteWord(0x2030, 0x16D1);
    }
    void InstallImage(Bytes image) {
        ASSERT_FALSE(image.empty()) << "the build writes the fault traps beside the programs";
        image.resize((image.size() + 3) & ~std::size_t{3}, 0);
        cable_.WriteChunks(kLoad, image);
        cable_.WriteWord(0x8000004C, kLoad);
        cable_.WriteWord(0x80000048, kLoad + static_cast<std::uint32_t>(image.size()) + 8);
    }

    std::uint32_t Wptr() { return receiver_.PeekWord(0x80000048); }

    // Writes a command and polls its word until done; returns the reads it took, or -1.
    int RunCommand(std::uint32_t command, int pollLimit) {
        cable_.WriteWord(Wptr(), command);
        for (int reads = 1; reads <= pollLimit; ++reads) {
            const auto word = cable_.ReadWord(Wptr());
            EXPECT_TRUE(word);
            if (word.value_or(0) & 1u) return reads;
        }
        return -1;
    }
};

TEST_F(Trap, HaltedUntilTheSeriesStartsItAtTheTrapWordsAndJtiptrFollowsIt) {
    EXPECT_FALSE(InJtiptrWindow(cable_.ReadWord(0x3080))) << "the firmware runs before the start";
    const std::uint64_t before = receiver_.CpuInstructions();
    InstallImage(FaultTrap("never-done"));
    cable_.WriteWord(0x3004, 0x80000000);
    cable_.ReadWord(0x3080);
    EXPECT_TRUE(receiver_.CpuHalted());
    EXPECT_EQ(receiver_.CpuInstructions(), before) << "nothing runs before the series";

    receiver_.PokeWord(Wptr(), 0x400);  // a command left from an earlier run
    Connect(FaultTrap("never-done"));
    EXPECT_TRUE(receiver_.TrapRunning());
    EXPECT_EQ(receiver_.PeekWord(Wptr()), 0u) << "the program ran from the trap words and cleared it";
    EXPECT_EQ(cable_.ReadWord(0x3080), kLoad + 2) << "its idle loop";

    cable_.WriteWord(0x3004, 0x80000000);
    EXPECT_TRUE(receiver_.CpuHalted());
    const std::uint64_t halted = receiver_.CpuInstructions();
    cable_.ReadWord(0x3080);
    EXPECT_EQ(receiver_.CpuInstructions(), halted);
    Connect(FaultTrap("never-done"));
    EXPECT_TRUE(receiver_.TrapRunning());
}

TEST_F(Trap, NothingStartsWithoutTheSeries) {
    InstallImage(FaultTrap("never-done"));
    // A halt and release, then the boot step alone without the trap enable.
    for (std::uint32_t step : {0x80000000u, 0xCC000000u}) {
        cable_.WriteWord(0x3004, step);
        cable_.WriteWord(0x3004, 0);
        EXPECT_FALSE(receiver_.TrapRunning()) << std::hex << step;
    }
}

TEST_F(Trap, RunsTheSetNumberOfInstructionsPerClock) {
    for (int rate : {20, 3}) {
        receiver_.Config().cpuRate = rate;
        Connect(FaultTrap("never-done"));
        const std::uint64_t instructions = receiver_.CpuInstructions();
        const std::uint64_t clocks = receiver_.Counters().tckCycles;
        cable_.ReadWord(0x3080);
        EXPECT_EQ(receiver_.CpuInstructions() - instructions,
                  static_cast<std::uint64_t>(rate) * (receiver_.Counters().tckCycles - clocks));
    }
}

// The program and the DCU share the mailbox: the command the host writes is what the
// program sees, and the done bit it sets is what the host reads, as late as it was told.
TEST_F(Trap, AnAssembledProgramServesTheMailbox) {
    Connect(FaultTrap("done-late"));
    receiver_.PokeWord(Wptr() + 0x14, 0);
    EXPECT_EQ(RunCommand(0x400, 5), 1);
    receiver_.PokeWord(Wptr() + 0x14, 100000);  // 700000 instructions: several polls
    const int reads = RunCommand(0x100, 1000);
    EXPECT_GT(reads, 2) << reads;
    EXPECT_EQ(receiver_.PeekWord(Wptr()), 0x101u);
    EXPECT_TRUE(receiver_.CpuRecords().empty());
}

TEST_F(Trap, AnUnknownInstructionStopsTheCpuWhereItIs) {
    // ldc 0; stl 0; then operation #17.
    Connect({0x40, 0xD0, 0x21, 0xF7});
    cable_.ReadWord(0x3080);
    EXPECT_TRUE(receiver_.CpuStopped());
    ASSERT_EQ(receiver_.CpuRecords().size(), 1u);
    const CpuRecord& stop = receiver_.CpuRecords()[0];
    EXPECT_EQ(stop.event, Event::UnknownInstruction);
    EXPECT_EQ(stop.iptr, kLoad + 2);
    EXPECT_EQ(cable_.ReadWord(0x3080), kLoad + 2);
}

TEST_F(Trap, AProgramThatLeavesTheIdleWindowShowsThere) {
    Connect(FaultTrap("leaves-window"));
    const auto jtiptr = cable_.ReadWord(0x3080);
    EXPECT_TRUE(jtiptr);
    EXPECT_FALSE(InJtiptrWindow(jtiptr)) << std::hex << jtiptr.value_or(0);
}

// The project's program signs its mailbox, checksums any stretch of the chip with
// zlib's CRC-32 (odd ends included), on a chip nobody identified or one left in
// autoselect too, erases exactly the blocks a range overlaps, on maps of mixed block
// sizes and top-boot maps listed bottom-first, and refuses a range past the chip's end,
// or a chip that gives no map, before touching it.
TEST_F(Trap, TheProjectsProgramSignsChecksumsAndErasesAnyStretch) {
    Connect(ReadFile(ORBVEX_VIRTUAL_TRAP_IMAGE));
    EXPECT_EQ(receiver_.PeekWord(Wptr() + 0x14), 0x7A4B5452u);
    const std::uint32_t info = receiver_.PeekWord(Wptr() + 0x18);
    EXPECT_EQ(info >> 16, ((Wptr() >> 2) ^ (info & 0xFFFF) ^ 0x9E37) & 0xFFFF);
    EXPECT_EQ(info & 0xFFFF, 0x1F01u) << "version 1: identify, checksum, erase sectors, program summed, blank pages";
    EXPECT_LE(ReadFile(ORBVEX_VIRTUAL_TRAP_IMAGE).size(), 2560u) << "every START uploads the whole image";
    const std::string check = "123456789";
    const auto content = [&check](std::uint32_t size) {
        Bytes flash = Pattern(size, 3);
        std::copy(check.begin(), check.end(), flash.begin() + 0x12345);
        return flash;
    };
    const Bytes flash = content(0x100000);
    const struct {
        const char* chip;
        bool noCfi;
        std::uint32_t command, offset, count, answer, crc;
        std::uint32_t erasedFrom, erasedTo;
    } cases[] = {
        {"29LV800B", false, 0x1000, 0x12345, 9, 0x1001, 0xCBF43926},
        {"29LV800B", false, 0x1000, 0x12345, 0, 0x1001, 0},
        {"29LV800B", false, 0x1000, 0x1235, 7, 0x1001, orbvex::Crc32(flash.data() + 0x1235, 7)},
        {"29LV800B", false, 0x1000, 0x1234, 7, 0x1001, orbvex::Crc32(flash.data() + 0x1234, 7)},
        {"29LV800B", true, 0x1000, 0x12345, 9, 0x1001, 0xCBF43926},
        {"29LV800B_autoselect", false, 0x1000, 0x12345, 9, 0x1001, 0xCBF43926},
        {"M29W800DT", false, 0x2000, 0xF9001, 0, 0x2001, 0, 0xF8000, 0xFA000},
        {"M29W160ET", false, 0x2000, 0x1EFFFF, 0xA002, 0x2001, 0, 0x1E0000, 0x1FC000},
        {"29LV800B", false, 0x1000, 0x20000, 0x4000, 0x1001, orbvex::Crc32(flash.data() + 0x20000, 0x4000)},
        {"29LV800B", false, 0x1000, 0xFFFFF, 2, 0x50002, 0},
        {"29LV800B", false, 0x1000, 1, 0x100000, 0x50002, 0},
        {"29LV800B", false, 0x2000, 0x4100, 0x100, 0x2001, 0, 0x4000, 0x6000},
        {"29LV800T", false, 0x2000, 0xF9001, 0, 0x2001, 0, 0xF8000, 0xFA000},
        {"29LV160B", false, 0x2000, 0x4000, 0xC000, 0x2001, 0, 0x4000, 0x10000},
        {"29LV160B", false, 0x2000, 0x3FFF, 0xC002, 0x2001, 0, 0, 0x20000},
        {"29LV160T", false, 0x2000, 0x1EFFFF, 0xA002, 0x2001, 0, 0x1E0000, 0x1FC000},
        {"28F800B3B", false, 0x2000, 0x2000, 0xF000, 0x2001, 0, 0x2000, 0x20000},
        {"28F800B3T", false, 0x2000, 0xEFFFE, 0x4002, 0x2001, 0, 0xE0000, 0xF4000},
        {"28F160B3B", false, 0x2000, 0, 0x200000, 0x2001, 0, 0, 0x200000},
        {"28F160B3T", false, 0x2000, 0x1E8000, 0x10000, 0x2001, 0, 0x1E0000, 0x1F8000},
        {"29LV800B", false, 0x2000, 0xFF000, 0x1001, 0x50002, 0},
        {"28F160B3T", false, 0x2000, 0, 0x200001, 0x50002, 0},
        {"29LV800B", true, 0x2000, 0x4000, 0x2000, 0x10002, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.chip) + " " + std::to_string(c.offset) + "+" + std::to_string(c.count));
        receiver_.Config().flashChip = c.chip;
        receiver_.Faults().flash.unknownChip = c.noCfi;
        const std::uint32_t base = receiver_.FlashBase();
        Bytes expected = content(static_cast<std::uint32_t>(receiver_.Flash().size()));
        receiver_.SetFlash(expected);
        std::fill(expected.begin() + c.erasedFrom, expected.begin() + c.erasedTo, 0xFF);
        cable_.WriteWord(Wptr() + 0x04, base + c.offset);
        cable_.WriteWord(Wptr() + 0x0C, c.count);
        cable_.WriteWord(Wptr() + 0x10, base);
        RunCommand(c.command, c.answer & 1 ? 100000 : 20);
        EXPECT_EQ(receiver_.PeekWord(Wptr()), c.answer);
        if (c.command == 0x1000 && (c.answer & 1)) {
            EXPECT_EQ(receiver_.PeekWord(Wptr() + 0x08), c.crc);
        }
        EXPECT_TRUE(receiver_.Flash() == expected) << "the erase missed a block, or erased one too many";
    }
    EXPECT_TRUE(receiver_.CpuRecords().empty());
}

// A part whose commands our program does not know (the SST39VF160: unlock cycles at
// 0x5555/0x2AAA, CFI command set 0x0701) is refused as not identified by every command
// that would change the flash, and not a byte of it changes.
TEST_F(Trap, TheProjectsProgramRefusesAnSstPartAndWritesNothing) {
    receiver_.Config().flashChip = "SST39VF160";
    Connect(ReadFile(ORBVEX_VIRTUAL_TRAP_IMAGE));
    const std::uint32_t base = receiver_.FlashBase();
    const Bytes flash = Pattern(receiver_.Flash().size(), 9);
    receiver_.SetFlash(flash);
    cable_.WriteChunks(Wptr() + 0x1C, Bytes(64, 0));
    for (std::uint32_t command : {0x100u, 0x1100u, 0x400u, 0x2000u}) {
        SCOPED_TRACE(command);
        cable_.WriteWord(Wptr() + 0x04, base + 0x1000);
        cable_.WriteWord(Wptr() + 0x08, Wptr() + 0x1C);
        cable_.WriteWord(Wptr() + 0x0C, 64);
        cable_.WriteWord(Wptr() + 0x10, base);
        RunCommand(command, 50);
        EXPECT_EQ(receiver_.PeekWord(Wptr()), 0x10002u) << "chip not identified";
        EXPECT_TRUE(receiver_.Flash() == flash);
    }
    EXPECT_TRUE(receiver_.CpuRecords().empty());
}

}  // namespace

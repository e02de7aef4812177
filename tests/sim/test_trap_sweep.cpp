// SPDX-License-Identifier: GPL-2.0-or-later
// The project's trap program swept at the mailbox: the interpreter runs it on the
// receiver's RAM and flash with no JTAG in between, over every chip model the receiver
// offers (a model added later joins by itself). Every command runs over counts of every
// remainder mod 4 at every alignment mod 4, seeded random cases plus the edges, and the
// whole flash is compared with what it must hold after each run.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

#include "sim/cpu_model.h"
#include "sim/nor_flash.h"
#include "sim/st20_cpu.h"
#include "sim/target_memory.h"
#include "sim_test.h"
#include "util/crc32.h"

namespace {

using namespace orbvex::sim;
using simtest::Bytes;

constexpr std::uint32_t kLoad = 0x80000140;
constexpr std::uint32_t kCheck = 0x1000, kProgram = 0x100, kProgramSummed = 0x1100, kErase = 0x400,
                        kIdentify = 0x800, kEraseSectors = 0x2000, kBlankPages = 0x4000;
constexpr std::uint32_t kNotIdentified = 0x10002, kOutside = 0x50002, kNotACommand = 0x60002;

bool Supported(const FlashModel& m) { return m.commandSet == CommandSet::Amd || m.commandSet == CommandSet::Intel; }

// The receiver's memory and CPU without the DCU: the mailbox written and read directly.
class Rig {
public:
    explicit Rig(const FlashModel& model, bool unknown = false, bool neverReady = false) : flash_(model, &clock_) {
        config_.flashChip = model.name;
        faults_.flash.unknownChip = unknown;
        faults_.flash.neverReady = neverReady;
        memory_ = std::make_unique<TargetMemory>(&config_, &faults_, &flash_);
        bus_ = std::make_unique<MemoryBus>(memory_.get());
        cpu_ = std::make_unique<St20Cpu>(bus_.get());
        cpu_->SetClock(&clock_);
        memory_->SetRegister(TargetMemory::kEmiRegister, TargetMemory::kEmiFlashSetting);
        Bytes image = simtest::ReadFile(ORBVEX_VIRTUAL_TRAP_IMAGE);
        image.resize((image.size() + 3) & ~std::size_t{3}, 0);
        for (std::size_t i = 0; i < image.size(); ++i) memory_->PokeByte(kLoad + static_cast<std::uint32_t>(i), image[i]);
        wptr_ = kLoad + static_cast<std::uint32_t>(image.size()) + 8;
        memory_->PokeWord(wptr_, 0x400);  // left by an earlier run: never taken for a new one
        cpu_->Start(kLoad, wptr_);
        Step(200000);  // its CRC tables built, it idles
    }

    std::uint32_t Base() const { return flash_.Base(); }
    std::uint32_t Size() const { return flash_.Size(); }
    NorFlash& Flash() { return flash_; }
    std::uint32_t Word(std::uint32_t offset) const { return memory_->PeekWord(wptr_ + offset); }
    std::uint8_t BufferByte(std::uint32_t i) const { return memory_->PeekByte(wptr_ + 0x1C + i); }
    std::uint64_t Instructions() const { return cpu_->Executed(); }
    const St20Cpu& Cpu() const { return *cpu_; }

    void PutBuffer(const Bytes& data) {
        for (std::size_t i = 0; i < data.size(); ++i) memory_->WriteByte(wptr_ + 0x1C + static_cast<std::uint32_t>(i), data[i]);
    }

    // Gives a command and runs the program until it answers; 0 when it never does.
    std::uint32_t Command(std::uint32_t command, std::uint32_t address, std::uint32_t count,
                          std::uint64_t limit = 50'000'000) {
        memory_->WriteWord(wptr_ + 0x04, address);
        memory_->WriteWord(wptr_ + 0x08, wptr_ + 0x1C);
        memory_->WriteWord(wptr_ + 0x0C, count);
        memory_->WriteWord(wptr_ + 0x10, Base());
        memory_->WriteWord(wptr_, command);
        const std::uint64_t end = cpu_->Executed() + limit;
        while (cpu_->Executed() < end && !cpu_->Stopped()) {
            Step(16);
            const std::uint32_t answer = Word(0);
            if (answer & 3u) return answer;
        }
        return 0;
    }

private:
    // As the receiver runs it: its clock moves on with the instructions, and the chip's with it.
    void Step(std::uint64_t count) {
        clock_.instructions += count;
        cpu_->Run(count);
    }

    ReceiverConfig config_;
    ReceiverFaults faults_;
    SimClock clock_;
    NorFlash flash_;
    std::unique_ptr<TargetMemory> memory_;
    std::unique_ptr<MemoryBus> bus_;
    std::unique_ptr<St20Cpu> cpu_;
    std::uint32_t wptr_ = 0;
};

Bytes Random(std::mt19937& rng, std::size_t size, bool someErased = true) {
    Bytes v(size);
    for (auto& b : v) b = static_cast<std::uint8_t>(rng());
    if (someErased) {
        for (auto& b : v) {
            if (rng() % 8 == 0) b = 0xFF;
        }
    }
    return v;
}

// Whether the flash holds what it must; names the first byte that differs.
::testing::AssertionResult Holds(NorFlash& flash, const Bytes& expected) {
    const Bytes& got = flash.Bytes();
    const auto diff = std::mismatch(got.begin(), got.end(), expected.begin());
    if (diff.first == got.end()) return ::testing::AssertionSuccess();
    std::ostringstream text;
    text << "flash differs at offset 0x" << std::hex << (diff.first - got.begin()) << ": 0x" << int(*diff.first)
         << " instead of 0x" << int(*diff.second);
    return ::testing::AssertionFailure() << text.str();
}

// A chip left in a mode by a run that was cut off: a query entered from autoselect
// (two resets to leave), or the Intel identifier mode.
void LeaveInAMode(NorFlash& flash, const FlashModel& model) {
    if (model.commandSet == CommandSet::Intel) {
        flash.WriteHalf(0, 0x90);
        return;
    }
    flash.WriteHalf(0x555 << 1, 0xAA);
    flash.WriteHalf(0x2AA << 1, 0x55);
    flash.WriteHalf(0x555 << 1, 0x90);
    flash.WriteHalf(0x55 << 1, 0x98);
}

// Counts of every remainder mod 4 at every alignment mod 4: all of 1..12, four seeded
// ones of each remainder up to the buffer's size, and the largest four.
std::vector<std::pair<unsigned, std::uint32_t>> AlignedCounts(std::mt19937& rng, std::uint32_t most) {
    std::vector<std::pair<unsigned, std::uint32_t>> cases;
    for (unsigned align = 0; align < 4; ++align) {
        for (std::uint32_t count = 1; count <= 12; ++count) cases.emplace_back(align, count);
        for (std::uint32_t r = 0; r < 4; ++r) cases.emplace_back(align, 13 + (rng() % (most - 16)) / 4 * 4 + r);
        for (std::uint32_t count = most - 3; count <= most; ++count) cases.emplace_back(align, count);
    }
    return cases;
}

class Sweep : public ::testing::TestWithParam<FlashModel> {};

TEST_P(Sweep, ProgramAndProgramThenChecksumAtEveryAlignment) {
    const FlashModel& model = GetParam();
    if (!Supported(model)) GTEST_SKIP() << "refused: swept by RefusedChipsAnswerAndKeepTheirBytes";
    std::mt19937 rng(29);
    Rig rig(model);
    Bytes expected = Random(rng, model.size);
    ASSERT_TRUE(rig.Flash().Assign(expected));
    int run = 0;
    for (const auto& [align, count] : AlignedCounts(rng, 4096)) {
        SCOPED_TRACE(model.name + " alignment " + std::to_string(align) + " count " + std::to_string(count));
        const std::uint32_t offset = (rng() % (model.size - 8192)) / 4 * 4 + align;
        const Bytes data = Random(rng, count);
        // The range erased, its word neighbours kept: an odd end must keep the chip's half.
        for (std::uint32_t i = 0; i < count; ++i) {
            rig.Flash().Set(offset + i, 0xFF);
            expected[offset + i] = data[i];
        }
        if (++run % 5 == 0) LeaveInAMode(rig.Flash(), model);
        rig.PutBuffer(data);
        const std::uint32_t command = run % 2 ? kProgramSummed : kProgram;
        ASSERT_EQ(rig.Command(command, rig.Base() + offset, count), command | 1);
        if (command == kProgramSummed) {
            EXPECT_EQ(rig.Word(0x08), orbvex::Crc32(data.data(), data.size()));
        }
        ASSERT_TRUE(Holds(rig.Flash(), expected));
    }
    // A count past the buffer or none, a range past the chip's end: refused, nothing written.
    EXPECT_EQ(rig.Command(kProgram, rig.Base(), 0), kNotACommand);
    EXPECT_EQ(rig.Command(kProgram, rig.Base(), 4097), kNotACommand);
    EXPECT_EQ(rig.Command(kProgram, rig.Base() + model.size - 1, 2), kOutside);
    EXPECT_TRUE(Holds(rig.Flash(), expected));
    EXPECT_TRUE(rig.Flash().Violations().empty()) << Describe(rig.Flash().Violations().front());
    EXPECT_TRUE(rig.Cpu().Records().empty());
}

TEST_P(Sweep, ChecksumAndBlankPagesNeedNoIdentity) {
    const FlashModel& model = GetParam();
    std::mt19937 rng(30);
    for (const bool unknown : {false, true}) {
        Rig rig(model, unknown);
        Bytes expected = Random(rng, model.size);
        // Pages of 0xFF here and there, some with one byte that is not.
        for (std::uint32_t page = 0; page + 4096 <= model.size; page += 4096) {
            if (rng() % 3 == 0) continue;
            std::fill_n(expected.begin() + page, 4096, 0xFF);
            if (rng() % 2) expected[page + rng() % 4096] = static_cast<std::uint8_t>(rng() % 255);
        }
        ASSERT_TRUE(rig.Flash().Assign(expected));
        int run = 0;
        for (const auto& [align, count] : AlignedCounts(rng, 4096 * 3)) {
            const std::uint32_t offset = (rng() % (model.size - 16384)) / 4 * 4 + align;
            SCOPED_TRACE(model.name + (unknown ? " unknown" : "") + " offset " + std::to_string(offset) + " count " +
                         std::to_string(count));
            if (++run % 5 == 0 && !unknown) LeaveInAMode(rig.Flash(), model);
            ASSERT_EQ(rig.Command(kCheck, rig.Base() + offset, count), kCheck | 1);
            EXPECT_EQ(rig.Word(0x08), orbvex::Crc32(expected.data() + offset, count));
            // Blank pages over a range of 1 to 5 pages, its start moved off the page grid.
            const std::uint32_t blankCount = 1 + rng() % (5 * 4096);
            const std::uint32_t from = (rng() % (model.size - blankCount)) / 4096 * 4096 + (run % 3) * (rng() % 4096);
            const std::uint32_t at = std::min(from, model.size - blankCount);
            ASSERT_EQ(rig.Command(kBlankPages, rig.Base() + at, blankCount), kBlankPages | 1);
            for (std::uint32_t page = 0; page * 4096 < blankCount; ++page) {
                const auto first = expected.begin() + at + page * 4096;
                const auto last = expected.begin() + at + std::min(blankCount, (page + 1) * 4096);
                const bool blank = std::all_of(first, last, [](std::uint8_t b) { return b == 0xFF; });
                EXPECT_EQ((rig.BufferByte(page / 8) >> (page % 8)) & 1, blank ? 1 : 0) << "page " << page;
            }
        }
        EXPECT_TRUE(Holds(rig.Flash(), expected));
        if (unknown) continue;
        // The whole chip at once, and the edges of the window.
        ASSERT_EQ(rig.Command(kCheck, rig.Base(), model.size), kCheck | 1);
        EXPECT_EQ(rig.Word(0x08), orbvex::Crc32(expected.data(), expected.size()));
        ASSERT_EQ(rig.Command(kBlankPages, rig.Base(), model.size), kBlankPages | 1);
        for (std::uint32_t page = 0; page < model.size / 4096; ++page) {
            const bool blank = std::all_of(expected.begin() + page * 4096, expected.begin() + (page + 1) * 4096,
                                           [](std::uint8_t b) { return b == 0xFF; });
            ASSERT_EQ((rig.BufferByte(page / 8) >> (page % 8)) & 1, blank ? 1 : 0) << "page " << page;
        }
        EXPECT_EQ(rig.Command(kCheck, rig.Base() + model.size - 1, 2), kOutside);
        EXPECT_EQ(rig.Command(kBlankPages, rig.Base() + model.size - 1, 2), kOutside);
        EXPECT_EQ(rig.Command(kBlankPages, rig.Base(), 0), kNotACommand);
        EXPECT_TRUE(Holds(rig.Flash(), expected));
        EXPECT_TRUE(rig.Cpu().Records().empty());
    }
}

// Every block a range overlaps, and no other: seeded ranges, ranges across each region
// boundary and at both ends of the chip, a count of 0 naming one block.
TEST_P(Sweep, EraseSectorsErasesExactlyTheBlocksARangeOverlaps) {
    const FlashModel& model = GetParam();
    if (!Supported(model)) GTEST_SKIP() << "refused: swept by RefusedChipsAnswerAndKeepTheirBytes";
    std::mt19937 rng(31);
    Rig rig(model);
    const Bytes content = Random(rng, model.size, false);
    ASSERT_TRUE(rig.Flash().Assign(content));
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
    std::uint32_t boundary = 0;
    for (const EraseRegion& region : model.regions) {
        if (boundary != 0) {
            ranges.insert(ranges.end(), {{boundary - 1, 2}, {boundary - 1, 0}, {boundary, 0}, {boundary - 1, 1}});
        }
        boundary += region.blocks * region.blockSize;
    }
    ranges.insert(ranges.end(), {{0, 1}, {0, 0}, {model.size - 1, 1}, {model.size - 1, 0}, {model.size - 2, 2}});
    for (int i = 0; i < 6; ++i) {
        const std::uint32_t count = 1 + rng() % std::min(256u * 1024, model.size / 2);
        ranges.emplace_back(rng() % (model.size - count), count);
    }
    int run = 0;
    for (const auto& [offset, count] : ranges) {
        SCOPED_TRACE(model.name + " offset " + std::to_string(offset) + " count " + std::to_string(count));
        Bytes expected = content;
        const std::uint32_t end = offset + std::max(count, 1u);
        for (const FlashBlock& block : model.Blocks()) {
            if (block.offset < end && block.offset + block.size > offset) {
                std::fill_n(expected.begin() + block.offset, block.size, 0xFF);
            }
        }
        if (++run % 3 == 0) LeaveInAMode(rig.Flash(), model);
        ASSERT_EQ(rig.Command(kEraseSectors, rig.Base() + offset, count), kEraseSectors | 1);
        ASSERT_TRUE(Holds(rig.Flash(), expected));
        ASSERT_TRUE(rig.Flash().Assign(content));
    }
    EXPECT_EQ(rig.Command(kEraseSectors, rig.Base() + model.size - 1, 2), kOutside);
    EXPECT_TRUE(Holds(rig.Flash(), content));
    // The whole chip at once.
    LeaveInAMode(rig.Flash(), model);
    ASSERT_EQ(rig.Command(kErase, rig.Base(), 0), kErase | 1);
    EXPECT_TRUE(Holds(rig.Flash(), Bytes(model.size, 0xFF)));
    EXPECT_TRUE(rig.Flash().Violations().empty()) << Describe(rig.Flash().Violations().front());
    EXPECT_TRUE(rig.Cpu().Records().empty());
}

TEST_P(Sweep, IdentifyNamesTheChipAndItsQuery) {
    const FlashModel& model = GetParam();
    if (!Supported(model)) GTEST_SKIP() << "refused: swept by RefusedChipsAnswerAndKeepTheirBytes";
    Rig rig(model);
    std::mt19937 rng(32);
    const Bytes content = Random(rng, model.size);
    ASSERT_TRUE(rig.Flash().Assign(content));
    for (int leftInAMode = 0; leftInAMode < 2; ++leftInAMode) {
        if (leftInAMode) LeaveInAMode(rig.Flash(), model);
        ASSERT_EQ(rig.Command(kIdentify, rig.Base(), 0), kIdentify | 1);
        EXPECT_EQ(rig.Word(0x1C), model.commandSet == CommandSet::Amd ? 1u : 2u);
        EXPECT_EQ(rig.Word(0x20), model.size);
        EXPECT_EQ(rig.Word(0x24), model.manufacturer);
        EXPECT_EQ(rig.Word(0x28), model.device);
        const Bytes cfi = CfiTable(model);
        for (std::uint32_t i = 0x10; i < 0x50; ++i) EXPECT_EQ(rig.BufferByte(i), cfi[i]) << "query byte " << i;
    }
    EXPECT_TRUE(Holds(rig.Flash(), content));
}

// A chip nobody can identify (IDs nobody knows and no query, or a command set the program
// does not drive): every command that writes or names it refuses, and nothing is written.
TEST_P(Sweep, RefusedChipsAnswerAndKeepTheirBytes) {
    const FlashModel& model = GetParam();
    std::mt19937 rng(33);
    for (const bool unknown : {true, false}) {
        if (!unknown && Supported(model)) continue;
        SCOPED_TRACE(model.name + (unknown ? " unknown" : ""));
        Rig rig(model, unknown);
        const Bytes content = Random(rng, model.size);
        ASSERT_TRUE(rig.Flash().Assign(content));
        rig.PutBuffer(Bytes(16, 0));
        for (const std::uint32_t command : {kProgram, kProgramSummed, kErase, kIdentify, kEraseSectors}) {
            EXPECT_EQ(rig.Command(command, rig.Base() + 0x1000, 16), kNotIdentified) << std::hex << command;
        }
        EXPECT_TRUE(Holds(rig.Flash(), content));
        EXPECT_TRUE(rig.Cpu().Records().empty());
    }
}

// A chip that never gets ready: the program's own limits, from the chip's CFI times,
// end the wait with a time-out, long before the host's (twice those times and a second
// more), and no sooner than the chip's longest time.
TEST(TrapTimeLimits, AChipThatNeverGetsReadyAnswersTimeOut) {
    constexpr std::uint64_t kInstructionsPerMs = 1000;  // one instruction a microsecond
    constexpr std::uint64_t kHostsSecond = 1000 * kInstructionsPerMs;
    for (const char* name : {"29LV800B", "28F800B3T"}) {
        SCOPED_TRACE(name);
        const FlashModel& model = *FindFlashModel(name);
        const Bytes cfi = CfiTable(model);
        const std::uint64_t longestWord = std::uint64_t{1} << (cfi[0x1F] + cfi[0x23]);  // us
        const std::uint64_t longestBlock = (std::uint64_t{1} << (cfi[0x21] + cfi[0x25])) * kInstructionsPerMs;
        Rig rig(model, false, true);
        rig.PutBuffer({0x12, 0x34, 0x56});
        std::uint64_t before = rig.Instructions();
        EXPECT_EQ(rig.Command(kProgram, rig.Base() + 0x101, 3), 0x40002u) << "the first word, at offset 0";
        std::uint64_t took = rig.Instructions() - before;
        EXPECT_GE(took, longestWord);
        EXPECT_LT(took, 2 * longestWord + kHostsSecond);
        Rig fresh(model, false, true);  // the first chip stays busy with its program
        before = fresh.Instructions();
        EXPECT_EQ(fresh.Command(kEraseSectors, fresh.Base() + 0x20000, 0), 0x40002u);
        took = fresh.Instructions() - before;
        EXPECT_GE(took, longestBlock);
        EXPECT_LT(took, 2 * longestBlock + kHostsSecond);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryChip, Sweep, ::testing::ValuesIn(FlashModels()),
                         [](const auto& info) { return info.param.name; });

}  // namespace

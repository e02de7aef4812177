// SPDX-License-Identifier: GPL-2.0-or-later
// The memory map behind the DCU: the flash window and its memory interface, NOR
// semantics, flash image files and flash geometry.
#include <cstdio>

#include "sim/nor_flash.h"
#include "sim/target_memory.h"
#include "sim_test.h"

namespace {

using namespace simtest;
using orbvex::sim::NorFlash;
using orbvex::sim::TargetMemory;

TEST(NorFlashChip, ProgrammingOnlyClearsBitsAndEraseSetsAll) {
    NorFlash flash(0x100000);
    const std::uint8_t first[] = {0xF0, 0x0F, 0xAA};
    const std::uint8_t second[] = {0x3C, 0xFF, 0x55};
    flash.Program(0x10, first, 3);
    flash.Program(0x10, second, 3);
    EXPECT_EQ(Bytes(flash.Bytes().begin() + 0x10, flash.Bytes().begin() + 0x14), (Bytes{0x30, 0x0F, 0x00, 0xFF}));
    flash.EraseChip();
    EXPECT_EQ(flash.At(0x10), 0xFF);
}

TEST(NorFlashChip, WindowBoundsForBothSizes) {
    NorFlash small(0x100000);
    EXPECT_TRUE(small.Contains(0x7FF00000, 0x100000));
    EXPECT_FALSE(small.Contains(0x7FEFFFFF, 1));
    EXPECT_FALSE(small.Contains(0x7FFFFFFF, 2));
    NorFlash large(0x200000);
    EXPECT_TRUE(large.Contains(0x7FE00000, 4096));
    EXPECT_FALSE(large.Contains(0x7FDFFFFF, 1));
    EXPECT_FALSE(large.Contains(0xFFFFFFFF, 2)) << "no wrap-around past the top of the address space";
}

// The bus as the CPU drives it: 16-bit cycles into the flash window, and the chip's
// answers seen by every reader of the bus.
class FlashBus : public ::testing::Test {
protected:
    using Kind = orbvex::sim::FlashViolation::Kind;
    std::string Kinds() const {
        std::string kinds;
        for (const auto& v : flash_.Violations()) kinds += static_cast<char>('0' + static_cast<int>(v.kind));
        return kinds;
    }
    void EnableEmi() { memory_.SetRegister(TargetMemory::kEmiRegister, TargetMemory::kEmiFlashSetting); }

    orbvex::sim::ReceiverConfig config_;
    orbvex::sim::ReceiverFaults faults_;
    NorFlash flash_{0x100000};
    TargetMemory memory_{&config_, &faults_, &flash_};
};

TEST_F(FlashBus, OffTheBusUntilTheMemoryInterfaceIsSetAndRecorded) {
    memory_.WriteHalf(0x7FF00AAA, 0xAA);
    memory_.ReadHalf(0x7FF00000);
    EXPECT_EQ(flash_.Violations().size(), 2u);
    EXPECT_EQ(flash_.Violations()[0].kind, Kind::OffBus);
    EXPECT_EQ(flash_.Violations()[0].offset, 0xAAAu);
    EnableEmi();
    memory_.WriteHalf(0x7FF00AAA, 0xAA);
    memory_.WriteHalf(0x7FF00554, 0x55);
    memory_.WriteHalf(0x7FF00AAA, 0x90);
    EXPECT_EQ(memory_.ReadWord(0x7FF00000), 0x225B0001u) << "a word is two half cycles, low half first";
    EXPECT_EQ(memory_.ReadByte(0x7FF00002), 0x5B) << "any reader sees what the chip drives";
    memory_.WriteWord(0x7FF00000, 0x00F0);
    EXPECT_EQ(memory_.ReadWord(0x7FF00000), 0xFFFFFFFFu);
    EXPECT_EQ(flash_.Violations().size(), 3u) << "the upper half of the word write is no command";
}

TEST_F(FlashBus, ByteWritesIntoTheFlashAreRefusedAndHalvesProgramWords) {
    EnableEmi();
    memory_.WriteByte(0x7FF00010, 0x00);
    const std::uint16_t program[][2] = {{0xAAA, 0xAA}, {0x554, 0x55}, {0xAAA, 0xA0}, {0x11, 0x1234}};
    for (const auto& cycle : program) memory_.WriteHalf(0x7FF00000 + cycle[0], cycle[1]);
    EXPECT_EQ(flash_.At(0x10), 0x34) << "a half access ignores the low address bit";
    EXPECT_EQ(flash_.At(0x11), 0x12);
    EXPECT_EQ(Kinds(), "1");
}

TEST_F(FlashBus, RamAndRegistersTakeEveryWidthLittleEndian) {
    memory_.WriteWord(0x80000100, 0x11223344);
    memory_.WriteHalf(0x80000104, 0xBEEF);
    EXPECT_EQ(memory_.ReadHalf(0x80000102), 0x1122);
    EXPECT_EQ(memory_.ReadByte(0x80000105), 0xBE);
    EXPECT_EQ(memory_.ReadWord(0x80000104), 0x0000BEEFu);
    memory_.WriteWord(TargetMemory::kEmiRegister, TargetMemory::kEmiFlashSetting);
    EXPECT_TRUE(memory_.FlashEnabled());
    EXPECT_TRUE(flash_.Violations().empty());
}

TEST_F(FlashBus, ANamedPartBringsItsSize) {
    config_.flashChip = "28F160B3T";
    memory_.ApplyGeometry();
    EXPECT_EQ(flash_.Base(), 0x7FE00000u);
    EXPECT_EQ(flash_.Model().commandSet, orbvex::sim::CommandSet::Intel);
    config_.flashChip.clear();
    memory_.ApplyGeometry();
    EXPECT_EQ(flash_.Model().name, "29LV800B");
}

using FlashWindow = DcuTest;

TEST_F(FlashWindow, ReadsNoiseUntilTheMemoryInterfaceIsSet) {
    const Bytes contents = Pattern(0x100000, 5);
    receiver_.SetFlash(contents);
    Bytes block, again;
    ASSERT_EQ(cable_.ReadBlock(0x7FF00000, &block), 256);
    EXPECT_FALSE(std::equal(block.begin(), block.end(), contents.begin())) << "never flash data before the EMI";
    cable_.ReadBlock(0x7FF00000, &again);
    EXPECT_NE(block, again) << "noise, not a fixed image";

    EXPECT_TRUE(cable_.WriteWord(0x2030, 0x16D0));
    cable_.ReadBlock(0x7FF00000, &block);
    EXPECT_FALSE(std::equal(block.begin(), block.end(), contents.begin())) << "only 0x16D1 opens the window";

    EXPECT_TRUE(cable_.WriteWord(0x2030, 0x16D1));
    ASSERT_EQ(cable_.ReadBlock(0x7FFFFF00, &block), 256);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), contents.end() - 256));
}

TEST_F(FlashWindow, PlainWritesDoNotChangeTheFlash) {
    cable_.WriteWord(0x2030, 0x16D1);
    EXPECT_TRUE(cable_.WriteWord(0x7FF00000, 0));
    EXPECT_EQ(receiver_.PeekWord(0x7FF00000), 0xFFFFFFFFu);
    ASSERT_EQ(receiver_.FlashViolations().size(), 4u) << "the DCU writes bytes, which the 16-bit chip refuses";
    EXPECT_EQ(receiver_.FlashViolations()[3].kind, orbvex::sim::FlashViolation::Kind::ByteWrite);
    EXPECT_EQ(receiver_.FlashViolations()[3].offset, 3u);
}

TEST_F(FlashWindow, TwoMegabyteFlashSitsLower) {
    receiver_.Config().flashSize = 0x200000;
    EXPECT_EQ(receiver_.FlashBase(), 0x7FE00000u);
    EXPECT_EQ(receiver_.Flash().size(), 0x200000u);
    receiver_.PokeWord(0x7FE00000, 0x01020304);
    cable_.WriteWord(0x2030, 0x16D1);
    EXPECT_EQ(cable_.ReadWord(0x7FE00000), 0x01020304u);

    receiver_.Config().flashSize = 0x100000;
    EXPECT_EQ(receiver_.FlashBase(), 0x7FF00000u) << "a changed size takes effect";
}

TEST(FlashImageFile, SaveAndLoadRoundTrip) {
    VirtualReceiver r, other;
    const Bytes contents = Pattern(0x100000, 9);
    r.SetFlash(contents);
    const std::string path = TempPath("sim_flash_roundtrip.bin");
    ASSERT_TRUE(r.SaveFlashImage(path));
    EXPECT_EQ(ReadFile(path), contents);
    ASSERT_TRUE(other.LoadFlashImage(path));
    EXPECT_EQ(other.Flash(), contents);
    std::remove(path.c_str());
}

TEST(FlashImageFile, ShortImageLeavesTheRestErasedAndBadFilesChangeNothing) {
    VirtualReceiver r;
    const std::string shortPath = TempPath("sim_flash_short.bin"), bigPath = TempPath("sim_flash_big.bin");
    WriteFile(shortPath, {'A', 'B', 'C', 'D'});
    ASSERT_TRUE(r.LoadFlashImage(shortPath));
    EXPECT_EQ(r.PeekWord(0x7FF00000), 0x44434241u);
    EXPECT_EQ(r.PeekWord(0x7FF00004), 0xFFFFFFFFu);

    EXPECT_FALSE(r.LoadFlashImage(TempPath("sim_no_such_image.bin")));
    WriteFile(bigPath, Bytes(0x100001, 0));
    EXPECT_FALSE(r.LoadFlashImage(bigPath));
    EXPECT_EQ(r.PeekWord(0x7FF00000), 0x44434241u);
    std::remove(shortPath.c_str());
    std::remove(bigPath.c_str());
}

}  // namespace

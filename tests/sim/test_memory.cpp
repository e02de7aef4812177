// The memory map behind the DCU: the flash window and its memory interface, NOR
// semantics, flash image files and flash geometry.
#include <cstdio>

#include "sim/nor_flash.h"
#include "sim_test.h"

namespace {

using namespace simtest;
using orbvex::sim::NorFlash;

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

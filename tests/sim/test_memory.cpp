// The memory map behind the DCU: the flash window and its memory interface, NOR
// semantics, flash image files, RAM and flash geometry.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/nor_flash.h"
#include "test_cable.h"

namespace {

using orbvex::sim::NorFlash;
using orbvex::sim::ReceiverConfig;
using orbvex::sim::VirtualReceiver;
using simtest::TestCable;

std::vector<std::uint8_t> Pattern(std::size_t size, unsigned seed) {
    std::vector<std::uint8_t> v(size);
    for (std::size_t i = 0; i < size; ++i) v[i] = static_cast<std::uint8_t>((i * 131 + seed) ^ (i >> 8));
    return v;
}

std::string TempPath(const char* name) { return ::testing::TempDir() + name; }

TEST(NorFlashChip, ProgrammingOnlyClearsBitsAndEraseSetsAll) {
    NorFlash flash(0x100000);
    EXPECT_EQ(flash.Base(), 0x7FF00000u);
    const std::uint8_t first[] = {0xF0, 0x0F, 0xAA};
    const std::uint8_t second[] = {0x3C, 0xFF, 0x55};
    flash.Program(0x10, first, 3);
    flash.Program(0x10, second, 3);
    EXPECT_EQ(flash.At(0x10), 0x30);
    EXPECT_EQ(flash.At(0x11), 0x0F);
    EXPECT_EQ(flash.At(0x12), 0x00);
    EXPECT_EQ(flash.At(0x13), 0xFF);
    flash.EraseChip();
    EXPECT_EQ(flash.At(0x10), 0xFF);
}

TEST(NorFlashChip, WindowBoundsForBothSizes) {
    NorFlash small(0x100000);
    EXPECT_TRUE(small.Contains(0x7FF00000, 0x100000));
    EXPECT_FALSE(small.Contains(0x7FEFFFFF, 1));
    EXPECT_FALSE(small.Contains(0x7FFFFFFF, 2));
    NorFlash large(0x200000);
    EXPECT_EQ(large.Base(), 0x7FE00000u);
    EXPECT_TRUE(large.Contains(0x7FE00000, 4096));
    EXPECT_FALSE(large.Contains(0xFFFFFFFF, 2)) << "no wrap-around past the top of the address space";
}

TEST(FlashWindow, ReadsNoiseUntilTheMemoryInterfaceIsSet) {
    VirtualReceiver r;
    TestCable cable(r);
    cable.SelectDcu();
    const std::vector<std::uint8_t> contents = Pattern(0x100000, 5);
    r.SetFlash(contents);

    std::vector<std::uint8_t> block;
    ASSERT_EQ(cable.ReadBlock(0x7FF00000, &block), 256);
    EXPECT_FALSE(std::equal(block.begin(), block.end(), contents.begin())) << "never flash data before the EMI";
    std::vector<std::uint8_t> again;
    cable.ReadBlock(0x7FF00000, &again);
    EXPECT_NE(block, again) << "noise, not a fixed image";

    EXPECT_TRUE(cable.WriteWord(0x2030, 0x16D0));
    cable.ReadBlock(0x7FF00000, &block);
    EXPECT_FALSE(std::equal(block.begin(), block.end(), contents.begin())) << "only 0x16D1 opens the window";

    EXPECT_TRUE(cable.WriteWord(0x2030, 0x16D1));
    ASSERT_EQ(cable.ReadBlock(0x7FFFFF00, &block), 256);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), contents.end() - 256));
}

TEST(FlashWindow, PlainWritesDoNotChangeTheFlash) {
    VirtualReceiver r;
    TestCable cable(r);
    cable.SelectDcu();
    cable.WriteWord(0x2030, 0x16D1);
    EXPECT_TRUE(cable.WriteWord(0x7FF00000, 0));
    EXPECT_EQ(r.PeekWord(0x7FF00000), 0xFFFFFFFFu);
}

TEST(FlashWindow, TwoMegabyteFlashSitsLower) {
    ReceiverConfig config;
    config.flashSize = 0x200000;
    VirtualReceiver r(config);
    EXPECT_EQ(r.FlashBase(), 0x7FE00000u);
    EXPECT_EQ(r.Flash().size(), 0x200000u);
    r.PokeWord(0x7FE00000, 0x01020304);
    TestCable cable(r);
    cable.SelectDcu();
    cable.WriteWord(0x2030, 0x16D1);
    std::uint32_t word = 0;
    EXPECT_TRUE(cable.ReadWord(0x7FE00000, &word));
    EXPECT_EQ(word, 0x01020304u);

    r.Config().flashSize = 0x100000;
    EXPECT_EQ(r.FlashBase(), 0x7FF00000u) << "a changed size takes effect";
}

TEST(FlashImageFile, SaveAndLoadRoundTrip) {
    VirtualReceiver r;
    const std::vector<std::uint8_t> contents = Pattern(0x100000, 9);
    r.SetFlash(contents);
    const std::string path = TempPath("sim_flash_roundtrip.bin");
    ASSERT_TRUE(r.SaveFlashImage(path));

    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(file, contents);

    VirtualReceiver other;
    ASSERT_TRUE(other.LoadFlashImage(path));
    EXPECT_EQ(other.Flash(), contents);
    std::remove(path.c_str());
}

TEST(FlashImageFile, ShortImageLeavesTheRestErasedAndBadFilesChangeNothing) {
    VirtualReceiver r;
    const std::string shortPath = TempPath("sim_flash_short.bin");
    {
        std::ofstream out(shortPath, std::ios::binary);
        out << "ABCD";
    }
    ASSERT_TRUE(r.LoadFlashImage(shortPath));
    EXPECT_EQ(r.PeekWord(0x7FF00000), 0x44434241u);
    EXPECT_EQ(r.PeekWord(0x7FF00004), 0xFFFFFFFFu);

    EXPECT_FALSE(r.LoadFlashImage(TempPath("sim_no_such_image.bin")));
    const std::string bigPath = TempPath("sim_flash_big.bin");
    {
        std::ofstream out(bigPath, std::ios::binary);
        const std::vector<char> big(0x100001, 0);
        out.write(big.data(), static_cast<std::streamsize>(big.size()));
    }
    EXPECT_FALSE(r.LoadFlashImage(bigPath));
    EXPECT_EQ(r.PeekWord(0x7FF00000), 0x44434241u);
    std::remove(shortPath.c_str());
    std::remove(bigPath.c_str());
}

TEST(Ram, AtLeastFourMegabytesFromTheBottom) {
    VirtualReceiver r;
    TestCable cable(r);
    cable.SelectDcu();
    EXPECT_TRUE(cable.WriteWord(0x803FFFFC, 0x600DF00D));
    EXPECT_EQ(r.PeekWord(0x803FFFFC), 0x600DF00Du);
    std::uint32_t word = 0;
    EXPECT_TRUE(cable.ReadWord(0x803FFFFC, &word));
    EXPECT_EQ(word, 0x600DF00Du);
}

}  // namespace

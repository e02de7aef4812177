// The virtual trap program: started by the start series only for the virtual image,
// serving the flash mailbox with busy polls; anything else runs wild.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "test_cable.h"

namespace {

using orbvex::sim::kVirtualTrapImageName;
using orbvex::sim::ReceiverConfig;
using orbvex::sim::VirtualReceiver;
using orbvex::sim::VirtualTrapImage;
using simtest::TestCable;

constexpr std::uint32_t kLoad = 0x80000140;
constexpr std::uint32_t kFlash1M = 0x7FF00000;

// What a host does to connect: halt, install an image, point the trap words at it,
// run the start series and set up the memory interface.
void Connect(TestCable& cable, std::vector<std::uint8_t> image, bool withEmi = true) {
    cable.SelectDcu();
    cable.WriteWord(0x3004, 0x80000000);
    for (std::uint32_t a = 0x80000000; a < kLoad; a += 4) cable.WriteWord(a, 0x80000000);
    image.resize((image.size() + 3) & ~std::size_t{3}, 0);
    for (std::size_t off = 0; off < image.size(); off += 252) {
        const std::size_t n = std::min<std::size_t>(252, image.size() - off);
        cable.WriteBlock(kLoad + static_cast<std::uint32_t>(off),
                         std::vector<std::uint8_t>(image.begin() + static_cast<std::ptrdiff_t>(off),
                                                   image.begin() + static_cast<std::ptrdiff_t>(off + n)));
    }
    cable.WriteWord(0x8000004C, kLoad);
    cable.WriteWord(0x80000048, kLoad + static_cast<std::uint32_t>(image.size()) + 8);
    cable.WriteWord(0x308C, 0x00010000);
    for (std::uint32_t v : {0x20000000u, 0u, 0x40000000u, 0x48000000u, 0x4C000000u, 0xCC000000u, 0x4C000000u,
                            0x44000000u, 0x40000000u, 0x60000000u, 0x40000000u, 0u}) {
        cable.WriteWord(0x3004, v);
    }
    if (withEmi) cable.WriteWord(0x2030, 0x16D1);
}

bool InJtiptrWindow(std::uint32_t v) { return v > 0x80000100 && v < 0x80000300; }

class Trap : public ::testing::Test {
protected:
    Trap() : cable_(receiver_) {}

    std::uint32_t Wptr() { return receiver_.PeekWord(0x80000048); }

    // Writes a command and polls its word until done; returns the reads it took, or -1.
    int RunCommand(std::uint32_t command, int pollLimit = 50) {
        cable_.WriteWord(Wptr(), command);
        for (int reads = 1; reads <= pollLimit; ++reads) {
            std::uint32_t word = 0;
            EXPECT_TRUE(cable_.ReadWord(Wptr(), &word));
            lastStatus_ = word;
            if (word & 1u) return reads;
        }
        return -1;
    }

    int Program(std::uint32_t flashAddress, const std::vector<std::uint8_t>& data) {
        const std::uint32_t w = Wptr();
        for (std::size_t off = 0; off < data.size(); off += 252) {
            const std::size_t n = std::min<std::size_t>(252, data.size() - off);
            cable_.WriteBlock(w + 0x1C + static_cast<std::uint32_t>(off),
                              std::vector<std::uint8_t>(data.begin() + static_cast<std::ptrdiff_t>(off),
                                                        data.begin() + static_cast<std::ptrdiff_t>(off + n)));
        }
        cable_.WriteWord(w + 0x04, flashAddress);
        cable_.WriteWord(w + 0x08, w + 0x1C);
        cable_.WriteWord(w + 0x0C, static_cast<std::uint32_t>(data.size()));
        cable_.WriteWord(w + 0x10, kFlash1M);
        return RunCommand(0x100);
    }

    int Erase(std::uint32_t base = kFlash1M) {
        cable_.WriteWord(Wptr() + 0x10, base);
        return RunCommand(0x400);
    }

    VirtualReceiver receiver_;
    TestCable cable_;
    std::uint32_t lastStatus_ = 0;
};

TEST(TrapImage, OpensWithPlainTextAndIsWrittenByTheBuild) {
    const std::vector<std::uint8_t> image = VirtualTrapImage();
    EXPECT_EQ(image.size(), 512u);
    const std::string head(image.begin(), image.begin() + 34);
    EXPECT_EQ(head, "ORBVEX VIRTUAL RECEIVER TRAP IMAGE");

    std::ifstream in(std::string(ORBVEX_BIN_DIR) + "/" + kVirtualTrapImageName, std::ios::binary);
    ASSERT_TRUE(in) << "the build writes the image beside the programs";
    const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(file, image);
}

TEST_F(Trap, StartsAfterTheSeriesForTheVirtualImage) {
    std::uint32_t jtiptr = 0;
    cable_.SelectDcu();
    cable_.ReadWord(0x3080, &jtiptr);
    EXPECT_FALSE(InJtiptrWindow(jtiptr)) << "the firmware runs before the start";

    Connect(cable_, VirtualTrapImage());
    EXPECT_TRUE(receiver_.TrapRunning());
    EXPECT_FALSE(receiver_.CpuHalted());
    EXPECT_TRUE(cable_.ReadWord(0x3080, &jtiptr));
    EXPECT_TRUE(InJtiptrWindow(jtiptr)) << std::hex << jtiptr;
}

TEST_F(Trap, AnyOtherImageRunsWild) {
    std::vector<std::uint8_t> image = VirtualTrapImage();
    image[300] ^= 1;
    Connect(cable_, image);
    EXPECT_FALSE(receiver_.TrapRunning());
    std::uint32_t jtiptr = 0;
    EXPECT_TRUE(cable_.ReadWord(0x3080, &jtiptr));
    EXPECT_FALSE(InJtiptrWindow(jtiptr));
    EXPECT_EQ(Erase(), -1) << "nobody answers the mailbox";
    EXPECT_EQ(lastStatus_, 0x400u);
}

TEST_F(Trap, NothingStartsWithoutTheSeries) {
    cable_.SelectDcu();
    const std::vector<std::uint8_t> image = VirtualTrapImage();
    for (std::size_t off = 0; off < image.size(); off += 252) {
        const std::size_t n = std::min<std::size_t>(252, image.size() - off);
        cable_.WriteBlock(kLoad + static_cast<std::uint32_t>(off),
                          std::vector<std::uint8_t>(image.begin() + static_cast<std::ptrdiff_t>(off),
                                                    image.begin() + static_cast<std::ptrdiff_t>(off + n)));
    }
    cable_.WriteWord(0x8000004C, kLoad);
    cable_.WriteWord(0x80000048, kLoad + 512 + 8);
    cable_.WriteWord(0x3004, 0x80000000);
    cable_.WriteWord(0x3004, 0);
    EXPECT_FALSE(receiver_.TrapRunning());
    cable_.WriteWord(0x3004, 0xCC000000);  // the boot step alone, without the trap enable
    cable_.WriteWord(0x3004, 0);
    EXPECT_FALSE(receiver_.TrapRunning());
}

TEST_F(Trap, HaltStopsTheTrapAndAStartRunsItAgain) {
    Connect(cable_, VirtualTrapImage());
    cable_.WriteWord(0x3004, 0x80000000);
    EXPECT_TRUE(receiver_.CpuHalted());
    EXPECT_FALSE(receiver_.TrapRunning());
    Connect(cable_, VirtualTrapImage());
    EXPECT_TRUE(receiver_.TrapRunning());
}

TEST_F(Trap, EraseIsBusyForTheSetPollsThenErasesTheWholeChip) {
    receiver_.SetFlash(std::vector<std::uint8_t>(0x100000, 0x00));
    receiver_.Config().eraseBusyPolls = 4;
    Connect(cable_, VirtualTrapImage());
    EXPECT_EQ(Erase(), 5);
    EXPECT_EQ(lastStatus_, 0x401u);
    EXPECT_TRUE(std::all_of(receiver_.Flash().begin(), receiver_.Flash().end(), [](std::uint8_t b) { return b == 0xFF; }));
}

TEST_F(Trap, ProgramAndsTheChunkIntoTheFlash) {
    receiver_.Config().programBusyPolls = 0;
    Connect(cable_, VirtualTrapImage());
    std::vector<std::uint8_t> chunk(904);
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<std::uint8_t>(i * 13 + 1);
    EXPECT_EQ(Program(kFlash1M + 0x1000, chunk), 1);
    EXPECT_TRUE(std::equal(chunk.begin(), chunk.end(), receiver_.Flash().begin() + 0x1000));
    EXPECT_EQ(receiver_.Flash()[0x1000 + 904], 0xFF) << "exactly the byte count";

    std::vector<std::uint8_t> over(904, 0x0F);
    Program(kFlash1M + 0x1000, over);
    EXPECT_EQ(receiver_.Flash()[0x1000 + 1], static_cast<std::uint8_t>(14 & 0x0F)) << "old AND new";

    EXPECT_EQ(Erase(), 4);
    EXPECT_EQ(receiver_.Flash()[0x1000], 0xFF);
}

TEST_F(Trap, BadParametersAreRefusedWithoutTouchingTheFlash) {
    Connect(cable_, VirtualTrapImage());
    const std::vector<std::uint8_t> before = receiver_.Flash();
    EXPECT_EQ(Program(0x7FFFFF00, std::vector<std::uint8_t>(0x200, 0)), -1) << "runs past the flash end";
    EXPECT_EQ(lastStatus_, 0x102u) << "the error bit, never the done bit";
    EXPECT_EQ(Program(kFlash1M - 0x100, std::vector<std::uint8_t>(16, 0)), -1) << "below the flash";
    cable_.WriteWord(Wptr() + 0x0C, 4097);
    EXPECT_EQ(RunCommand(0x100), -1) << "more than the data buffer";
    EXPECT_EQ(Erase(0x7FE00000), -1) << "a 2 MB base on a 1 MB chip";
    EXPECT_EQ(RunCommand(0x200), -1) << "an unknown command";
    EXPECT_EQ(lastStatus_, 0x202u);
    EXPECT_EQ(receiver_.Flash(), before);
}

TEST_F(Trap, FlashIsOutOfReachWithoutTheMemoryInterface) {
    receiver_.SetFlash(std::vector<std::uint8_t>(0x100000, 0x00));
    Connect(cable_, VirtualTrapImage(), /*withEmi=*/false);
    EXPECT_TRUE(receiver_.TrapRunning());
    EXPECT_EQ(Erase(), -1);
    EXPECT_EQ(receiver_.Flash()[0], 0x00);
}

TEST_F(Trap, NeverDoneFault) {
    Connect(cable_, VirtualTrapImage());
    receiver_.Faults().trapNeverDone = true;
    EXPECT_EQ(Erase(), -1);
    receiver_.Faults().trapNeverDone = false;
    EXPECT_GT(Erase(), 0);
}

TEST_F(Trap, TwoMegabyteChipErasesFromItsBase) {
    ReceiverConfig config;
    config.flashSize = 0x200000;
    VirtualReceiver big(config);
    TestCable cable(big);
    big.SetFlash(std::vector<std::uint8_t>(0x200000, 0x12));
    Connect(cable, VirtualTrapImage());
    const std::uint32_t w = big.PeekWord(0x80000048);
    cable.WriteWord(w + 0x10, 0x7FE00000);
    cable.WriteWord(w, 0x400);
    std::uint32_t word = 0;
    for (int i = 0; i < 10 && !(word & 1u); ++i) cable.ReadWord(w, &word);
    EXPECT_EQ(word, 0x401u);
    EXPECT_EQ(big.Flash()[0x1FFFFF], 0xFF);
}

}  // namespace

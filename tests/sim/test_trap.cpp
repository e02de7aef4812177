// The virtual trap program: started by the start series only for the virtual image,
// serving the flash mailbox with busy polls; anything else runs wild.
#include "sim_test.h"

namespace {

using namespace simtest;
using orbvex::sim::VirtualTrapImage;

constexpr std::uint32_t kLoad = 0x80000140;
constexpr std::uint32_t kFlash1M = 0x7FF00000;

bool InJtiptrWindow(std::optional<std::uint32_t> v) { return v && *v > 0x80000100 && *v < 0x80000300; }

class Trap : public DcuTest {
protected:
    // What a host does to connect: halt, install an image, point the trap words at it,
    // run the start series and set up the memory interface.
    void Connect(Bytes image = VirtualTrapImage(), bool withEmi = true) {
        cable_.WriteWord(0x3004, 0x80000000);
        for (std::uint32_t a = kRam; a < kLoad; a += 4) cable_.WriteWord(a, kRam);
        InstallImage(image);
        cable_.WriteWord(0x308C, 0x00010000);
        for (std::uint32_t v : {0x20000000u, 0u, 0x40000000u, 0x48000000u, 0x4C000000u, 0xCC000000u, 0x4C000000u,
                                0x44000000u, 0x40000000u, 0x60000000u, 0x40000000u, 0u}) {
            cable_.WriteWord(0x3004, v);
        }
        if (withEmi) cable_.WriteWord(0x2030, 0x16D1);
    }
    void InstallImage(Bytes image) {
        image.resize((image.size() + 3) & ~std::size_t{3}, 0);
        cable_.WriteChunks(kLoad, image);
        cable_.WriteWord(0x8000004C, kLoad);
        cable_.WriteWord(0x80000048, kLoad + static_cast<std::uint32_t>(image.size()) + 8);
    }

    std::uint32_t Wptr() { return receiver_.PeekWord(0x80000048); }

    // Writes a command and polls its word until done; returns the reads it took, or -1.
    int RunCommand(std::uint32_t command, int pollLimit = 50) {
        cable_.WriteWord(Wptr(), command);
        for (int reads = 1; reads <= pollLimit; ++reads) {
            const auto word = cable_.ReadWord(Wptr());
            EXPECT_TRUE(word);
            lastStatus_ = word.value_or(0);
            if (lastStatus_ & 1u) return reads;
        }
        return -1;
    }

    int Program(std::uint32_t flashAddress, const Bytes& data) {
        const std::uint32_t w = Wptr();
        cable_.WriteChunks(w + 0x1C, data);
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

    std::uint32_t lastStatus_ = 0;
};

TEST(TrapImage, OpensWithPlainTextAndIsWrittenByTheBuild) {
    const Bytes image = VirtualTrapImage();
    EXPECT_EQ(std::string(image.begin(), image.begin() + 34), "ORBVEX VIRTUAL RECEIVER TRAP IMAGE");
    EXPECT_EQ(ReadFile(std::string(ORBVEX_BIN_DIR) + "/" + orbvex::sim::kVirtualTrapImageName), image)
        << "the build writes the image beside the programs";
}

TEST_F(Trap, StartsAfterTheSeriesForTheVirtualImageStopsOnHaltAndStartsAgain) {
    EXPECT_FALSE(InJtiptrWindow(cable_.ReadWord(0x3080))) << "the firmware runs before the start";
    Connect();
    EXPECT_TRUE(receiver_.TrapRunning());
    EXPECT_FALSE(receiver_.CpuHalted());
    const auto jtiptr = cable_.ReadWord(0x3080);
    EXPECT_TRUE(InJtiptrWindow(jtiptr)) << std::hex << jtiptr.value_or(0);

    cable_.WriteWord(0x3004, 0x80000000);
    EXPECT_TRUE(receiver_.CpuHalted());
    EXPECT_FALSE(receiver_.TrapRunning());
    Connect();
    EXPECT_TRUE(receiver_.TrapRunning());
}

TEST_F(Trap, AnyOtherImageRunsWild) {
    Bytes image = VirtualTrapImage();
    image[300] ^= 1;
    Connect(image);
    EXPECT_FALSE(receiver_.TrapRunning());
    const auto jtiptr = cable_.ReadWord(0x3080);
    EXPECT_TRUE(jtiptr);
    EXPECT_FALSE(InJtiptrWindow(jtiptr));
    EXPECT_EQ(Erase(), -1) << "nobody answers the mailbox";
    EXPECT_EQ(lastStatus_, 0x400u);
}

TEST_F(Trap, NothingStartsWithoutTheSeries) {
    InstallImage(VirtualTrapImage());
    // A halt and release, then the boot step alone without the trap enable.
    for (std::uint32_t step : {0x80000000u, 0xCC000000u}) {
        cable_.WriteWord(0x3004, step);
        cable_.WriteWord(0x3004, 0);
        EXPECT_FALSE(receiver_.TrapRunning()) << std::hex << step;
    }
}

TEST_F(Trap, EraseIsBusyForTheSetPollsThenErasesTheWholeChipFromItsBase) {
    receiver_.Config().eraseBusyPolls = 4;
    for (std::uint32_t size : {0x100000u, 0x200000u}) {
        receiver_.Config().flashSize = size;
        receiver_.SetFlash(Bytes(size, 0x00));
        Connect();
        EXPECT_EQ(Erase(0x80000000 - size), 5) << std::hex << size;
        EXPECT_EQ(lastStatus_, 0x401u);
        EXPECT_TRUE(std::all_of(receiver_.Flash().begin(), receiver_.Flash().end(), [](auto b) { return b == 0xFF; }));
    }
}

TEST_F(Trap, ProgramAndsTheChunkIntoTheFlash) {
    receiver_.Config().programBusyPolls = 0;
    Connect();
    const Bytes chunk = Pattern(904, 1);
    EXPECT_EQ(Program(kFlash1M + 0x1000, chunk), 1);
    EXPECT_TRUE(std::equal(chunk.begin(), chunk.end(), receiver_.Flash().begin() + 0x1000));
    EXPECT_EQ(receiver_.Flash()[0x1000 + 904], 0xFF) << "exactly the byte count";

    Program(kFlash1M + 0x1000, Bytes(904, 0x0F));
    EXPECT_EQ(receiver_.Flash()[0x1000 + 1], chunk[1] & 0x0F) << "old AND new";
}

TEST_F(Trap, BadParametersAreRefusedWithoutTouchingTheFlash) {
    Connect();
    const Bytes before = receiver_.Flash();
    EXPECT_EQ(Program(0x7FFFFF00, Bytes(0x200, 0)), -1) << "runs past the flash end";
    EXPECT_EQ(lastStatus_, 0x102u) << "the error bit, never the done bit";
    EXPECT_EQ(Program(kFlash1M - 0x100, Bytes(16, 0)), -1) << "below the flash";
    cable_.WriteWord(Wptr() + 0x0C, 4097);
    EXPECT_EQ(RunCommand(0x100), -1) << "more than the data buffer";
    EXPECT_EQ(Erase(0x7FE00000), -1) << "a 2 MB base on a 1 MB chip";
    EXPECT_EQ(RunCommand(0x200), -1) << "an unknown command";
    EXPECT_EQ(lastStatus_, 0x202u);
    EXPECT_EQ(receiver_.Flash(), before);
}

TEST_F(Trap, FlashIsOutOfReachWithoutTheMemoryInterface) {
    receiver_.SetFlash(Bytes(0x100000, 0x00));
    Connect(VirtualTrapImage(), /*withEmi=*/false);
    EXPECT_TRUE(receiver_.TrapRunning());
    EXPECT_EQ(Erase(), -1);
    EXPECT_EQ(receiver_.Flash()[0], 0x00);
}

TEST_F(Trap, NeverDoneFault) {
    Connect();
    receiver_.Faults().trapNeverDone = true;
    EXPECT_EQ(Erase(), -1);
    receiver_.Faults().trapNeverDone = false;
    EXPECT_GT(Erase(), 0);
}

}  // namespace

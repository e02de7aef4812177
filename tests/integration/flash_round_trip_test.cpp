// Whole sessions on the virtual receiver, as an operator runs them: START, Erase,
// Write and Read in turn on one connection.
#include <gtest/gtest.h>

#include "ops/receiver_fixture.h"

namespace orbvex::test {
namespace {

class RoundTrip : public ReceiverTest {
protected:
    void UseTwoMegabytes() {
        receiver.Config().flashSize = 0x200000;
        receiver.SetFlash({});
        window.f2 = true;
    }

    void WriteRom(const std::vector<std::uint8_t>& rom) {
        WriteFileBytes(PathIn("image.rom"), rom);
        window.openChoice = PathIn("image.rom");
        ASSERT_TRUE(RunWrite(window)) << ::testing::PrintToString(window.lines);
    }

    std::vector<std::uint8_t> ReadBack() {
        window.saveChoice = PathIn("back.bin");
        EXPECT_TRUE(RunRead(window)) << ::testing::PrintToString(window.lines);
        return ReadFileBytes(PathIn("back.bin"));
    }
};

TEST_F(RoundTrip, OneMegabyteImageOnTheOneMegabyteFlash) {
    Connect();
    receiver.SetFlash(std::vector<std::uint8_t>(0x100000, 0x00));
    ASSERT_TRUE(RunErase(window));
    auto rom = RandomBytes(0x100000, 21);
    WriteRom(rom);

    EXPECT_EQ(window.labels.size(), 256u);
    EXPECT_EQ(window.Label(), "7FFFF000");
    EXPECT_EQ(window.progressPosition, 10444);
    EXPECT_EQ(window.progressMaximum, 10485);
    EXPECT_EQ(ReadBack(), rom);
}

TEST_F(RoundTrip, TwoMegabyteImageOnTheTwoMegabyteFlash) {
    UseTwoMegabytes();
    Connect();
    ASSERT_TRUE(RunErase(window));
    auto rom = RandomBytes(0x200000, 22);
    WriteRom(rom);

    EXPECT_EQ(window.labels.size(), 512u);
    EXPECT_EQ(window.Label(), "7FFFF000");
    EXPECT_EQ(window.progressMaximum, 20971);
    auto back = ReadBack();
    EXPECT_EQ(back, rom);
    EXPECT_EQ(window.Label(), "7FFFFE00");
}

TEST_F(RoundTrip, OneMegabyteImageFillsTheLowerHalfOfTheTwoMegabyteFlash) {
    UseTwoMegabytes();
    Connect();
    ASSERT_TRUE(RunErase(window));
    auto rom = RandomBytes(0x100000, 23);
    WriteRom(rom);

    EXPECT_EQ(window.lines[window.lines.size() - 3], "Write Flash ADR[7FE00000] LEN[00100000] : Please Wait...");
    EXPECT_EQ(window.Label(), "7FEFF000");
    EXPECT_EQ(window.progressPosition, 10444);
    EXPECT_EQ(window.progressMaximum, 20971);
    auto back = ReadBack();
    ASSERT_EQ(back.size(), 0x200000u);
    EXPECT_TRUE(std::equal(rom.begin(), rom.end(), back.begin()));
    EXPECT_TRUE(std::all_of(back.begin() + 0x100000, back.end(), [](std::uint8_t b) { return b == 0xFF; }));
}

TEST_F(RoundTrip, SmallRomReadsBackWithErasedBytesBeyondIt) {
    Connect();
    receiver.SetFlash(std::vector<std::uint8_t>(0x100000, 0x5A));
    ASSERT_TRUE(RunErase(window));
    auto rom = RandomBytes(10001, 24);
    WriteRom(rom);
    auto back = ReadBack();
    ASSERT_EQ(back.size(), 0x100000u);
    EXPECT_TRUE(std::equal(rom.begin(), rom.end(), back.begin()));
    EXPECT_TRUE(std::all_of(back.begin() + rom.size(), back.end(), [](std::uint8_t b) { return b == 0xFF; }));
}

TEST_F(RoundTrip, WritingWithoutEraseGivesOldAndNew) {
    Connect();
    auto old = RandomBytes(0x100000, 25);
    receiver.SetFlash(old);
    auto rom = RandomBytes(8192 + 3, 26);
    WriteRom(rom);
    auto back = ReadBack();
    ASSERT_EQ(back.size(), 0x100000u);
    for (std::size_t i = 0; i < back.size(); ++i) {
        std::uint8_t expected = i < rom.size() ? (old[i] & rom[i]) : old[i];
        ASSERT_EQ(back[i], expected) << i;
    }
}

TEST_F(RoundTrip, LogOfAWholeSessionFollowsStart) {
    Connect();
    window.lines = {"Init OK :)", "---------------------"};
    ASSERT_TRUE(RunErase(window));
    WriteRom(RandomBytes(4096, 27));
    std::string mailbox = Hex8(Mailbox());
    EXPECT_EQ(window.lines,
              (std::vector<std::string>{"Init OK :)", "---------------------",
                                        "Init JTAG", "DCU OK", "Trap_Wptr : " + mailbox,
                                        "Erase ADR[7FF00000] : Please Wait...", "Erase success !!!",
                                        "---------------------",
                                        "Init JTAG", "DCU OK", "Trap_Wptr : " + mailbox,
                                        "File : " + PathIn("image.rom"),
                                        "Write Flash ADR[7FF00000] LEN[00001000] : Please Wait...",
                                        "Write Flash END", "---------------------"}));
    EXPECT_EQ(window.beeps.size(), 2u);
}

}  // namespace
}  // namespace orbvex::test

// SPDX-License-Identifier: GPL-2.0-or-later
// Whole sessions on the virtual receiver, as an operator runs them: START, Erase,
// Write and Read in turn on one connection.
#include "ops/receiver_fixture.h"
#include "port/cable_wiring.h"
#include "port/gpio_cable.h"
#include "port/ppdev_cable.h"
#include "support/gpiod_standin.h"
#include "support/ppdev_standin.h"

namespace orbvex::test {
namespace {

class RoundTrip : public ReceiverTest {
protected:
    void WriteRom(const std::vector<std::uint8_t>& rom) {
        ChooseRom(rom);
        ASSERT_TRUE(Write()) << ::testing::PrintToString(window.lines);
    }

    std::vector<std::uint8_t> ReadBack() {
        window.saveChoice = PathIn("back.bin");
        EXPECT_TRUE(Read()) << ::testing::PrintToString(window.lines);
        return ReadFileBytes(PathIn("back.bin"));
    }
};

struct Session {
    const char* name;
    std::uint32_t flashSize, romSize;
    const char* adrLine;
    std::size_t writeLabels;
    const char* lastWriteLabel;
    int progress, progressMaximum;
    const char* lastReadLabel;
};

void PrintTo(const Session& s, std::ostream* os) { *os << s.name; }

class EraseWriteRead : public RoundTrip, public ::testing::WithParamInterface<Session> {};

TEST_P(EraseWriteRead, GivesTheImageBackWithErasedBytesBeyondIt) {
    const Session& s = GetParam();
    receiver.Config().flashSize = s.flashSize;
    window.f2 = s.flashSize == 0x200000;
    Connect();
    receiver.SetFlash(std::vector<std::uint8_t>(s.flashSize, 0x00));
    ASSERT_TRUE(Erase());
    auto rom = RandomBytes(s.romSize, s.flashSize + s.romSize);
    WriteRom(rom);

    EXPECT_EQ(window.FromEnd(3), s.adrLine);
    EXPECT_EQ(window.labels.size(), s.writeLabels);
    EXPECT_EQ(window.Label(), s.lastWriteLabel);
    EXPECT_EQ(window.progressPosition, s.progress);
    EXPECT_EQ(window.progressMaximum, s.progressMaximum);
    auto back = ReadBack();
    ASSERT_EQ(back.size(), s.flashSize);
    EXPECT_TRUE(std::equal(rom.begin(), rom.end(), back.begin()));
    EXPECT_TRUE(std::all_of(back.begin() + s.romSize, back.end(), [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(window.Label(), s.lastReadLabel);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, EraseWriteRead,
    ::testing::Values(Session{"FullOneMegabyte", 0x100000, 0x100000,
                              "Write Flash ADR[7FF00000] LEN[00100000] : Please Wait...", 256, "7FFFF000", 10444,
                              10485, "7FFFFF00"},
                      Session{"FullTwoMegabytes", 0x200000, 0x200000,
                              "Write Flash ADR[7FE00000] LEN[00200000] : Please Wait...", 512, "7FFFF000", 20930,
                              20971, "7FFFFE00"},
                      Session{"OneMegabyteOnTwo", 0x200000, 0x100000,
                              "Write Flash ADR[7FE00000] LEN[00100000] : Please Wait...", 256, "7FEFF000", 10444,
                              20971, "7FFFFE00"}),
    [](const auto& info) { return std::string(info.param.name); });

// The project's trap, executed by the receiver's CPU, on every chip the receiver carries:
// each erased whole over old contents, written with a ROM whose last chunk ends on an odd
// byte, read back whole, with nothing done that the chip or the CPU would not take as meant.
struct Chip {
    const char* name;
    std::uint32_t size;
};

class EveryChip : public RoundTrip, public ::testing::WithParamInterface<Chip> {};

TEST_P(EveryChip, StartEraseWriteRead) {
    const Chip& chip = GetParam();
    receiver.Config().flashChip = chip.name;
    receiver.Config().flashSize = chip.size;
    window.f2 = chip.size == 0x200000;
    Connect();
    receiver.SetFlash(RandomBytes(chip.size, 5));
    ASSERT_TRUE(Erase()) << ::testing::PrintToString(window.lines);
    auto rom = RandomBytes(9001, 6);
    WriteRom(rom);
    auto back = ReadBack();
    ASSERT_EQ(back.size(), chip.size);
    EXPECT_TRUE(std::equal(rom.begin(), rom.end(), back.begin()));
    EXPECT_TRUE(std::all_of(back.begin() + rom.size(), back.end(), [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(receiver.FlashViolations().empty());
    EXPECT_TRUE(receiver.CpuRecords().empty());
    EXPECT_TRUE(receiver.TrapRunning());
}

INSTANTIATE_TEST_SUITE_P(Chips, EveryChip,
                         ::testing::Values(Chip{"29LV800B", 0x100000}, Chip{"29LV800T", 0x100000},
                                           Chip{"29LV160B", 0x200000}, Chip{"29LV160T", 0x200000},
                                           Chip{"28F800B3B", 0x100000}, Chip{"28F160B3T", 0x200000}),
                         [](const auto& info) { return std::string(info.param.name); });

// Write does not erase: over old contents that only need bits cleared it lands, and the
// bytes beyond the ROM keep what they held.
TEST_F(RoundTrip, WritingWithoutEraseLeavesTheRestAlone) {
    Connect();
    auto old = RandomBytes(0x100000, 25);
    auto rom = RandomBytes(8192 + 3, 26);
    for (std::size_t i = 0; i < rom.size(); ++i) old[i] |= rom[i];
    receiver.SetFlash(old);
    WriteRom(rom);
    auto back = ReadBack();
    ASSERT_EQ(back.size(), 0x100000u);
    for (std::size_t i = 0; i < back.size(); ++i) ASSERT_EQ(back[i], i < rom.size() ? rom[i] : old[i]) << i;
}

// Write does not erase, and programming only clears bits: the trap program writes the
// words whose new value only clears bits and stops, as a failure, at the first that would
// need a 0 to become 1, rather than leave old and new mixed behind a success.
TEST_F(RoundTrip, WritingOverBitsThatNeedAnEraseFailsThere) {
    Connect();
    auto old = std::vector<std::uint8_t>(0x100000, 0x00);
    std::fill_n(old.begin(), 0x1101, 0xFF);
    receiver.SetFlash(old);
    auto rom = RandomBytes(8192 + 3, 26);
    rom[0x1101] |= 0x01;
    ChooseRom(rom);
    EXPECT_FALSE(Write());
    EXPECT_EQ(window.FromEnd(3), "Error writing flash at address 7FF01000 ACK = 00031002");
    auto back = ReadBack();
    ASSERT_EQ(back.size(), 0x100000u);
    for (std::size_t i = 0; i < back.size(); ++i) ASSERT_EQ(back[i], i < 0x1100 ? rom[i] : old[i]) << i;
}

// The same session over the cables the kernel drives, their system calls played by
// stand-ins that carry the pins to the receiver. The cable outlives the link, which the
// fixture closes (releasing the cable) after the test.
class OverDeviceCable : public RoundTrip {
protected:
    void Session() {
        ASSERT_NE(device, nullptr) << error;
        link.emplace(*access, device.get());
        Connect();
        auto rom = RandomBytes(8192 + 5, 31);
        WriteRom(rom);
        auto back = ReadBack();
        ASSERT_EQ(back.size(), 0x100000u);
        EXPECT_TRUE(std::equal(rom.begin(), rom.end(), back.begin()));
    }

    PpdevStandIn parport;
    GpiodStandIn gpio;
    std::unique_ptr<LosableCable> device;
    std::string error;
};

TEST_F(OverDeviceCable, Ppdev) {
    parport.record = false;
    parport.target = &receiver;
    device = PpdevCable::Open(parport, "/dev/parport0", error);
    Session();
}

TEST_F(OverDeviceCable, Gpio) {
    gpio.record = false;
    gpio.AddChip("gpiochip0", 28);
    gpio.WireTo(receiver, {{11, cable::kTck}, {25, cable::kTms}, {10, cable::kTdi}, {24, cable::kResetLine}});
    device = GpioCable::Open(gpio, {"gpiochip0", 11, 25, 10, 9, 24u}, error);
    Session();
}

}  // namespace
}  // namespace orbvex::test

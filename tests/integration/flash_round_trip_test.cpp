// SPDX-License-Identifier: GPL-2.0-or-later
// Whole sessions on the virtual receiver, as an operator runs them: START, Erase,
// Write and Read in turn on one connection.
#include <cctype>

#include "ops/receiver_fixture.h"
#include "port/cable_wiring.h"
#include "port/gpio_cable.h"
#include "port/ppdev_cable.h"
#include "support/gpiod_standin.h"
#include "support/ppdev_standin.h"

namespace orbvex::sim {
void PrintTo(const FlashModel& model, std::ostream* os) { *os << model.name; }
}  // namespace orbvex::sim

namespace orbvex::test {
namespace {

class RoundTrip : public ReceiverTest {
protected:
    // The 64 KB part, for sessions whose point is not the flash's size. It repeats through
    // the 1 MB window, so the window's addresses reach it.
    void UseSmallChip() { receiver.Config().flashChip = "Mini64B"; }

    void WriteRom(const std::vector<std::uint8_t>& rom) {
        ChooseRom(rom);
        ASSERT_TRUE(Write()) << ::testing::PrintToString(window.lines);
    }

    // The whole window, as Read saves it.
    std::vector<std::uint8_t> ReadBack() {
        window.saveChoice = PathIn("back.bin");
        EXPECT_TRUE(Read()) << ::testing::PrintToString(window.lines);
        return ReadFileBytes(PathIn("back.bin"));
    }

    // The first length bytes of the window, read over the link.
    std::vector<std::uint8_t> ReadStart(std::size_t length) {
        const auto n = static_cast<std::uint32_t>(length);
        EXPECT_TRUE(RunReadRange(link->Link(), window, {window.Port(), window.Flash().base, n, PathIn("start.bin")}))
            << ::testing::PrintToString(window.lines);
        return ReadFileBytes(PathIn("start.bin"));
    }

    // The chip's cells from `from` on, straight from the receiver: the bytes a file does
    // not cover need no trip over the link to be checked.
    std::vector<std::uint8_t> FlashFrom(std::size_t from) const {
        const auto& flash = receiver.Flash();
        return {flash.begin() + static_cast<std::ptrdiff_t>(std::min(from, flash.size())), flash.end()};
    }
    static std::vector<std::uint8_t> Erased(std::size_t size) { return std::vector<std::uint8_t>(size, 0xFF); }
};

struct Session {
    const char* name;
    std::uint32_t flashSize, romSize;
    const char* adrLine;
    std::size_t writeLabels;
    const char* lastWriteLabel;
    int progress, progressMaximum;
    const char* lastReadLabel;  // after a read of the whole flash; none: the file's bytes are read
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
    EXPECT_EQ(FlashFrom(s.romSize), Erased(s.flashSize - s.romSize));
    if (!s.lastReadLabel) {
        EXPECT_EQ(ReadStart(s.romSize), rom);
        return;
    }
    auto back = ReadBack();
    ASSERT_EQ(back.size(), s.flashSize);
    EXPECT_TRUE(std::equal(rom.begin(), rom.end(), back.begin()));
    EXPECT_TRUE(std::all_of(back.begin() + s.romSize, back.end(), [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(window.Label(), s.lastReadLabel);
}

// Every byte of both sizes through the link and back: the slow sessions, run once.
INSTANTIATE_TEST_SUITE_P(
    WholeFlash, EraseWriteRead,
    ::testing::Values(Session{"FullOneMegabyte", 0x100000, 0x100000,
                              "Write Flash ADR[7FF00000] LEN[00100000] : Please Wait...", 256, "7FFFF000", 10444,
                              10485, "7FFFFF00"},
                      Session{"FullTwoMegabytes", 0x200000, 0x200000,
                              "Write Flash ADR[7FE00000] LEN[00200000] : Please Wait...", 512, "7FFFF000", 20930,
                              20971, "7FFFFE00"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Sizes, EraseWriteRead,
                         ::testing::Values(Session{"SixtyFourKilobytesOnTwo", 0x200000, 0x10000,
                                                   "Write Flash ADR[7FE00000] LEN[00010000] : Please Wait...", 16,
                                                   "7FE0F000", 614, 20971, nullptr}),
                         [](const auto& info) { return std::string(info.param.name); });

// The project's trap, executed by the receiver's CPU, on every chip the receiver carries:
// each erased whole over old contents and written with a ROM whose last chunk ends on an
// odd byte, with nothing done that the chip or the CPU would not take as meant. A chip of
// a command set the trap does not drive is refused, and nothing written.
class EveryChip : public RoundTrip, public ::testing::WithParamInterface<sim::FlashModel> {};

TEST_P(EveryChip, StartEraseWriteRead) {
    const sim::FlashModel& chip = GetParam();
    const bool driven = chip.commandSet == sim::CommandSet::Amd || chip.commandSet == sim::CommandSet::Intel;
    receiver.Config().flashChip = chip.name;
    window.f2 = chip.size > 0x100000;
    window.stopAtTrapFailure = true;  // the reason, as the command line shows it
    Connect();
    const auto old = RandomBytes(chip.size, 5);
    receiver.SetFlash(old);
    auto rom = RandomBytes(9001, 6);
    ChooseRom(rom);
    EXPECT_EQ(Erase(), driven) << ::testing::PrintToString(window.lines);
    EXPECT_EQ(Write(), driven) << ::testing::PrintToString(window.lines);
    if (!driven) {
        EXPECT_THAT(window.lines, ::testing::Contains("Erase failed: chip not identified"));
        EXPECT_THAT(window.lines, ::testing::Contains("Error writing flash at address " + Hex8(window.Flash().base) +
                                                      ": chip not identified"));
        EXPECT_EQ(receiver.Flash(), old);
        return;
    }
    EXPECT_EQ(ReadStart(rom.size()), rom);
    EXPECT_TRUE(std::equal(rom.begin(), rom.end(), receiver.Flash().begin()));
    EXPECT_EQ(FlashFrom(rom.size()), Erased(chip.size - rom.size()));
    EXPECT_TRUE(receiver.FlashViolations().empty());
    EXPECT_TRUE(receiver.CpuRecords().empty());
    EXPECT_TRUE(receiver.TrapRunning());
}

INSTANTIATE_TEST_SUITE_P(Chips, EveryChip, ::testing::ValuesIn(sim::FlashModels()), [](const auto& info) {
    std::string name = info.param.name;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
});

// Write does not erase: over old contents that only need bits cleared it lands, and the
// bytes beyond the ROM keep what they held.
TEST_F(RoundTrip, WritingWithoutEraseLeavesTheRestAlone) {
    UseSmallChip();
    Connect();
    auto old = RandomBytes(0x10000, 25);
    auto rom = RandomBytes(8192 + 3, 26);
    for (std::size_t i = 0; i < rom.size(); ++i) old[i] |= rom[i];
    receiver.SetFlash(old);
    WriteRom(rom);
    EXPECT_EQ(ReadStart(rom.size()), rom);
    EXPECT_EQ(FlashFrom(rom.size()), std::vector<std::uint8_t>(old.begin() + rom.size(), old.end()));
}

// Write does not erase, and programming only clears bits: the trap program writes the
// words whose new value only clears bits and stops, as a failure, at the first that would
// need a 0 to become 1, rather than leave old and new mixed behind a success.
TEST_F(RoundTrip, WritingOverBitsThatNeedAnEraseFailsThere) {
    UseSmallChip();
    receiver.Config().replyLengthOutsideFlash = 4;  // the window's thousand polls cost few clocks
    Connect();
    auto old = std::vector<std::uint8_t>(0x10000, 0x00);
    std::fill_n(old.begin(), 0x1101, 0xFF);
    receiver.SetFlash(old);
    auto rom = RandomBytes(8192 + 3, 26);
    rom[0x1101] |= 0x01;
    ChooseRom(rom);
    EXPECT_FALSE(Write());
    EXPECT_EQ(window.FromEnd(3), "Error writing flash at address 7FF01000 ACK = 00031002");
    const auto& flash = receiver.Flash();
    ASSERT_EQ(flash.size(), 0x10000u);
    for (std::size_t i = 0; i < flash.size(); ++i) ASSERT_EQ(flash[i], i < 0x1100 ? rom[i] : old[i]) << i;
}

// The same session over the cables the kernel drives, their system calls played by
// stand-ins that carry the pins to the receiver. The cable outlives the link, which the
// fixture closes (releasing the cable) after the test.
class OverDeviceCable : public RoundTrip {
protected:
    void Session() {
        ASSERT_NE(device, nullptr) << error;
        link.emplace(*access, device.get());
        UseSmallChip();
        Connect();
        auto rom = RandomBytes(8192 + 5, 31);
        WriteRom(rom);
        EXPECT_EQ(ReadStart(rom.size()), rom);
        EXPECT_EQ(FlashFrom(rom.size()), Erased(0x10000 - rom.size()));
    }

    PpdevStandIn parport;
    GpiodStandIn gpio;
    std::unique_ptr<LosableCable> device;
    std::string error;
};

TEST_F(OverDeviceCable, Ppdev) {
    parport.record = false;
    parport.target = &receiver;
    auto opened = PpdevCable::Open(parport, "/dev/parport0");
    error = opened.Error();
    if (opened) device = std::move(opened).Value();
    Session();
}

TEST_F(OverDeviceCable, Gpio) {
    gpio.record = false;
    gpio.AddChip("gpiochip0", 28);
    gpio.WireTo(receiver, {{11, cable::kTck}, {25, cable::kTms}, {10, cable::kTdi}, {24, cable::kResetLine}});
    auto opened = GpioCable::Open(gpio, {"gpiochip0", 11, 25, 10, 9, 24u});
    error = opened.Error();
    if (opened) device = std::move(opened).Value();
    Session();
}

}  // namespace
}  // namespace orbvex::test

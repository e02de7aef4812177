// Reading the command line: what it accepts, and the plain refusals (status 2).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "util/text.h"

namespace orbvex::cli {
namespace {

using ::testing::HasSubstr;

ParseOutcome Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "orbvex_cli");
    return ParseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(CliOptions, ReadsSeveralCommandsInOrderWithTheirFiles) {
    ParseOutcome p = Parse({"--virtual", "--flash", "2M", "start", "erase", "write", "image.rom", "read", "back.bin",
                            "verify", "image.rom"});
    ASSERT_TRUE(p.run) << p.message;
    EXPECT_EQ(p.options.target, TargetKind::Virtual);
    EXPECT_EQ(p.options.FlashBase(), 0x7FE00000u);
    using C = CommandKind;
    std::vector<std::pair<C, std::string>> commands;
    for (const Command& c : p.options.commands) commands.push_back({c.kind, c.file});
    const std::vector<std::pair<C, std::string>> expected = {
        {C::Start, ""}, {C::Erase, ""}, {C::Write, "image.rom"}, {C::Read, "back.bin"}, {C::Verify, "image.rom"}};
    EXPECT_EQ(commands, expected);
}

TEST(CliOptions, DefaultsAreTheWindowsStartingChoices) {
    ParseOutcome p = Parse({"start"});
    ASSERT_TRUE(p.run) << p.message;
    EXPECT_EQ(p.options.target, TargetKind::Hardware);
    EXPECT_EQ(p.options.lptBase, 0x378);
    EXPECT_EQ(p.options.FlashBase(), 0x7FF00000u);
    EXPECT_FALSE(p.options.trapFile || p.options.offset || p.options.length);
}

TEST(CliOptions, PortsByNameOrAnyBaseAddress) {
    std::uint16_t base = 0;
    // In turn, so that each case must change what the one before left.
    const struct { const char* text; std::uint16_t base; } good[] = {{"LPT2", 0x278}, {"0xD010", 0xD010}, {"lpt1", 0x378}};
    for (const auto& c : good) {
        EXPECT_TRUE(ParsePortChoice(c.text, base)) << c.text;
        EXPECT_EQ(base, c.base) << c.text;
    }
    for (const char* bad : {"lpt3", "0x", "0xG1", "0", "0xFFFF", "-1", ""}) EXPECT_FALSE(ParsePortChoice(bad, base)) << bad;
}

TEST(CliOptions, SizesTakeHexDecimalAndSuffixes) {
    std::uint32_t v = 0;
    const struct { const char* text; std::uint32_t value; } good[] = {
        {"0x1000", 0x1000}, {"5000", 5000}, {"64K", 65536}, {"1M", 0x100000}};
    for (const auto& c : good) {
        EXPECT_TRUE(ParseSize(c.text, v)) << c.text;
        EXPECT_EQ(v, c.value) << c.text;
    }
    for (const char* bad : {"", "K", "12x", "0x", "4096M", "99999999999"}) EXPECT_FALSE(ParseSize(bad, v)) << bad;
}

TEST(CliOptions, RangeAndRemoteAndTrap) {
    ParseOutcome p = Parse({"--remote", "unix:/tmp/r.sock", "--trap", "t.img", "--offset", "0x100", "--length",
                            "4K", "read", "part.bin"});
    ASSERT_TRUE(p.run) << p.message;
    EXPECT_EQ(p.options.target, TargetKind::Remote);
    EXPECT_TRUE(p.options.remote.isUnix);
    EXPECT_EQ(*p.options.trapFile, "t.img");
    EXPECT_EQ(*p.options.offset, 0x100u);
    EXPECT_EQ(*p.options.length, 4096u);
    // Ranges that end exactly at the end of the flash.
    EXPECT_TRUE(Parse({"--virtual", "--flash", "2M", "--offset", "0", "--length", "2M", "read", "a.bin"}).run);
    EXPECT_TRUE(Parse({"--virtual", "--offset", "0xFFFFC", "read", "last-word.bin"}).run);
}

TEST(CliOptions, CablesTheKernelDrives) {
    ParseOutcome p = Parse({"--port", "/dev/parport1", "start"});
    ASSERT_TRUE(p.run) << p.message;
    EXPECT_EQ(p.options.target, TargetKind::Ppdev);
    EXPECT_EQ(p.options.ppdevDevice, "/dev/parport1");
    p = Parse({"--gpio", "gpiochip0:tck=11,tms=25,tdi=10,tdo=9", "start"});
    ASSERT_TRUE(p.run) << p.message;
    EXPECT_EQ(p.options.target, TargetKind::Gpio);
    EXPECT_EQ(p.options.gpio.chip, "gpiochip0");
    EXPECT_EQ(p.options.gpio.tdo, 9u);
    p = Parse({"--ftdi", "0x0403:6010,serial=FT4X,interface=b,freq=6M", "start"});
    ASSERT_TRUE(p.run) << p.message;
    EXPECT_EQ(p.options.target, TargetKind::Ftdi);
    EXPECT_EQ((std::vector<unsigned>{p.options.ftdi.vendor, p.options.ftdi.product, unsigned(p.options.ftdi.interface),
                                     p.options.ftdi.frequency.value()}),
              (std::vector<unsigned>{0x0403, 0x6010, 2, 6000000}));
    EXPECT_EQ(p.options.ftdi.serial, "FT4X");
}

TEST(CliOptions, BadArgumentsAreRefusedWithStatusTwoAndAReason) {
    const struct { std::vector<const char*> args; const char* says; } cases[] = {
        {{}, "no command"},
        {{"--virtual"}, "no command"},
        {{"--virtual", "flash"}, "unknown command \"flash\""},
        {{"--virtual", "write"}, "\"write\" needs a FILE"},
        {{"--virtual", "start", "read"}, "\"read\" needs a FILE"},
        {{"--virtual", "--flash", "4M", "start"}, "--flash must be 1M or 2M"},
        {{"--port", "lpt9", "start"}, "--port must be"},
        {{"--virtual", "--remote", "h:1", "start"}, "exclude each other"},
        {{"--port", "lpt1", "--remote", "h:1", "start"}, "exclude each other"},
        {{"--remote", "nohost", "start"}, "--remote"},
        {{"--gpio", "gpiochip0:tck=11,tms=25,tdi=10", "start"}, "--gpio: tdo is missing"},
        {{"--gpio", "gpiochip0:tck=1,tms=2,tdi=3,tdo=4", "--port", "lpt1", "start"}, "--port and --gpio exclude"},
        {{"--virtual", "--port", "/dev/parport0", "start"}, "--virtual and --port exclude each other"},
        {{"--port", "lpt1", "--virtual", "start"}, "--virtual and --port exclude each other"},
        {{"--gpio", "gpiochip0:tck=1,tms=2,tdi=3,tdo=4", "--remote", "h:1", "start"}, "--gpio and --remote exclude"},
        {{"--ftdi", "start"}, "--ftdi needs a cable choice before the commands"},
        {{"--ftdi", "auto", "--gpio", "gpiochip0:tck=1,tms=2,tdi=3,tdo=4", "start"}, "--gpio and --ftdi exclude each other"},
        {{"--ftdi", "0403:6014,freq=fast", "start"}, "--ftdi: freq=fast is not a TCK frequency"},
        {{"--ftdi", "freq=31M", "start"}, "--ftdi: freq=31M is not"},
        {{"--ftdi", "0403", "start"}, "--ftdi: \"0403\" is neither VID:PID nor KEY=VALUE"},
        {{"--ftdi", "0403:60144", "start"}, "not a USB id such as 0403:6014"},
        {{"--ftdi", "interface=E", "start"}, "--ftdi: interface=E is not A, B, C or D"},
        {{"--ftdi", "speed=1M", "start"}, "unknown key \"speed\""},
        {{"--virtual-flash", "f.bin", "start"}, "needs --virtual"},
        {{"--virtual", "--offset", "ten", "start"}, "--offset"},
        {{"--virtual", "--length", "0", "start"}, "--length"},
        {{"--virtual", "--offset", "1M", "start"}, "past the end"},
        {{"--virtual", "--flash", "2M", "--offset", "1M", "--length", "1M+", "start"}, "--length"},
        {{"--virtual", "--offset", "0xFF000", "--length", "0x2000", "start"}, "past the end"},
        {{"--virtual", "--bogus", "start"}, "--bogus"},
        {{"--virtual", "--port"}, "--port"},
        {{"--virtual", "--length", "0x1000", "start", "write", "a.rom"}, "apply to read and verify only"},
        {{"--virtual", "--length", "16", "erase", "read", "a.bin"}, "apply to read and verify only"},
        {{"--virtual", "--remote-timeout", "5", "start"}, "--remote-timeout needs --remote"},
        {{"--remote", "h:1", "--remote-timeout", "0", "start"}, "from 1 to 86400"},
        {{"--remote", "h:1", "--remote-timeout", "-1", "start"}, "from 1 to 86400"},
        {{"--remote", "h:1", "--remote-timeout", "86401", "start"}, "from 1 to 86400"},
        // A digit above the limit must not wrap the limit check.
        {{"--virtual", "--passes", "0xA", "start"}, "--passes must be"},
        {{"--virtual", "--passes", "0xFFFFFFFF", "start"}, "--passes must be"},
    };
    for (const auto& c : cases) {
        ParseOutcome p = Parse(c.args);
        EXPECT_FALSE(p.run) << c.says;
        EXPECT_EQ(p.exitCode, kExitBadArguments) << c.says;
        EXPECT_THAT(p.message, HasSubstr(c.says));
        EXPECT_THAT(p.message, HasSubstr("--help"));
    }
}

}  // namespace
}  // namespace orbvex::cli

// Reading the command line: what it accepts, and the plain refusals (status 2).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "cli/cli_options.h"

namespace orbvex::cli {
namespace {

using ::testing::HasSubstr;

ParseOutcome Parse(std::initializer_list<const char*> args) {
    std::vector<const char*> argv = {"orbvex_cli"};
    argv.insert(argv.end(), args.begin(), args.end());
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(CliOptions, ReadsSeveralCommandsInOrderWithTheirFiles) {
    ParseOutcome p = Parse({"--virtual", "--flash", "2M", "start", "erase", "write", "image.rom", "read", "back.bin",
                            "verify", "image.rom"});
    ASSERT_TRUE(p.run) << p.message;
    const CliOptions& o = p.options;
    EXPECT_EQ(o.target, TargetKind::Virtual);
    EXPECT_TRUE(o.flash2M);
    EXPECT_EQ(o.FlashBase(), 0x7FE00000u);
    ASSERT_EQ(o.commands.size(), 5u);
    EXPECT_EQ(o.commands[0].kind, CommandKind::Start);
    EXPECT_EQ(o.commands[1].kind, CommandKind::Erase);
    EXPECT_EQ(o.commands[2].kind, CommandKind::Write);
    EXPECT_EQ(o.commands[2].file, "image.rom");
    EXPECT_EQ(o.commands[3].kind, CommandKind::Read);
    EXPECT_EQ(o.commands[3].file, "back.bin");
    EXPECT_EQ(o.commands[4].kind, CommandKind::Verify);
}

TEST(CliOptions, DefaultsAreTheWindowsStartingChoices) {
    ParseOutcome p = Parse({"start"});
    ASSERT_TRUE(p.run) << p.message;
    EXPECT_EQ(p.options.target, TargetKind::Hardware);
    EXPECT_EQ(p.options.lptBase, 0x378);
    EXPECT_EQ(p.options.portButton, PortButton::L1);
    EXPECT_FALSE(p.options.flash2M);
    EXPECT_FALSE(p.options.trapFile.has_value());
    EXPECT_FALSE(p.options.offset.has_value());
}

TEST(CliOptions, PortsByNameOrAnyBaseAddress) {
    std::uint16_t base = 0;
    PortButton button = PortButton::None;
    EXPECT_TRUE(ParsePortChoice("LPT2", base, button));
    EXPECT_EQ(base, 0x278);
    EXPECT_EQ(button, PortButton::L2);
    EXPECT_TRUE(ParsePortChoice("0xD010", base, button));
    EXPECT_EQ(base, 0xD010);
    EXPECT_EQ(button, PortButton::None);  // neither radio button: the base stays as given
    EXPECT_TRUE(ParsePortChoice("0x378", base, button));
    EXPECT_EQ(button, PortButton::L1);
    for (const char* bad : {"lpt3", "0x", "0xG1", "0", "0xFFFF", "-1", ""})
        EXPECT_FALSE(ParsePortChoice(bad, base, button)) << bad;
}

TEST(CliOptions, SizesTakeHexDecimalAndSuffixes) {
    std::uint32_t v = 0;
    EXPECT_TRUE(ParseSize("0x1000", v));
    EXPECT_EQ(v, 0x1000u);
    EXPECT_TRUE(ParseSize("5000", v));
    EXPECT_EQ(v, 5000u);
    EXPECT_TRUE(ParseSize("64K", v));
    EXPECT_EQ(v, 65536u);
    EXPECT_TRUE(ParseSize("1M", v));
    EXPECT_EQ(v, 0x100000u);
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
}

TEST(CliOptions, HelpIsNotAnError) {
    ParseOutcome p = Parse({"--help"});
    EXPECT_FALSE(p.run);
    EXPECT_EQ(p.exitCode, kExitOk);
    EXPECT_THAT(p.message, HasSubstr("--virtual-flash"));
    EXPECT_THAT(p.message, HasSubstr("verify FILE"));
}

TEST(CliOptions, BadArgumentsAreRefusedWithStatusTwoAndAReason) {
    struct Case {
        std::vector<const char*> args;
        const char* says;
    };
    const std::vector<Case> cases = {
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
        {{"--virtual-flash", "f.bin", "start"}, "needs --virtual"},
        {{"--virtual", "--offset", "ten", "start"}, "--offset"},
        {{"--virtual", "--length", "0", "start"}, "--length"},
        {{"--virtual", "--offset", "1M", "start"}, "past the end"},
        {{"--virtual", "--flash", "2M", "--offset", "1M", "--length", "1M+", "start"}, "--length"},
        {{"--virtual", "--offset", "0xFF000", "--length", "0x2000", "start"}, "past the end"},
        {{"--virtual", "--bogus", "start"}, "--bogus"},
        {{"--virtual", "--port"}, "--port"},
        {{"--virtual", "--offset", "0x1000", "start", "write", "a.rom"}, "apply to read and verify only"},
        {{"--virtual", "--length", "16", "erase", "read", "a.bin"}, "apply to read and verify only"},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv = {"orbvex_cli"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        ParseOutcome p = ParseCommandLine(static_cast<int>(argv.size()), argv.data());
        EXPECT_FALSE(p.run) << c.says;
        EXPECT_EQ(p.exitCode, kExitBadArguments) << c.says;
        EXPECT_THAT(p.message, HasSubstr(c.says));
        EXPECT_THAT(p.message, HasSubstr("--help"));
    }
}

TEST(CliOptions, TheWholeFlashIsAValidRange) {
    ParseOutcome p = Parse({"--virtual", "--flash", "2M", "--offset", "0", "--length", "2M", "read", "all.bin"});
    EXPECT_TRUE(p.run) << p.message;
    p = Parse({"--virtual", "--offset", "0xFFFFC", "read", "last-word.bin"});
    EXPECT_TRUE(p.run) << p.message;
}

}  // namespace
}  // namespace orbvex::cli

// SPDX-License-Identifier: GPL-2.0-or-later
// Reading the command line: what it accepts, and the plain refusals (status 2).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "app/window_cable.h"
#include "cli_test_support.h"
#include "cables/cable.h"
#include "cables/parallel_port.h"
#include "cli/cli_options.h"
#include "port/ftdi_selection.h"
#include "util/text.h"

namespace orbvex::cli {
namespace {

using ::testing::HasSubstr;

ParseOutcome Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "orbvex_cli");
    return ParseCommandLine(static_cast<int>(args.size()), args.data());
}

// The window programs take the same cable options, and refuse them alike.
app::WindowCable OpenWindow(std::vector<const char*> args) {
    args.insert(args.begin(), "orbvex_up");
    return app::OpenWindowCable(app::kPortProgram, static_cast<int>(args.size()), args.data());
}

TEST(CliOptions, ReadsSeveralCommandsInOrderWithTheirFiles) {
    ParseOutcome p = Parse({"--virtual", "--flash", "2M", "start", "erase", "write", "image.rom", "read", "back.bin",
                            "verify", "image.rom"});
    ASSERT_TRUE(p.run) << p.message;
    EXPECT_TRUE(p.options.cable->InProcess());
    EXPECT_EQ(p.options.FlashBase(), 0x7FE00000u);
    std::vector<std::pair<std::string, std::string>> commands;
    for (const Command& c : p.options.commands) commands.push_back({c.type->word, c.file});
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"start", ""}, {"erase", ""}, {"write", "image.rom"}, {"read", "back.bin"}, {"verify", "image.rom"}};
    EXPECT_EQ(commands, expected);
}

TEST(CliOptions, DefaultsAreTheWindowsStartingChoices) {
    ParseOutcome p = Parse({"start"});
    ASSERT_TRUE(p.run) << p.message;
    EXPECT_FALSE(p.options.cable->InProcess());
    EXPECT_FALSE(p.options.trapFile || p.options.offset || p.options.length);
}

TEST(CliOptions, PortsByNameOrAnyBaseAddress) {
    std::uint16_t base = 0;
    // In turn, so that each case must change what the one before left.
    const struct {
        const char* text;
        std::uint16_t base;
    } good[] = {{"LPT2", 0x278}, {"0xD010", 0xD010}, {"lpt1", 0x378}};
    for (const auto& c : good) {
        EXPECT_TRUE(cables::ParsePortChoice(c.text, base)) << c.text;
        EXPECT_EQ(base, c.base) << c.text;
    }
    for (const char* bad : {"lpt3", "0x", "0xG1", "0", "0xFFFF", "-1", ""}) EXPECT_FALSE(cables::ParsePortChoice(bad, base)) << bad;
}

// What every cable of the table shares: its place in the help, its option named alone,
// a value it takes that is missing or is the first command, another cable beside it.
TEST(CliOptions, EveryCableOfTheTableIsNamedAloneAndTakesItsValueBeforeTheCommands) {
    const std::string help = Parse({"--help"}).message;
    const std::vector<const cables::CableType*>& table = cables::CableTypes();
    for (std::size_t i = 0; i < table.size(); ++i) {
        const cables::CableType& cable = *table[i];
        EXPECT_THAT(help, HasSubstr(std::string(cable.option) + (cable.syntax ? std::string(" ") + cable.syntax : "")));
        EXPECT_THAT(help, HasSubstr(cable.help));
        for (std::size_t j = 0; j < table.size(); ++j) {
            if (i == j) continue;
            std::vector<const char*> both = {table[i]->option};
            if (table[i]->syntax) both.push_back("x");
            both.push_back(table[j]->option);
            if (table[j]->syntax) both.push_back("x");
            both.push_back("start");
            const cables::CableType* first = table[std::min(i, j)];
            const cables::CableType* second = table[std::max(i, j)];
            const std::string says = std::string(first->option) + " and " + second->option + " exclude each other";
            ParseOutcome p = Parse(both);
            EXPECT_EQ(p.exitCode, kExitBadArguments) << cable.option;
            EXPECT_THAT(p.message, HasSubstr(says));
            both.pop_back();
            const app::WindowCable w = OpenWindow(both);
            EXPECT_EQ(w.exitCode, kExitBadArguments) << cable.option;
            EXPECT_THAT(w.message, HasSubstr(says));
            EXPECT_FALSE(w.cable);
        }
        if (!cable.syntax) continue;
        ParseOutcome p = Parse({cable.option});
        EXPECT_EQ(p.exitCode, kExitBadArguments) << cable.option;
        EXPECT_THAT(p.message, HasSubstr(cable.option));
        const app::WindowCable w = OpenWindow({cable.option});
        EXPECT_EQ(w.exitCode, kExitBadArguments) << cable.option;
        EXPECT_THAT(w.message, HasSubstr(cable.option));
        p = Parse({cable.option, "start"});
        EXPECT_EQ(p.exitCode, kExitBadArguments) << cable.option;
        EXPECT_THAT(p.message, HasSubstr(std::string(cable.option) + " needs a cable choice before the commands"));
    }
}

// What every command of the table shares: its line in the help, its word in any case, the
// file it takes, and its word swallowed by a cable option refused as such.
TEST(CliOptions, EveryCommandOfTheTableIsInTheHelpAndTakesItsFile) {
    const std::string help = Parse({"--help"}).message;
    for (const CommandType* command : CommandTypes()) {
        const std::string word = command->word;
        const std::string firstLine = std::string(command->help).substr(0, std::string(command->help).find('\n'));
        EXPECT_THAT(help, HasSubstr(word + (command->takesFile ? " FILE" : "") + "  ")) << word;
        EXPECT_THAT(help, HasSubstr(firstLine)) << word;
        std::string upper = word;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        ParseOutcome p = Parse({"--virtual", upper.c_str(), "f.bin"});
        if (command->takesFile) {
            ASSERT_TRUE(p.run) << word << ": " << p.message;
            ASSERT_EQ(p.options.commands.size(), 1u) << word;
            EXPECT_EQ(p.options.commands[0].type, command);
            EXPECT_EQ(p.options.commands[0].file, "f.bin");
            EXPECT_THAT(Parse({"--virtual", "start", word.c_str()}).message, HasSubstr("\"" + word + "\" needs a FILE"));
        } else {
            EXPECT_THAT(p.message, HasSubstr("unknown command \"f.bin\"")) << word;
        }
        EXPECT_THAT(Parse({"--port", upper.c_str()}).message, HasSubstr("--port needs a cable choice before the commands"));
    }
}

TEST(WindowOptions, EachProgramHasItsOwnCableUnlessOneIsNamed) {
    const char* const none[] = {"orbvex_up_virtual"};
    app::WindowCable w = app::OpenWindowCable(app::kVirtualProgram, 1, none);
    ASSERT_TRUE(w.cable) << w.message;
    EXPECT_FALSE(w.portFixed);
    EXPECT_NE(w.cable->Backend(), nullptr);
    EXPECT_EQ(w.trapFile, "trap.bin");
    w = OpenWindow({"--virtual", "--trap", "t.bin"});
    ASSERT_TRUE(w.cable) << w.message;
    EXPECT_TRUE(w.portFixed);
    EXPECT_EQ(w.trapFile, std::filesystem::absolute("t.bin").string());  // where the user stands

    const struct {
        app::WindowProgram program;
        std::vector<const char*> args;
        const char* says;
    } refusals[] = {
        {app::kVirtualProgram, {"--remote", "h:1", "--flash-image", "f.bin"}, "no use with --remote"},
        {app::kVirtualProgram, {"--flash-image", ""}, "--flash-image needs a file name"},
        {app::kPortProgram, {"--flash-image", "f.bin"}, "--flash-image"},
        {app::kPortProgram, {"--trap", ""}, "--trap needs a file name"},
        {app::kPortProgram, {"--port", "lpt9"}, "--port: must be"},
    };
    for (const auto& r : refusals) {
        std::vector<const char*> args = r.args;
        args.insert(args.begin(), r.program.name);
        w = app::OpenWindowCable(r.program, static_cast<int>(args.size()), args.data());
        EXPECT_EQ(w.exitCode, kExitBadArguments) << r.says;
        EXPECT_THAT(w.message, HasSubstr(r.says));
        EXPECT_THAT(w.message, HasSubstr("--help"));
    }
}

// A flash image the virtual receiver cannot use is a bad option to the windows as to the
// tool: one status, before any window opens or any command runs.
TEST(WindowOptions, AFlashImageTheReceiverCannotUseEndsWindowAndToolWithStatusTwo) {
    test::TempDir dir;
    test::WriteBytes(dir.Path("short.img"), std::vector<std::uint8_t>(1000, 0xFF));
    const struct {
        std::string image;
        const char* says;
    } cases[] = {
        {dir.Path(), "not a regular file"},
        {dir.Path("short.img"), "holds 1000 bytes, not the 1048576"},
        {dir.Path("no/such/folder.img"), "cannot save the virtual flash"},
    };
    for (const auto& c : cases) {
        const char* const args[] = {"orbvex_up_virtual", "--flash-image", c.image.c_str()};
        const app::WindowCable w = app::OpenWindowCable(app::kVirtualProgram, 3, args);
        EXPECT_FALSE(w.cable) << c.says;
        EXPECT_EQ(w.exitCode, kExitBadArguments) << c.says;
        EXPECT_THAT(w.message, HasSubstr(c.says));
        const test::ToolRun run = test::RunTool({"--virtual", "--virtual-flash", c.image, "start"});
        EXPECT_EQ(run.status, kExitBadArguments) << c.says;
        EXPECT_THAT(run.err, HasSubstr(c.says));
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(dir.Entries(), 1u);  // nothing created
}

TEST(CliOptions, FtdiChoiceReadsEveryKey) {
    const Result<FtdiSelection> s = ParseFtdiSelection("0x0403:6010,serial=FT4X,interface=b,freq=6M");
    ASSERT_TRUE(s) << s.Error();
    EXPECT_EQ((std::vector<unsigned>{s->vendor, s->product, unsigned(s->interface), s->frequency.value()}),
              (std::vector<unsigned>{0x0403, 0x6010, 2, 6000000}));
    EXPECT_EQ(s->serial, "FT4X");
}

TEST(CliOptions, SizesTakeHexDecimalAndSuffixes) {
    std::uint32_t v = 0;
    const struct {
        const char* text;
        std::uint32_t value;
    } good[] = {
        {"0x1000", 0x1000}, {"5000", 5000}, {"64K", 65536}, {"1M", 0x100000}};
    for (const auto& c : good) {
        EXPECT_TRUE(ParseSize(c.text, v)) << c.text;
        EXPECT_EQ(v, c.value) << c.text;
    }
    for (const char* bad : {"", "K", "12x", "0x", "4096M", "99999999999"}) EXPECT_FALSE(ParseSize(bad, v)) << bad;
}

TEST(CliOptions, RangeAndTrap) {
    ParseOutcome p = Parse({"--remote", "unix:/tmp/r.sock", "--trap", "t.img", "--offset", "0x100", "--length",
                            "4K", "read", "part.bin"});
    ASSERT_TRUE(p.run) << p.message;
    EXPECT_EQ(*p.options.trapFile, "t.img");
    EXPECT_EQ(*p.options.offset, 0x100u);
    EXPECT_EQ(*p.options.length, 4096u);
    // Ranges that end exactly at the end of the flash.
    EXPECT_TRUE(Parse({"--virtual", "--flash", "2M", "--offset", "0", "--length", "2M", "read", "a.bin"}).run);
    EXPECT_TRUE(Parse({"--virtual", "--offset", "0xFFFFC", "read", "last-word.bin"}).run);
}

TEST(CliOptions, BadArgumentsAreRefusedWithStatusTwoAndAReason) {
    const struct {
        std::vector<const char*> args;
        const char* says;
    } cases[] = {
        {{}, "no command"},
        {{"--virtual"}, "no command"},
        {{"--virtual", "flash"}, "unknown command \"flash\""},
        {{"--virtual", "write"}, "\"write\" needs a FILE"},
        {{"--virtual", "start", "read"}, "\"read\" needs a FILE"},
        {{"--virtual", "--flash", "4M", "start"}, "--flash must be 1M or 2M"},
        {{"--port", "lpt9", "start"}, "--port: must be"},
        {{"--remote", "nohost", "start"}, "--remote"},
        {{"--gpio", "gpiochip0:tck=11,tms=25,tdi=10", "start"}, "--gpio: tdo is missing"},
        {{"--ftdi", "0403:6014,freq=fast", "start"}, "--ftdi: freq=fast is not a TCK frequency"},
        {{"--ftdi", "freq=31M", "start"}, "--ftdi: freq=31M is not"},
        {{"--ftdi", "0403", "start"}, "--ftdi: \"0403\" is neither VID:PID nor KEY=VALUE"},
        {{"--ftdi", "0403:60144", "start"}, "not a USB id such as 0403:6014"},
        {{"--ftdi", "interface=E", "start"}, "--ftdi: interface=E is not A, B, C or D"},
        {{"--ftdi", "speed=1M", "start"}, "unknown key \"speed\""},
        {{"--ftdi", "0403:6014,freq=1M,FREQ=6M", "start"}, "--ftdi: freq is given twice"},
        {{"--virtual-flash", "f.bin", "start"}, "needs --virtual"},
        {{"--flash-chip", "28F160C3B", "start"}, "--flash-chip needs --virtual"},
        {{"--virtual", "--flash-chip", "29LV320B", "start"}, "no flash part named \"29LV320B\""},
        {{"--virtual", "--offset", "ten", "start"}, "--offset"},
        {{"--virtual", "--length", "0", "start"}, "--length"},
        {{"--virtual", "--offset", "1M", "start"}, "past the end"},
        {{"--virtual", "--flash", "2M", "--offset", "1M", "--length", "1M+", "start"}, "--length"},
        {{"--virtual", "--offset", "0xFF000", "--length", "0x2000", "start"}, "past the end"},
        {{"--virtual", "--bogus", "start"}, "--bogus"},
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

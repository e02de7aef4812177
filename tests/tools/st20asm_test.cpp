// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "link/mailbox.h"
#include "tools/st20asm/st20_asm.h"

namespace orbvex::st20asm {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Image(const std::string& source) {
    const Assembly a = Assemble(source);
    for (const Diagnostic& d : a.errors) ADD_FAILURE() << source << ": line " << d.line << ": " << d.message;
    return a.image;
}

struct Case {
    const char* source;
    Bytes bytes;
};

// Encodings the instruction-set documents spell out, and what labels make of them.
TEST(St20Asm, EncodesAsTheDocumentsSpellOut) {
    const Case cases[] = {
        {"ldc 0x987", {0x29, 0x28, 0x47}},
        {"ldc -31", {0x61, 0x41}},
        {"ldc #FFFFFFE1", {0x61, 0x41}},  // the same word read as unsigned
        {"ldc #3", {0x43}},
        {"ldc #35", {0x23, 0x45}},
        {"add", {0xF5}},
        {"ladd", {0x21, 0xF6}},
        {"and", {0x24, 0xF6}},
        {"devss", {0x2F, 0xF3}},
        {"ret", {0x22, 0xF0}},
        {"nop", {0x63, 0xF0}},
        {"ldprodid", {0x68, 0xFC}},
        {"ldc 0x80000000", {0x28, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x40}},
        {"ajw -4", {0x60, 0xBC}},
        {"ldc 0", {0x40}},
        // j/cj/call to a label: relative to the address after the whole instruction.
        {"top: j top", {0x60, 0x0E}},
        {"cj next\nnext:", {0xA0}},
        {"call far\n.space 20\nfar:", {0x21, 0x94, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"j 3", {0x03}},
        // labels and names in operands and data
        {".equ size, end - start\nstart: ldc size\n.byte 1, -1\nend:", {0x43, 0x01, 0xFF}},
        {".word here\nhere: .align 8\n", {0x04, 0, 0, 0, 0, 0, 0, 0}},
        {"# a comment\n  ldl 1 ; another\n.align 4", {0x71, 0, 0, 0}},
    };
    for (const Case& c : cases) EXPECT_EQ(Image(c.source), c.bytes) << c.source;
}

// A forward jump over code whose own size depends on the jump's: the layout must settle
// on the shortest chain that still reaches.
TEST(St20Asm, ForwardReferencesSettleOnTheShortestChains) {
    std::string source = "j done\n";
    for (int i = 0; i < 15; ++i) source += "add\n";
    source += "cj done\ndone: ldc done\n";
    const Bytes image = Image(source);
    ASSERT_EQ(image.size(), 2u + 15 + 1 + 2);
    EXPECT_EQ(image[0], 0x21);  // 16 bytes on: one prefix
    EXPECT_EQ(image[1], 0x00);
    EXPECT_EQ(image[17], 0xA0);
    EXPECT_EQ(image[18], 0x21);  // ldc 18
    EXPECT_EQ(image[19], 0x42);

    const Assembly based = Assemble("here: ldc here", 0x80000140);
    EXPECT_EQ(based.image, (Bytes{0x28, 0x20, 0x20, 0x20, 0x20, 0x21, 0x24, 0x40}));
}

TEST(St20Asm, RefusesWhatItCannotAssemble) {
    for (const char* source : {"ldc missing", "bogus", "add 1", "ldc", "x:\nx:", ".byte 256", "j a + b\na:\nb:",
                               ".equ a, a\nldc a", "ldc 1/0", ".align 0", "ldc 0x100000000"}) {
        const Assembly a = Assemble(source);
        EXPECT_FALSE(a.errors.empty()) << source;
        EXPECT_TRUE(a.image.empty()) << source;
    }
    EXPECT_EQ(Assemble("add\n\nbogus").errors.at(0).line, 3);
}

// An included file's names serve the including source; a missing file, a bad name or
// an error inside one is reported at the .include line.
TEST(St20Asm, IncludesFilesTheReaderFinds) {
    const IncludeReader reader = [](const std::string& name) -> std::optional<std::string> {
        if (name == "values.inc") return std::string(".equ SEVEN, 7\n.include \"more.inc\"\n");
        if (name == "more.inc") return std::string(".equ EIGHT, 8\n");
        if (name == "broken.inc") return std::string("ldc 1\nbogus\n");
        return std::nullopt;
    };
    const Assembly a = Assemble("ldc SEVEN\n.include \"values.inc\"\nldc EIGHT", 0, reader);
    EXPECT_TRUE(a.errors.empty());
    EXPECT_EQ(a.image, (Bytes{0x47, 0x48}));
    for (const char* source : {".include \"absent.inc\"", ".include values.inc", "\n.include \"broken.inc\""}) {
        const Assembly bad = Assemble(source, 0, reader);
        ASSERT_FALSE(bad.errors.empty()) << source;
        EXPECT_EQ(bad.errors[0].line, source[0] == '\n' ? 2 : 1) << source;
    }
    EXPECT_FALSE(Assemble(".include \"values.inc\"").errors.empty()) << "no reader, no file";
}

// The host's copy of the mailbox agrees with the values the trap programs assemble.
TEST(St20Asm, TheHostsMailboxAgreesWithTheSharedInclude) {
    std::ifstream file(std::string(ORBVEX_SOURCE_DIR) + "/trap/mailbox.inc");
    std::stringstream text;
    text << file.rdbuf();
    ASSERT_FALSE(text.str().empty());
    const struct {
        const char* name;
        std::uint32_t host;
    } values[] = {
        {"MB_COMMAND", mailbox::kCommand},
        {"MB_FLASH_ADDRESS", mailbox::kFlashAddress},
        {"MB_BUFFER_ADDRESS", mailbox::kBufferAddress},
        {"MB_BUFFER_ADDRESS", mailbox::kChecksumResult},
        {"MB_BYTE_COUNT", mailbox::kByteCount},
        {"MB_FLASH_BASE", mailbox::kFlashBase},
        {"MB_SIGNATURE", mailbox::kSignature},
        {"MB_SIGNATURE_INFO", mailbox::kSignatureInfo},
        {"MB_DATA_BUFFER", mailbox::kDataBuffer},
        {"MB_DATA_BUFFER_SIZE", mailbox::kDataBufferSize},
        {"CMD_PROGRAM", mailbox::kProgramCommand},
        {"CMD_ERASE", mailbox::kEraseCommand},
        {"CMD_IDENTIFY", mailbox::kIdentifyCommand},
        {"CMD_CHECKSUM", mailbox::kChecksumCommand},
        {"CMD_PROGRAM_SUMMED", mailbox::kProgramSummedCommand},
        {"CMD_ERASE_SECTORS", mailbox::kEraseSectorsCommand},
        {"CMD_BLANK_PAGES", mailbox::kBlankPagesCommand},
        {"DONE_BIT", mailbox::kDoneBit},
        {"FAILURE_BIT", mailbox::kFailureBit},
        {"FAILURE_OFFSET_SHIFT", mailbox::kFailureOffsetShift},
        {"FAILURE_REASON_SHIFT", mailbox::kFailureReasonShift},
        {"REASON_NOT_IDENTIFIED", mailbox::kChipNotIdentified},
        {"REASON_ERASE_FAILED", mailbox::kEraseFailed},
        {"REASON_PROGRAM_FAILED", mailbox::kProgramFailed},
        {"REASON_TIME_OUT", mailbox::kTimeOut},
        {"REASON_OUTSIDE_CHIP", mailbox::kOutsideChip},
        {"REASON_NOT_A_COMMAND", mailbox::kNotACommand},
        {"SIG_MAGIC", mailbox::kSignatureMagic},
        {"SIG_SALT", mailbox::kSignatureSalt},
        {"CAN_IDENTIFY", mailbox::kCanIdentify},
        {"CAN_CHECKSUM", mailbox::kCanChecksum},
        {"CAN_ERASE_SECTORS", mailbox::kCanEraseSectors},
        {"CAN_PROGRAM_SUMMED", mailbox::kCanProgramSummed},
        {"CAN_FIND_BLANK_PAGES", mailbox::kCanFindBlankPages},
        {"BLANK_PAGE_SIZE", mailbox::kBlankPageSize},
    };
    std::string source = ".include \"mailbox.inc\"\n";
    for (const auto& v : values) source += std::string(".word ") + v.name + "\n";
    const Assembly a = Assemble(source, 0, [&text](const std::string&) { return std::optional<std::string>(text.str()); });
    ASSERT_TRUE(a.errors.empty()) << a.errors[0].message;
    ASSERT_EQ(a.image.size(), 4 * std::size(values));
    for (std::size_t i = 0; i < std::size(values); ++i) {
        const std::uint8_t* w = a.image.data() + 4 * i;
        EXPECT_EQ(std::uint32_t(w[0] | w[1] << 8 | w[2] << 16 | std::uint32_t(w[3]) << 24), values[i].host) << values[i].name;
    }
}

}  // namespace
}  // namespace orbvex::st20asm

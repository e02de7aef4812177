// Loading, starting and calling the trap program, against the scripted DCU.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "dcu_responder.h"
#include "link/trap.h"
#include "port/program_dir.h"

using linktest::Ack;
using linktest::DcuResponder;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

constexpr std::uint32_t kLoad = 0x80000140;
constexpr std::uint32_t kWptrWord = 0x80000048;
constexpr std::uint32_t kIptrWord = 0x8000004C;

namespace fs = std::filesystem;

class Trap : public ::testing::Test {
protected:
    void SetUp() override {
        linktest::ResetLink(&dcu, &log);
        JtagSelected = true;
        TrapSize = TrapWptr = TrapIptr = 0;
        dir = fs::path(::testing::TempDir()) /
              ("orbvex_trap_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        orbvex::SetProgramDirectory(dir.string());
    }
    void TearDown() override {
        orbvex::SetProgramDirectory("");
        linktest::DetachLink();
        fs::remove_all(dir);
    }

    std::vector<std::uint8_t> WriteTrapFile(std::size_t size, const std::string& name = "trap.bin") {
        std::vector<std::uint8_t> bytes(size);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + 7);
        std::ofstream(dir / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
        return bytes;
    }

    void ExpectInTarget(const std::vector<std::uint8_t>& bytes, std::uint32_t at) {
        for (std::size_t i = 0; i < bytes.size(); ++i)
            ASSERT_EQ(dcu.Byte(at + static_cast<std::uint32_t>(i)), bytes[i]) << "byte " << i;
    }

    DcuResponder dcu;
    linktest::RecordingLog log;
    fs::path dir;
};

// ---- LoadTrapFile ----------------------------------------------------------------

TEST_F(Trap, FileGoesOutIn252BytePiecesAtConsecutiveAddresses) {
    const auto bytes = WriteTrapFile(600);
    EXPECT_TRUE(LoadTrapFile(kLoad, "trap.bin"));
    EXPECT_EQ(TrapSize, 600u);
    ASSERT_EQ(dcu.messages.size(), 3u);
    EXPECT_EQ(dcu.messages[0].address, kLoad);
    EXPECT_EQ(dcu.messages[1].address, kLoad + 252);
    EXPECT_EQ(dcu.messages[2].address, kLoad + 504);
    EXPECT_EQ(dcu.messages[0].dataBytes, 252u);
    EXPECT_EQ(dcu.messages[1].dataBytes, 252u);
    EXPECT_EQ(dcu.messages[2].dataBytes, 96u);
    EXPECT_EQ(dcu.messages[2].command, 96);
    ExpectInTarget(bytes, kLoad);
    EXPECT_THAT(log.lines, ElementsAre("Load Trap : LEN Ok"));
}

TEST_F(Trap, OddSizedFileArrivesWholeAndWorkspaceFollowsItsLastWholeWord) {
    const auto bytes = WriteTrapFile(1001);
    dcu.SetWord(kLoad + 1004, 0xA5A5A5A5);  // beyond the padded end: must stay untouched
    EXPECT_TRUE(LoadTrapFile(kLoad, "trap.bin"));
    ASSERT_EQ(dcu.messages.size(), 4u);
    // The last piece (245 bytes) goes out padded to 248, all of them announced.
    EXPECT_EQ(dcu.messages[3].command, 248);
    EXPECT_EQ(dcu.messages[3].dataBytes, 248u);
    ExpectInTarget(bytes, kLoad);
    for (std::uint32_t pad = 1001; pad < 1004; ++pad) EXPECT_EQ(dcu.Byte(kLoad + pad), 0) << pad;
    EXPECT_EQ(dcu.Word(kLoad + 1004), 0xA5A5A5A5u);

    EXPECT_TRUE(StartTrap(kLoad));
    EXPECT_EQ(TrapWptr, 0x80000530u);
    EXPECT_EQ(TrapIptr, kLoad);
    EXPECT_GT(TrapWptr, kLoad + 1003) << "padding stays below the mailbox";
}

TEST_F(Trap, SmallOddFileStillArrives) {
    const auto bytes = WriteTrapFile(3);
    EXPECT_TRUE(LoadTrapFile(kLoad, "trap.bin"));
    ASSERT_EQ(dcu.messages.size(), 1u);
    EXPECT_EQ(dcu.messages[0].command, 4);
    ExpectInTarget(bytes, kLoad);
}

TEST_F(Trap, EmptyFileWritesNothingAndSucceeds) {
    WriteTrapFile(0);
    EXPECT_TRUE(LoadTrapFile(kLoad, "trap.bin"));
    EXPECT_EQ(dcu.clockCount, 0u);
    EXPECT_EQ(TrapSize, 0u);
    EXPECT_THAT(log.lines, ElementsAre("Load Trap : LEN Ok"));
}

TEST_F(Trap, MissingFileIsLoggedByTheNameAsPassedWithoutDcuTraffic) {
    TrapSize = 1234;
    EXPECT_FALSE(LoadTrapFile(kLoad, "trap.bin"));
    EXPECT_THAT(log.lines, ElementsAre("File trap.bin  fail"));
    EXPECT_EQ(dcu.clockCount, 0u);
    EXPECT_EQ(TrapSize, 1234u) << "keeps the size of the file last opened";

    fs::create_directories(dir / "trap.bin");
    EXPECT_FALSE(LoadTrapFile(kLoad, "trap.bin")) << "a folder is no trap file";
    EXPECT_EQ(dcu.clockCount, 0u);
}

TEST_F(Trap, PlainNameIsFoundInTheProgramFolderAndAbsolutePathAsItIs) {
    const fs::path elsewhere = dir / "sub";
    fs::create_directories(elsewhere);
    std::ofstream(elsewhere / "other.img", std::ios::binary).write("ABCDEFGH", 8);
    const std::string absolute = (elsewhere / "other.img").string();
    EXPECT_TRUE(LoadTrapFile(kLoad, absolute));
    EXPECT_EQ(TrapSize, 8u);
    EXPECT_EQ(dcu.Byte(kLoad + 7), 'H');

    EXPECT_FALSE(LoadTrapFile(kLoad, "other.img")) << "not in the program folder";
    EXPECT_EQ(log.lines.back(), "File other.img  fail");
    const std::string missingAbsolute = (elsewhere / "none.bin").string();
    EXPECT_FALSE(LoadTrapFile(kLoad, missingAbsolute));
    EXPECT_EQ(log.lines.back(), "File " + missingAbsolute + "  fail");
}

TEST_F(Trap, FailedPieceStopsTheLoad) {
    WriteTrapFile(600);
    // Refuse the first data byte of the second piece: 5 request bytes + 252 data + 5.
    dcu.ackFor = [](std::size_t i) { return i == 257 + 5 ? Ack::None : Ack::Early; };
    EXPECT_FALSE(LoadTrapFile(kLoad, "trap.bin"));
    EXPECT_EQ(dcu.messages.size(), 2u);
    EXPECT_THAT(log.lines, ElementsAre("Load Trap : LEN Fail"));
    EXPECT_EQ(TrapSize, 600u);
}

// ---- StartTrap -----------------------------------------------------------------------

TEST_F(Trap, StartPointsTheTrapWordsAtTheImageAndLogsThem) {
    TrapSize = 600;
    dcu.SetWord(kWptrWord, 0x11111111);
    dcu.SetWord(kIptrWord, 0x22222222);
    EXPECT_TRUE(StartTrap(kLoad));
    EXPECT_EQ(dcu.Word(kIptrWord), kLoad);
    EXPECT_EQ(dcu.Word(kWptrWord), kLoad + 600 + 8);
    EXPECT_THAT(log.lines, ElementsAre("Trap_Wptr 800003A0", "Trap_Iptr 80000140"));
}

TEST_F(Trap, StartLogsBothWordsEvenWhenItFails) {
    TrapSize = 600;
    TrapIptr = 0x0BADF00D;
    dcu.answersRead = [](std::uint32_t address) { return address != kWptrWord; };
    EXPECT_FALSE(StartTrap(kLoad));
    EXPECT_THAT(log.lines, ElementsAre("Trap_Wptr 00000000", "Trap_Iptr 0BADF00D"));
    EXPECT_EQ(dcu.messages.size(), 1u) << "stops at the first failing access";
}

// ---- TrapCall -------------------------------------------------------------------------

class TrapCallTest : public Trap {
protected:
    static constexpr std::uint32_t kMailbox = 0x80000530;

    // The trap program sets the done bit when the command word has been read `after` times.
    void DoneAfterReads(std::size_t after) {
        dcu.answersRead = [this, after](std::uint32_t address) {
            if (address == kMailbox && ++reads >= after) dcu.SetWord(kMailbox, dcu.Word(kMailbox) | 1);
            return true;
        };
    }

    std::size_t reads = 0;
};

TEST_F(TrapCallTest, WritesFlashBaseThenEraseCommandAndIsDoneOnTheFirstRead) {
    TrapWptr = kMailbox;
    DoneAfterReads(1);
    EXPECT_TRUE(TrapCall(0x7FF00000));
    EXPECT_EQ(dcu.Word(kMailbox + 16), 0x7FF00000u);
    ASSERT_EQ(dcu.messages.size(), 3u);
    EXPECT_EQ(dcu.messages[0].address, kMailbox + 16);
    EXPECT_EQ(dcu.messages[1].address, kMailbox);
    EXPECT_EQ(reads, 1u);
    EXPECT_EQ(dcu.Word(kMailbox) & ~1u, 0x400u);
}

TEST_F(TrapCallTest, GivesUpAfterAThousandPollsWithoutTheDoneBit) {
    TrapWptr = kMailbox;
    DoneAfterReads(1000);
    EXPECT_TRUE(TrapCall(0x7FE00000)) << "done on the 1000th read";

    reads = 0;
    dcu.messages.clear();
    DoneAfterReads(1001);
    EXPECT_FALSE(TrapCall(0x7FE00000)) << "the 1001st read does not count";
    EXPECT_EQ(dcu.ReadsAt(kMailbox), 1001u);
}

TEST_F(TrapCallTest, UnreadableCommandWordFailsTheCall) {
    TrapWptr = kMailbox;
    dcu.answersRead = [](std::uint32_t) { return false; };
    EXPECT_FALSE(TrapCall(0x7FF00000));
    EXPECT_EQ(dcu.ReadsAt(kMailbox), 1u);
}

TEST_F(TrapCallTest, RefusedMailboxWriteFailsWithoutPolling) {
    TrapWptr = kMailbox;
    dcu.ackFor = [](std::size_t i) { return i == 9 + 4 ? Ack::None : Ack::Early; };  // 2nd message's address
    EXPECT_FALSE(TrapCall(0x7FF00000));
    EXPECT_EQ(dcu.ReadsAt(kMailbox), 0u);
}

TEST_F(TrapCallTest, NeverWritesToAMailboxAtAddressZero) {
    TrapWptr = 0;
    EXPECT_FALSE(TrapCall(0x7FF00000));
    EXPECT_EQ(dcu.clockCount, 0u);
}

// ---- WriteWordLogged -----------------------------------------------------------------

TEST_F(Trap, LoggedWriteReportsOnlyItsFailure) {
    WriteWordLogged(0x3004, 0x20000000);
    EXPECT_THAT(log.lines, IsEmpty());
    EXPECT_EQ(dcu.Word(0x3004), 0x20000000u);

    dcu.ack = Ack::None;
    WriteWordLogged(0x3004, 0x20000000);
    EXPECT_THAT(log.lines, ElementsAre("FAIL WRITE ADR[00003004]=20000000"));
}

}  // namespace

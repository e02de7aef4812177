// SPDX-License-Identifier: GPL-2.0-or-later
// Loading, starting and calling the trap program, against the scripted DCU.
#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>

#include "link/trap.h"
#include "port/program_dir.h"
#include "test_cable.h"

namespace {

using linktest::Ack;
using ::testing::ElementsAre;

constexpr std::uint32_t kLoad = 0x80000140;
constexpr std::uint32_t kWptrWord = 0x80000048;
constexpr std::uint32_t kIptrWord = 0x8000004C;
constexpr std::uint32_t kMailbox = 0x80000530;

namespace fs = std::filesystem;

class Trap : public linktest::LinkTest<linktest::DcuResponder> {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        JtagSelected = true;
        TrapSize = TrapIptr = 0;
        TrapWptr = kMailbox;
        dir = fs::path(::testing::TempDir()) /
              ("orbvex_trap_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        orbvex::SetProgramDirectory(dir.string());
    }
    void TearDown() override {
        orbvex::SetProgramDirectory("");
        LinkTest::TearDown();
        fs::remove_all(dir);
    }

    std::vector<std::uint8_t> WriteTrapFile(std::size_t size) {
        std::vector<std::uint8_t> bytes(size);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + 7);
        std::ofstream(dir / "trap.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
        return bytes;
    }

    // The trap program sets the done bit when the command word has been read `after` times.
    void DoneAfterReads(std::size_t after) {
        reads = 0;
        dcu.answersRead = [this, after](std::uint32_t address) {
            if (address == kMailbox && ++reads >= after) dcu.SetWord(kMailbox, dcu.Word(kMailbox) | 1);
            return true;
        };
    }

    linktest::DcuResponder& dcu = target;
    fs::path dir;
    std::size_t reads = 0;
};

TEST_F(Trap, FileGoesOutWholeIn252BytePiecesTheLastPaddedToAWholeWord) {
    const struct {
        std::size_t size;
        std::vector<int> pieces;
    } cases[] = {
        {0, {}}, {3, {4}}, {600, {252, 252, 96}}, {1001, {252, 252, 252, 248}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        dcu.memory.clear();
        dcu.messages.clear();
        log.lines.clear();
        const auto bytes = WriteTrapFile(c.size);
        const std::uint32_t padded = (c.size + 3) & ~3u;
        dcu.SetWord(kLoad + padded, 0xA5A5A5A5);  // beyond the padded end: must stay untouched

        EXPECT_TRUE(LoadTrapFile(kLoad, "trap.bin"));
        EXPECT_EQ(TrapSize, c.size);
        ASSERT_EQ(dcu.messages.size(), c.pieces.size());
        for (std::size_t i = 0; i < c.pieces.size(); ++i) {
            EXPECT_EQ(dcu.messages[i].address, kLoad + 252 * i);
            EXPECT_EQ(dcu.messages[i].command, c.pieces[i]);
            EXPECT_EQ(dcu.messages[i].dataBytes, static_cast<std::size_t>(c.pieces[i]));
        }
        for (std::size_t i = 0; i < padded; ++i)
            ASSERT_EQ(dcu.Byte(kLoad + i), i < c.size ? bytes[i] : 0) << "byte " << i;
        EXPECT_EQ(dcu.Word(kLoad + padded), 0xA5A5A5A5u);
        EXPECT_THAT(log.lines, ElementsAre("Load Trap : LEN Ok"));
    }
}

TEST_F(Trap, PlainNameIsLookedUpInTheProgramFolderAndAFailureLoggedByTheNameAsPassed) {
    TrapSize = 1234;
    EXPECT_FALSE(LoadTrapFile(kLoad, "trap.bin"));
    EXPECT_EQ(TrapSize, 1234u) << "keeps the size of the file last opened";
    fs::create_directories(dir / "trap.bin");
    EXPECT_FALSE(LoadTrapFile(kLoad, "trap.bin")) << "a folder is no trap file";
    EXPECT_EQ(dcu.clockCount, 0u) << "no DCU traffic for a file that did not open";

    const fs::path elsewhere = dir / "sub";
    fs::create_directories(elsewhere);
    std::ofstream(elsewhere / "other.img", std::ios::binary).write("ABCDEFGH", 8);
    EXPECT_TRUE(LoadTrapFile(kLoad, (elsewhere / "other.img").string()));
    EXPECT_EQ(dcu.Byte(kLoad + 7), 'H');
    EXPECT_FALSE(LoadTrapFile(kLoad, "other.img")) << "not in the program folder";
    const std::string missingAbsolute = (elsewhere / "none.bin").string();
    EXPECT_FALSE(LoadTrapFile(kLoad, missingAbsolute));
    EXPECT_THAT(log.lines, ElementsAre("File trap.bin  fail", "File trap.bin  fail", "Load Trap : LEN Ok",
                                       "File other.img  fail", "File " + missingAbsolute + "  fail"));
}

TEST_F(Trap, PlainNameIsLookedForInTheInstalledDataFolderUnlessItLiesBesideTheProgram) {
    fs::create_directories(dir / "bin");
    orbvex::SetProgramDirectory((dir / "bin").string());
    for (const auto& [folder, mark] : {std::pair{dir / "share/orbvex_up", 'D'}, {dir / "bin", 'B'}}) {
        fs::create_directories(folder);
        std::ofstream(folder / "trap.bin", std::ios::binary) << std::string(4, mark);
        EXPECT_TRUE(LoadTrapFile(kLoad, "trap.bin"));
        EXPECT_EQ(dcu.Byte(kLoad), mark) << folder;
    }
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

TEST_F(Trap, StartPointsTheTrapWordsAtTheImageWithTheWorkspaceAfterItsLastWholeWord) {
    TrapSize = 1001;
    dcu.SetWord(kWptrWord, 0x11111111);
    dcu.SetWord(kIptrWord, 0x22222222);
    EXPECT_TRUE(StartTrap(kLoad));
    EXPECT_EQ(dcu.Word(kIptrWord), kLoad);
    EXPECT_EQ(dcu.Word(kWptrWord), kLoad + 1000 + 8);
    EXPECT_THAT(log.lines, ElementsAre("Trap_Wptr 80000530", "Trap_Iptr 80000140"));
}

TEST_F(Trap, StartLogsBothWordsEvenWhenItFails) {
    TrapSize = 600;
    TrapIptr = 0x0BADF00D;
    dcu.answersRead = [](std::uint32_t address) { return address != kWptrWord; };
    EXPECT_FALSE(StartTrap(kLoad));
    EXPECT_THAT(log.lines, ElementsAre("Trap_Wptr 00000000", "Trap_Iptr 0BADF00D"));
    EXPECT_EQ(dcu.messages.size(), 1u) << "stops at the first failing access";
}

TEST_F(Trap, CallWritesFlashBaseThenEraseCommandAndPolls) {
    DoneAfterReads(1);
    EXPECT_TRUE(TrapCall(0x7FF00000));
    ASSERT_EQ(dcu.messages.size(), 3u);
    EXPECT_EQ(dcu.messages[0].address, kMailbox + 16);
    EXPECT_EQ(dcu.Word(kMailbox + 16), 0x7FF00000u);
    EXPECT_EQ(dcu.messages[1].address, kMailbox);
    EXPECT_EQ(dcu.Word(kMailbox) & ~1u, 0x400u);
    EXPECT_EQ(reads, 1u);
}

TEST_F(Trap, CallGivesUpAfterAThousandPollsWithoutTheDoneBit) {
    for (const auto& [doneAfter, ok] : {std::pair{1000u, true}, std::pair{1001u, false}}) {
        dcu.messages.clear();
        DoneAfterReads(doneAfter);
        EXPECT_EQ(TrapCall(0x7FE00000), ok) << doneAfter;
        EXPECT_EQ(dcu.ReadsAt(kMailbox), doneAfter);
    }
}

TEST_F(Trap, CallFailsWithoutPollingOnAnyFailedStepOrWithoutAMailbox) {
    dcu.answersRead = [](std::uint32_t) { return false; };
    EXPECT_FALSE(TrapCall(0x7FF00000)) << "unreadable command word";
    EXPECT_EQ(dcu.ReadsAt(kMailbox), 1u);

    dcu.messages.clear();
    dcu.hostBytes.clear();
    dcu.ackFor = [](std::size_t i) { return i == 9 + 4 ? Ack::None : Ack::Early; };  // 2nd message's address
    EXPECT_FALSE(TrapCall(0x7FF00000)) << "refused mailbox write";
    EXPECT_EQ(dcu.ReadsAt(kMailbox), 0u);

    dcu.Forget();
    TrapWptr = 0;
    EXPECT_FALSE(TrapCall(0x7FF00000)) << "a mailbox at address 0 is never written";
    EXPECT_EQ(dcu.clockCount, 0u);
}

TEST_F(Trap, LoggedWriteReportsOnlyItsFailure) {
    WriteWordLogged(0x3004, 0x20000000);
    EXPECT_EQ(dcu.Word(0x3004), 0x20000000u);
    dcu.ack = Ack::None;
    WriteWordLogged(0x80000100, 0x00ABCDEF);
    EXPECT_THAT(log.lines, ElementsAre("FAIL WRITE ADR[80000100]=00ABCDEF"));
}

}  // namespace

namespace {

// Every command waits for its own word with the done bit: 0x101, a program's answer, is
// no answer to an erase, and a failure counts only when two reads show it.
TEST_F(Trap, EachCommandTakesOnlyItsOwnAnswer) {
    const auto answerWith = [this](std::uint32_t word, std::size_t after) {
        reads = 0;
        dcu.answersRead = [this, word, after](std::uint32_t address) {
            if (address == kMailbox && ++reads >= after) dcu.SetWord(kMailbox, word);
            return true;
        };
    };
    answerWith(0x101, 1);
    EXPECT_FALSE(TrapCall(0x7FF00000));
    EXPECT_EQ(dcu.ReadsAt(kMailbox), 1001u);

    std::uint32_t crc = 0;
    answerWith(0x401, 1);
    ASSERT_TRUE(orbvex::StartTrapChecksum(0x7FF00000, 0x7FF00000, 16));
    EXPECT_EQ(orbvex::FinishTrapChecksum(16, crc).failure, "no answer from the trap program (command word 00000401)");

    answerWith(0x00040002, 3);  // a time-out, shown from the third read on
    ASSERT_TRUE(orbvex::StartTrapChecksum(0x7FF00000, 0x7FF00000, 16));
    const orbvex::TrapAnswer failed = orbvex::FinishTrapChecksum(16, crc);
    EXPECT_EQ(failed.failure, "time-out");
    EXPECT_EQ(reads, 4u);

    answerWith(0x1001, 2);
    dcu.SetWord(kMailbox + 8, 0xCAFEF00D);
    ASSERT_TRUE(orbvex::StartTrapChecksum(0x7FF00000, 0x7FF00000, 16));
    EXPECT_TRUE(orbvex::FinishTrapChecksum(16, crc).ok);
    EXPECT_EQ(crc, 0xCAFEF00Du);
}

}  // namespace

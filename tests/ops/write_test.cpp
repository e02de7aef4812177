// SPDX-License-Identifier: GPL-2.0-or-later
#include "link/test_cable.h"
#include "ops/receiver_fixture.h"

namespace orbvex::test {
namespace {

class WriteTest : public ReceiverTest {
protected:
    // A connected receiver and a ROM file of the given bytes chosen in the dialog.
    void Prepare(const std::vector<std::uint8_t>& rom) {
        Connect();
        ChooseRom(rom);
        receiver.RecordMessages(true);
    }

    // (offset in the data buffer, bytes) of every block write into it.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> DataBufferBlocks() const {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> blocks;
        std::uint32_t buffer = Mailbox() + 0x1C;
        for (const auto& m : Writes())
            if (m.address >= buffer && m.address < buffer + 4096) blocks.emplace_back(m.address - buffer, m.dataBytes);
        return blocks;
    }

    long CommandWordReads() const {
        return std::count_if(receiver.Messages().begin(), receiver.Messages().end(), [this](const auto& m) {
            return m.kind == sim::DcuMessageRecord::Kind::Read && m.address == Mailbox();
        });
    }

    bool FlashStartsWith(const std::vector<std::uint8_t>& rom, std::uint8_t rest) const {
        const auto& flash = receiver.Flash();
        for (std::size_t i = 0; i < flash.size(); ++i)
            if (flash[i] != (i < rom.size() ? rom[i] : rest)) return false;
        return true;
    }

    std::vector<std::string> Log(std::uint32_t length) const {
        return {"Init JTAG", "DCU OK", "Trap_Wptr : " + Hex8(Mailbox()), "File : " + PathIn("image.rom"),
                "Write Flash ADR[7FF00000] LEN[" + Hex8(length) + "] : Please Wait...", "Write Flash END",
                kSeparatorLine};
    }
};

// A write from an offset erases the sectors it covers and no others: every byte outside
// them is as it was. One off the sector boundaries is refused, with
// the boundaries around it named, before anything is erased.
TEST_F(WriteTest, FromAnOffsetKeepsEveryByteOutsideItsSectors) {
    const auto before = RandomBytes(0x100000, 8);
    const auto rom = RandomBytes(0x4000, 9);  // the two 8K sectors of the bottom boot block
    receiver.SetFlash(before);
    Prepare(rom);
    const auto writeAt = [&](std::uint32_t offset) {
        return RunWrite(link->Link(), window, {kLpt1Base, window.Chooser(window.openChoice), true, offset});
    };
    EXPECT_FALSE(writeAt(0x5000));
    EXPECT_EQ(window.FromEnd(2),
              "Write refused: ADR[7FF05000]:LEN[00004000] does not start and end on sector "
              "boundaries; the sectors around it run from 7FF04000 to 7FF10000: nothing erased");
    EXPECT_EQ(receiver.Flash(), before);
    ASSERT_TRUE(writeAt(0x4000)) << ::testing::PrintToString(window.lines);
    EXPECT_EQ(window.waitNotices.at(0), "erasing 2 sectors from 7FF04000 to 7FF08000 (16 KB)") << "in one command";
    ASSERT_TRUE(RunReadRange(link->Link(), window, {kLpt1Base, 0x7FF04000, 0x4000, PathIn("back.bin")}));
    EXPECT_EQ(ReadFileBytes(PathIn("back.bin")), rom);
    auto expected = before;
    std::copy(rom.begin(), rom.end(), expected.begin() + 0x4000);
    EXPECT_EQ(receiver.Flash(), expected);
    // On a chip that never gets ready the trap's own limit, the chip's longest erase
    // time, ends before the host's bound for the range: the reason is the time-out.
    receiver.Faults().flash.neverReady = true;
    EXPECT_FALSE(writeAt(0x4000));
    EXPECT_EQ(window.FromEnd(2), "Erase of the sectors from 7FF04000 to 7FF08000 failed: time-out");
}

// With the trap program's checksums each chunk is checked as it is written, and a
// clean write needs no read-back; a byte the link turned on its way into the buffer,
// which the program then faithfully programs, fails the write at its chunk.
TEST_F(WriteTest, TrapChecksumsCheckEachChunk) {
    SetTickSource(nullptr);  // the waits are bounded by the chip's times
    const auto rom = RandomBytes(0x2800, 4);
    Prepare(rom);
    const auto write = [&] { return RunWrite(link->Link(), window, {kLpt1Base, window.Chooser(window.openChoice), false, {}, true}); };
    const WriteOutcome written = write();
    ASSERT_TRUE(written) << ::testing::PrintToString(window.lines);
    EXPECT_TRUE(written.checkedByTrap);
    EXPECT_EQ(window.FromEnd(3), "Write checked by the receiver's checksums");
    EXPECT_TRUE(std::equal(rom.begin(), rom.end(), receiver.Flash().begin()));
    receiver.SetFlash(std::vector<std::uint8_t>(0x100000, 0xFF));
    receiver.Faults().turnedWriteAddresses = {Mailbox() + 0x1C + 0x801};
    const WriteOutcome failed = write();
    EXPECT_FALSE(failed.written);
    EXPECT_FALSE(failed.checkedByTrap);
    EXPECT_EQ(window.FromEnd(3),
              "Error writing flash at address 7FF00000: the flash does not hold the file's 00001000 bytes from "
              "there (the receiver's checksum differs); check the cable, erase and write again");
}

// A chunk of 0xFF is not sent: programming it changes no cell. The progress counts it,
// the log says how many were left out, and they are still found blank in the flash, so
// that one left written fails the write at its address.
TEST_F(WriteTest, ChunksOfErasedBytesAreNotSentButChecked) {
    SetTickSource(nullptr);
    auto rom = RandomBytes(0x5000, 12);
    std::fill(rom.begin() + 0x1000, rom.begin() + 0x3000, 0xFF);  // chunks 1 and 2
    Prepare(rom);
    const auto write = [&] {
        window.Forget();
        receiver.ClearMessages();
        return RunWrite(link->Link(), window, {kLpt1Base, window.Chooser(window.openChoice), false, {}, true, true});
    };
    const WriteOutcome written = write();
    ASSERT_TRUE(written) << ::testing::PrintToString(window.lines);
    EXPECT_TRUE(written.checkedByTrap);
    EXPECT_TRUE(FlashStartsWith(rom, 0xFF));
    EXPECT_EQ(DataBufferBlocks().size(), 3u * 17u) << "three chunks of 17 blocks each";
    EXPECT_EQ(window.transfer.back(), Transfer(0x5000, 0x5000));
    EXPECT_THAT(window.lines, ::testing::Contains("Write skipped 2 chunks of 0xFF (programming 0xFF changes no cell), "
                                                  "each found blank in the flash"));
    auto dirty = receiver.Flash();
    dirty[0x2345] = 0x00;
    receiver.SetFlash(dirty);
    EXPECT_FALSE(write());
    EXPECT_THAT(window.lines, ::testing::Contains("Error writing flash at address 7FF02000: the chunk of 0xFF left out "
                                                  "is not blank in the flash; erase and write again"));
}

TEST_F(WriteTest, FiveThousandBytesTravelAsTwoChunks) {
    auto rom = RandomBytes(5000, 1);
    Prepare(rom);
    window.lines = {"earlier"};

    EXPECT_TRUE(Write());

    std::uint32_t mailbox = Mailbox();
    auto log = Log(5000);
    log.insert(log.begin(), "earlier");
    EXPECT_THAT(window.lines, ElementsAreArray(log));
    EXPECT_THAT(window.beeps, ElementsAre(0x40u));
    std::vector<std::pair<std::uint32_t, std::uint32_t>> expected;
    for (std::uint32_t off = 0; off < 4032; off += 252) expected.emplace_back(off, 252);
    expected.emplace_back(4032, 64);
    for (std::uint32_t off = 0; off < 756; off += 252) expected.emplace_back(off, 252);
    expected.emplace_back(756, 148);
    EXPECT_EQ(DataBufferBlocks(), expected);
    EXPECT_EQ(receiver.PeekWord(mailbox + 0x04), 0x7FF01000u);
    EXPECT_EQ(receiver.PeekWord(mailbox + 0x08), mailbox + 0x1C);
    EXPECT_EQ(receiver.PeekWord(mailbox + 0x0C), 904u);
    EXPECT_EQ(receiver.PeekWord(mailbox + 0x10), 0x7FF00000u);
    EXPECT_TRUE(FlashStartsWith(rom, 0xFF));

    EXPECT_THAT(window.labels, ElementsAre("7FF00000", "7FF01000"));
    EXPECT_THAT(window.progressPositions, ElementsAre(0, 0, 40));
    EXPECT_EQ(window.progressMaximum, 10485);
    EXPECT_THAT(window.transfer, ElementsAre(Transfer{0, 5000}, Transfer{4096, 5000}, Transfer{5000, 5000}));
    EXPECT_EQ(window.fileRequests, 1);
}

class OddSizes : public WriteTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(OddSizes, EveryByteOfTheFileLandsAndNothingElse) {
    auto rom = RandomBytes(GetParam(), static_cast<unsigned>(GetParam()));
    Prepare(rom);

    EXPECT_TRUE(Write());

    EXPECT_TRUE(FlashStartsWith(rom, 0xFF));
    std::uint32_t lastChunk = GetParam() % 4096 ? GetParam() % 4096 : 4096;
    EXPECT_EQ(receiver.PeekWord(Mailbox() + 0x0C), lastChunk);  // the exact length, not the padded one
    auto blocks = DataBufferBlocks();
    ASSERT_FALSE(blocks.empty());
    EXPECT_EQ(blocks.back().second % 4, 0u);
}

INSTANTIATE_TEST_SUITE_P(NotMultiplesOfFour, OddSizes, ::testing::Values(1, 2, 3, 5, 253, 4097, 4099, 5001));

TEST_F(WriteTest, EmptyFileSendsNoChunk) {
    Prepare({});
    EXPECT_TRUE(Write());
    EXPECT_THAT(window.lines, ElementsAreArray(Log(0)));
    EXPECT_TRUE(DataBufferBlocks().empty());
    EXPECT_TRUE(window.labels.empty());
}

TEST_F(WriteTest, AbortBeforeTheTransferWritesNothing) {
    Prepare(RandomBytes(9000, 2));
    window.abortAtProcessCall = 1;
    EXPECT_FALSE(Write());
    EXPECT_THAT(window.lines, ElementsAreArray(Log(9000)));
    EXPECT_TRUE(DataBufferBlocks().empty());
    EXPECT_TRUE(FlashStartsWith({}, 0xFF));
}

// Abort pressed while the first chunk is uploaded: its command still goes out, and the
// write stops at the first poll that finds it busy, or before the next chunk. A trap that
// reports done late (or at once) and writes no flash tells the two apart.
TEST_F(WriteTest, AbortDuringAnUploadStopsAfterThatChunksCommand) {
    auto rom = RandomBytes(9000, 3);
    window.trapFile = FaultTrap("done-late");
    for (std::uint32_t delay : {1000000u, 0u}) {
        SCOPED_TRACE(delay);
        window.abortAtProcessCall = 0;
        Prepare(rom);
        receiver.PokeWord(Mailbox() + 0x14, delay);
        window.abortAtProcessCall = 2;  // the processing after the first chunk's upload

        EXPECT_FALSE(Write());

        EXPECT_EQ(window.FromEnd(2), "Write Flash END");
        EXPECT_EQ(receiver.PeekWord(Mailbox() + 0x04), 0x7FF00000u);
        EXPECT_EQ(DataBufferBlocks().size(), 17u);  // the first chunk only
        EXPECT_EQ(CommandWordReads(), 1);
        EXPECT_THAT(window.labels, ElementsAre("7FF00000"));
        EXPECT_TRUE(FlashStartsWith({}, 0xFF));
        receiver.ClearMessages();
    }
}

// The trap program's mailbox played by a script: the command word shows the done bit
// from its n-th read on. A chunk done on the 1000th poll is written; one first seen done
// on the 1001st is too late, and the line shows the word as it was read.
class WritePolls : public ReceiverTest {
protected:
    static constexpr std::uint32_t kMailbox = 0x80000530;
    linktest::DcuResponder dcu;
};

TEST_F(WritePolls, DoneOnTheThousandthPollCountsButNotOnTheLastPoll) {
    link.emplace(*access, &dcu);
    ChooseRom(RandomBytes(100, 9));
    for (const auto& [doneAt, written] : {std::pair{1000u, true}, std::pair{1001u, false}}) {
        SCOPED_TRACE(doneAt);
        window.Forget();
        dcu.memory.clear();
        dcu.messages.clear();
        dcu.SetWord(0x80000048, kMailbox);
        std::uint32_t reads = 0;
        dcu.answersRead = [&, doneAt = doneAt](std::uint32_t address) {
            if (address == kMailbox && ++reads >= doneAt) dcu.SetWord(kMailbox, dcu.Word(kMailbox) | 1);
            return true;
        };
        EXPECT_EQ(Write(), written) << ::testing::PrintToString(window.lines);
        EXPECT_EQ(dcu.ReadsAt(kMailbox), doneAt);
        EXPECT_EQ(dcu.Word(kMailbox + 0x0C), 100u);
        EXPECT_EQ(window.FromEnd(3), written ? "Write Flash ADR[7FF00000] LEN[00000064] : Please Wait..."
                                             : "Error writing flash at address 7FF00000 ACK = 00000101");
    }
}

// A chunk that fails ends the write before the next one is sent.
TEST_F(WriteTest, ChunkThatIsNeverDoneFails) {
    window.trapFile = FaultTrap("never-done");
    Prepare(RandomBytes(9000, 5));
    EXPECT_FALSE(Write());
    std::uint32_t status = receiver.PeekWord(Mailbox());
    EXPECT_EQ(status & 1u, 0u);
    auto log = Log(9000);
    log.insert(log.end() - 2, "Error writing flash at address 7FF00000 ACK = " + Hex8(status));
    EXPECT_THAT(window.lines, ElementsAreArray(log));
    EXPECT_EQ(CommandWordReads(), 1001);
    EXPECT_EQ(DataBufferBlocks().size(), 17u);
    EXPECT_EQ(window.waitNotices.at(0), "the target has not answered yet (write ADR[7FF00000], 10 s, poll 100 of 1000)");
    EXPECT_EQ(window.waitNotices.back(),
              "write at 7FF00000: ACK = 00000100: the trap program was still programming the chunk when the host "
              "stopped waiting, after 1000 polls; the chip may never have finished");
}

// The project's trap program on a faulty chip: never a success. The window waits its
// 1000 polls out and shows the trap program's answer after " ACK = "; the command line
// stops at the first read that shows it and names the reason. (A chip that never gets
// ready stays busy: it comes last.)
class TrapFailures : public WriteTest, public ::testing::WithParamInterface<bool> {};

TEST_P(TrapFailures, AreNamedOnTheCommandLineAndShownAfterAckInTheWindow) {
    const bool commandLine = GetParam();
    const struct {
        sim::FlashFaults fault;
        std::uint32_t chunk, answer;
        const char* reason;
    } cases[] = {
        {{sim::StuckBit{0x1235, 3}, false, false}, 0x7FF01000, 0x00032342, "program failed at 7FF01234"},
        {{std::nullopt, false, true}, 0x7FF00000, 0x00010002, "chip not identified"},
        {{std::nullopt, true, false}, 0x7FF00000, 0x00040002, "time-out at 7FF00000"},
    };
    auto rom = RandomBytes(9000, 8);
    rom[0x1235] = 0x00;
    window.stopAtTrapFailure = commandLine;
    for (const auto& c : cases) {
        receiver.SetFlash({});
        receiver.Faults().flash = {};
        Prepare(rom);
        receiver.Faults().flash = c.fault;
        receiver.ClearMessages();
        EXPECT_FALSE(Write()) << c.reason;
        EXPECT_EQ(receiver.PeekWord(Mailbox()), c.answer) << c.reason;
        EXPECT_EQ(window.FromEnd(3), "Error writing flash at address " + Hex8(c.chunk) +
                                         (commandLine ? std::string(": ") + c.reason : " ACK = " + Hex8(c.answer)));
        EXPECT_EQ(CommandWordReads() < 1000, commandLine) << c.reason;
        window.Forget();
    }
}

INSTANTIATE_TEST_SUITE_P(WindowAndCommandLine, TrapFailures, ::testing::Bool());

TEST_F(WriteTest, UnreadableCommandWordFailsTheChunk) {
    Prepare(RandomBytes(9000, 6));
    receiver.Faults().refusedReadRanges = {{Mailbox(), Mailbox() + 3}};
    EXPECT_FALSE(Write());
    EXPECT_EQ(window.FromEnd(3), "Error writing flash at address 7FF00000 ACK = 00000000");
    EXPECT_EQ(DataBufferBlocks().size(), 17u);
}

// A failed upload, or a mailbox word that does not arrive, stops the chunk before its
// command word is written: a half-written command is never started.
TEST_F(WriteTest, FailedUploadOrMailboxWordSendsNoProgramCommand) {
    for (std::uint32_t refused : {0x1Cu, 0x04u, 0x10u}) {
        SCOPED_TRACE(refused);
        window.Forget();
        Prepare(RandomBytes(5000, 7));
        const std::uint32_t mailbox = Mailbox();
        receiver.Faults().refusedWriteAddresses = {mailbox + refused};
        EXPECT_FALSE(Write());
        EXPECT_EQ(window.FromEnd(3), refused == 0x1C ? "Load Data RAM Fail"
                                                     : "Error writing flash at address 7FF00000: mailbox word " +
                                                           Hex8(mailbox + refused) + " could not be written");
        EXPECT_EQ(window.FromEnd(2), "Write Flash END");
        for (const auto& m : Writes()) EXPECT_NE(m.address, mailbox);
        EXPECT_TRUE(FlashStartsWith({}, 0xFF));
        receiver.Faults().refusedWriteAddresses.clear();
        receiver.ClearMessages();
    }
}

// The whole file is read before anything is sent.
TEST_F(WriteTest, RomFileThatCannotBeUsedProgramsNothing) {
    Connect();
    receiver.RecordMessages(true);
    WriteFileBytes(PathIn("large.rom"), std::vector<std::uint8_t>(0x100001, 0));
    std::filesystem::create_directory(PathIn("folder.rom"));
    const std::pair<std::string, std::string> cases[] = {
        {"absent.rom", "Cannot open the ROM file: nothing written"},
        {"folder.rom", "Cannot open the ROM file: nothing written"},
        {"large.rom", "ROM file too large: LEN[00100001] but flash LEN[00100000]: nothing written"}};
    for (const auto& [name, line] : cases) {
        window.Forget();
        window.openChoice = PathIn(name);
        EXPECT_FALSE(Write());
        EXPECT_THAT(window.lines, ElementsAre("Init JTAG", "DCU OK", "Trap_Wptr : " + Hex8(Mailbox()),
                                              "File : " + PathIn(name), line, kSeparatorLine));
    }
    EXPECT_TRUE(Writes().empty());
}

TEST_F(WriteTest, CancelledDialogLeavesTheFlashAlone) {
    Connect();
    receiver.RecordMessages(true);
    EXPECT_FALSE(Write());
    EXPECT_THAT(window.lines, ElementsAre("Init JTAG", "DCU OK", "Trap_Wptr : " + Hex8(Mailbox()), kSeparatorLine));
    EXPECT_THAT(window.beeps, ElementsAre(0x40u));
    EXPECT_TRUE(Writes().empty());
}

}  // namespace
}  // namespace orbvex::test

namespace orbvex::test {
namespace {

class UpdateTest : public WriteTest {
protected:
    bool Update(std::uint32_t offset = 0) {
        window.Forget();
        return RunUpdate(link->Link(), window, {kLpt1Base, PathIn("image.rom"), kFlash1M, offset, true});
    }
};

// update erases and writes only the sectors whose checksums differ from the file's, says
// how many already held it, finishes a sector a cut-off run left erased, refuses a range
// off the sector boundaries and a trap that cannot checksum, and on a noisy link ends in
// success only with the file's exact bytes.
TEST_F(UpdateTest, TouchesOnlyTheSectorsThatDiffer) {
    SetTickSource(nullptr);
    const auto file = RandomBytes(0x20000, 21);  // sectors of 16, 8, 8, 32 and 64 KB
    auto flash = RandomBytes(0x100000, 22);
    std::copy(file.begin(), file.end(), flash.begin());
    flash[0x5123] ^= 0x40;
    receiver.SetFlash(flash);
    Prepare(file);
    ASSERT_TRUE(Update()) << ::testing::PrintToString(window.lines);
    EXPECT_THAT(window.waitNotices, ElementsAre("4 of 5 sectors already hold the file's bytes",
                                                "erasing 1 sector from 7FF04000 to 7FF06000 (8 KB)"));
    flash[0x5123] ^= 0x40;
    EXPECT_EQ(receiver.Flash(), flash);

    auto cut = flash;  // a run cut off between the erase of a sector and its program
    std::fill_n(cut.begin() + 0x10000, 0x10000, 0xFF);
    receiver.SetFlash(cut);
    ASSERT_TRUE(Update());
    EXPECT_THAT(window.waitNotices, ElementsAre("4 of 5 sectors already hold the file's bytes"));
    EXPECT_EQ(receiver.Flash(), flash);

    WriteFileBytes(PathIn("one.rom"), std::vector<std::uint8_t>(flash.begin() + 0x20000, flash.begin() + 0x30000));
    window.Forget();
    ASSERT_TRUE(RunUpdate(link->Link(), window, {kLpt1Base, PathIn("one.rom"), kFlash1M, 0x20000, true}));
    EXPECT_THAT(window.waitNotices, ElementsAre("1 of 1 sectors already hold the file's bytes"));

    EXPECT_FALSE(Update(0x5000));
    EXPECT_EQ(window.FromEnd(2),
              "Update refused: ADR[7FF05000]:LEN[00020000] does not start and end on sector boundaries; the sectors "
              "around it run from 7FF04000 to 7FF30000: nothing erased");

    for (long oneIn : {200, 50}) {
        cut[0x7000] = 0;
        receiver.SetFlash(cut);
        receiver.Faults().corruptReplyOneIn = oneIn;
        receiver.Faults().corruptReplySeed = static_cast<std::uint64_t>(oneIn);
        const bool updated = Update();
        EXPECT_TRUE(!updated || receiver.Flash() == flash) << oneIn;
        receiver.Faults().corruptReplyOneIn = 0;
    }

    window.trapFile = FaultTrap("done-late");
    Connect();
    receiver.SetFlash(cut);
    EXPECT_FALSE(Update());
    EXPECT_EQ(window.FromEnd(2),
              "Update refused: the trap program cannot checksum the flash and erase its sectors, so it cannot tell "
              "which sectors differ: nothing erased; use erase and write");
    EXPECT_EQ(receiver.Flash(), cut);
}

}  // namespace
}  // namespace orbvex::test

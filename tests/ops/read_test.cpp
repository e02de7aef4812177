// SPDX-License-Identifier: GPL-2.0-or-later
#include "ops/receiver_fixture.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include "ops/readings.h"
#include "util/image_file.h"

namespace orbvex::test {
namespace {

class ReadTest : public ReceiverTest {
protected:
    void SetUp() override {
        ReceiverTest::SetUp();
        Connect();
        window.saveChoice = PathIn("dump.bin");
    }
};

TEST_F(ReadTest, OneMegabyteReplacesTheChosenFileWithTheLabelRule) {
    auto content = RandomBytes(0x100000, 11);
    receiver.SetFlash(content);
    WriteFileBytes(PathIn("dump.bin"), {1, 2, 3});
    window.lines = {"earlier"};
    AbortRequested = true;  // Read neither heeds nor clears it

    EXPECT_TRUE(Read());

    EXPECT_THAT(window.lines, ElementsAre("earlier", "Init JTAG", "DCU OK", "Read ADR[7FF00000]:LEN[00100000]",
                                          "Read END", kSeparatorLine));
    EXPECT_THAT(window.beeps, ElementsAre(0x40u));
    EXPECT_EQ(ReadFileBytes(PathIn("dump.bin")), content);
    EXPECT_THAT(FilesInDir(), ElementsAre("dump.bin"));
    EXPECT_EQ(window.Label(), "7FFFFF00");
    EXPECT_EQ(window.labels.size(), 273u);  // every 0xF00 bytes
    EXPECT_EQ(window.processCalls, static_cast<int>(window.labels.size()) + 1);
    EXPECT_TRUE(AbortRequested);
    ASSERT_GE(window.transfer.size(), window.labels.size());
    EXPECT_EQ(window.transfer.back(), (Transfer{0x100000, 0x100000}));
    EXPECT_EQ(window.fileRequests, 1);
}

// 252-byte replies are stitched, and the last one, which runs past the flash's end into
// RAM, is cut at it.
TEST_F(ReadTest, ShorterRepliesStillFillTheImageExactly) {
    receiver.Config().replyBlockLength = 252;
    auto content = RandomBytes(0x100000, 12);
    receiver.SetFlash(content);
    EXPECT_TRUE(RunReadRange(link->Link(), window, {kLpt1Base, 0x7FFF0000, 0x10000, PathIn("dump.bin")}));
    EXPECT_EQ(ReadFileBytes(PathIn("dump.bin")), std::vector<std::uint8_t>(content.end() - 0x10000, content.end()));
}

TEST_F(ReadTest, CancelledDialogReadsNothing) {
    window.saveChoice.reset();
    EXPECT_FALSE(Read());
    EXPECT_THAT(window.lines, ElementsAre("Init JTAG", "DCU OK", kSeparatorLine));
    EXPECT_THAT(window.beeps, ElementsAre(0x40u));
    EXPECT_TRUE(FilesInDir().empty());
}

// A read that stops leaves an existing file as it was: no image of zeros, nothing beside it.
TEST_F(ReadTest, FailingBlockWritesNoFile) {
    receiver.Config().replyLengthOutsideFlash = 4;  // word reads stay whole under a short reply
    // The label shows the stopping address only where it falls on its 0xF00 rule. The
    // read is refused, or its reply breaks off after shortReply bytes.
    const std::tuple<std::uint32_t, std::string, long> cases[] = {
        {0x7FF00000, "7FF00000", -1}, {0x7FF80000, "7FF7F800", -1}, {0x7FF00000, "7FF00000", 100}};
    for (const auto& [address, label, shortReply] : cases) {
        SCOPED_TRACE(Hex8(address));
        window.Forget();
        WriteFileBytes(PathIn("dump.bin"), {9, 8, 7});
        receiver.Faults().refusedReadRanges = {{address, address + 3}};
        if (shortReply >= 0) receiver.Faults().refusedReadRanges.clear();
        receiver.Faults().shortReplyAfter = shortReply;

        EXPECT_FALSE(Read());

        EXPECT_THAT(window.lines, ElementsAre("Init JTAG", "DCU OK", "Read ADR[7FF00000]:LEN[00100000]",
                                              "Read stopped at address " + Hex8(address) +
                                                  ": the receiver did not answer, no file written",
                                              kSeparatorLine));
        EXPECT_EQ(ReadFileBytes(PathIn("dump.bin")), (std::vector<std::uint8_t>{9, 8, 7}));
        EXPECT_THAT(FilesInDir(), ElementsAre("dump.bin"));
        EXPECT_EQ(window.Label(), label);
    }
}

TEST_F(ReadTest, FileThatCannotBeSavedIsReportedAndNothingIsLeftBehind) {
    std::filesystem::create_directories(PathIn("taken.bin/inside"));
    const std::pair<std::string, std::string> cases[] = {
        {"no-such-folder/dump.bin", ": No such file or directory"},
        {"taken.bin", ": not a regular file"},  // a folder is never replaced
    };
    for (const auto& [name, reason] : cases) {
        window.Forget();
        window.saveChoice = PathIn(name);
        EXPECT_FALSE(Read());
        EXPECT_THAT(window.lines,  // refused before the first block
                    ElementsAre("Init JTAG", "DCU OK", "Cannot create file " + PathIn(name) + reason, kSeparatorLine));
        EXPECT_THAT(window.beeps, ElementsAre(0x40u));
        EXPECT_THAT(FilesInDir(), ElementsAre("taken.bin"));
    }
#if !defined(_WIN32)
    // A save that fails after the whole read (over the file-size limit) fails the read.
    IgnoreFileSizeSignal();
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const rlimit tight{4096, old.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &tight);
    const bool read = RunReadRange(link->Link(), window, {kLpt1Base, 0x7FF00000, 0x2000, PathIn("dump.bin")});
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(read);
    EXPECT_EQ(window.FromEnd(2), "Cannot write file " + PathIn("dump.bin") + ": File too large");
#endif
}

// A stretch of the flash, as the command line reads and verifies it: short reply
// blocks are stitched and trimmed to the range, and a block that fails says where.
TEST_F(ReadTest, RangesComeBackExactOrSayWhereTheyStopped) {
    const auto image = RandomBytes(0x1000, 9);
    receiver.SetFlash(image);
    receiver.Config().replyBlockLength = 12;
    receiver.RecordMessages(true);
    ASSERT_TRUE(RunReadRange(link->Link(), window, {kLpt1Base, 0x7FF00000 + 101, 333, PathIn("part.bin"), 3}));
    EXPECT_EQ(ReadFileBytes(PathIn("part.bin")), std::vector<std::uint8_t>(image.begin() + 101, image.begin() + 434));
    for (const auto& m : receiver.Messages())  // an unaligned address is the DCU's to misread
        EXPECT_TRUE(m.kind != sim::DcuMessageRecord::Kind::Read || m.address % 4 == 0) << Hex8(m.address);
    receiver.RecordMessages(false);

    receiver.Config().replyBlockLength = 256;
    WriteFileBytes(PathIn("keep.bin"), {'o', 'l', 'd'});
    WriteFileBytes(PathIn("image.rom"), image);
    receiver.Faults().refusedReadRanges = {{0x7FF00400, 0x7FF004FF}};
    window.Forget();
    EXPECT_FALSE(RunReadRange(link->Link(), window, {kLpt1Base, 0x7FF00000, 0x1000, PathIn("keep.bin")}));
    EXPECT_EQ(window.FromEnd(2), "Read stopped at address 7FF00400: the receiver did not answer, no file written");
    EXPECT_EQ(ReadFileBytes(PathIn("keep.bin")), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    window.Forget();
    EXPECT_FALSE(RunVerify(link->Link(), window, {kLpt1Base, 0x7FF00000, std::nullopt, kFlash1M.End(), PathIn("image.rom")}).same);
    EXPECT_EQ(window.FromEnd(2), "Verify stopped at address 7FF00400: the receiver did not answer");
    EXPECT_THAT(FilesInDir(), ElementsAre("image.rom", "keep.bin", "part.bin"));
}

// A noisy cable turns about one reply in 50 (one byte in 50 replies of 257): one pass
// keeps what it turned, three passes catch and settle it, and verify tells a turned
// byte from a real difference. One byte in 6000 is too often for two passes to vouch
// for the data: the default read takes a third by itself.
TEST_F(ReadTest, PassesAndVerifyTellALinkGlitchFromTheFlash) {
    const auto image = RandomBytes(0x40000, 21);
    receiver.SetFlash(image);
    WriteFileBytes(PathIn("image.rom"), image);
    receiver.Faults().corruptReplySeed = 7;
    // checked: one pass vouched for by the trap program's checksums, when it signs for them.
    const struct {
        int passes;
        bool checked;
        long oneIn;
        const char* trap;
        const char* says;
    } runs[] = {
        {1, false, 50 * 257, nullptr, "Read END"},
        {3, false, 50 * 257, nullptr, "Read 3 passes agree after re-reading "},
        {2, false, 6000, nullptr, "Read 3 passes agree after re-reading "},
        {2, true, 6000, nullptr, "Read checked by the receiver's checksums after re-reading "},
        {2, true, 6000, "never-done", "Read 3 passes agree after re-reading "},  // no signature
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.says);
        receiver.Faults().corruptReplyOneIn = 0;
        if (run.trap) {
            window.trapFile = FaultTrap(run.trap);
            Connect();
        }
        window.Forget();
        receiver.Faults().corruptReplyOneIn = run.oneIn;
        const std::optional<std::uint32_t> sums = run.checked ? std::optional<std::uint32_t>(0x7FF00000) : std::nullopt;
        ASSERT_TRUE(RunReadRange(link->Link(), window, {kLpt1Base, 0x7FF00000, 0x40000, PathIn("back.bin"), run.passes, sums}));
        EXPECT_EQ(ReadFileBytes(PathIn("back.bin")) == image, run.passes > 1);
        EXPECT_EQ(window.FromEnd(3 - (run.passes == 1)).rfind(run.says, 0), 0u) << window.FromEnd(3);
        EXPECT_EQ(window.waitNotices.size(), run.oneIn == 6000 && (!run.checked || run.trap) ? 1u : 0u);
    }
    receiver.Faults().corruptReplyOneIn = 0;

    // One turned byte after two passes takes two re-reads to outvote: good, bad, good, good.
    receiver.ResetCounters();
    receiver.Faults().corruptReplyByte = 30000;
    ASSERT_TRUE(RunReadRange(link->Link(), window, {kLpt1Base, 0x7FF00000, 0x40000, PathIn("back.bin"), 2}));
    EXPECT_EQ(ReadFileBytes(PathIn("back.bin")), image);

    receiver.ResetCounters();
    const VerifyResult glitch = RunVerify(link->Link(), window, {kLpt1Base, 0x7FF00000, std::nullopt, kFlash1M.End(), PathIn("image.rom")});
    EXPECT_TRUE(glitch.same);
    EXPECT_EQ(glitch.glitches, 1u);
    auto changed = image;
    changed[0x1234] ^= 0x10;
    WriteFileBytes(PathIn("changed.rom"), changed);
    const VerifyResult real = RunVerify(link->Link(), window, {kLpt1Base, 0x7FF00000, std::nullopt, kFlash1M.End(), PathIn("changed.rom")});
    EXPECT_FALSE(real.same);
    EXPECT_EQ(real.glitches, 0u);
    EXPECT_EQ(window.FromEnd(2).rfind("Verify FAIL ADR[7FF01234]", 0), 0u);
}

// A byte is settled by more than half of the readings and at least three (or two that
// confirm a file's byte); four and none for the file's byte prove a difference.
TEST(Readings, SettleOnlyOnAClearMajority) {
    const struct {
        std::vector<std::uint8_t> bytes;
        int file, settled;
    } rows[] = {
        {{1, 1, 1}, -1, 1},
        {{1, 1, 2}, -1, -1},
        {{1, 1, 1, 2, 2, 2}, -1, -1},
        {{1, 2, 1, 2, 1}, -1, 1},
        {{1, 1, 2}, 1, 1},
        {{2, 2, 2, 1}, 1, -1},
        {{2, 2, 2, 2}, 1, 2},
    };
    for (const auto& row : rows) {
        std::vector<Reading> readings;
        for (std::uint8_t b : row.bytes) readings.push_back({b});
        const auto file = static_cast<std::uint8_t>(row.file);
        const std::optional<Reading> settled = SettledContent(readings, row.file < 0 ? nullptr : &file);
        EXPECT_EQ(settled ? (*settled)[0] : -1, row.settled) << &row - rows;
    }
}

// With the trap program's checksums a verify reads only the blocks whose checksums
// differ from the file's, names each, and still finds the first differing byte.
TEST_F(ReadTest, VerifyByChecksumsReadsOnlyTheBlocksThatDiffer) {
    const auto image = RandomBytes(0x100000, 41);
    receiver.SetFlash(image);
    auto changed = image;
    changed[0x34567] ^= 1;
    changed[0x9FFFF] ^= 0x80;
    WriteFileBytes(PathIn("changed.rom"), changed);
    receiver.ResetCounters();
    const VerifyResult result =
        RunVerify(link->Link(), window, {kLpt1Base, 0x7FF00000, std::nullopt, kFlash1M.End(), PathIn("changed.rom"), 0x7FF00000});
    EXPECT_FALSE(result.same);
    EXPECT_LT(receiver.Counters().dcuBytesSent, 3u * 0x10000);
    EXPECT_THAT(window.lines, ::testing::Contains("Checksum differs ADR[7FF30000]:LEN[00010000]"));
    EXPECT_THAT(window.lines, ::testing::Contains("Checksum differs ADR[7FF90000]:LEN[00010000]"));
    EXPECT_EQ(window.FromEnd(2), "Verify FAIL ADR[7FF34567] flash=" + Hex8(image[0x34567]).substr(6) + " file=" +
                                     Hex8(changed[0x34567]).substr(6) + ", 2 bytes differ");
}

// A link fault at the same place of every reply, or at random: a backup and a verify
// come out right or fail saying so; never a wrong byte saved, the link taken for the
// flash, or a real difference missed.
TEST_F(ReadTest, LinkFaultsNeverPassForTheFlash) {
    const auto image = RandomBytes(0x2000, 31);
    auto changed = image;
    changed[0x1234] ^= 0x10;
    receiver.SetFlash(image);
    WriteFileBytes(PathIn("image.rom"), image);
    WriteFileBytes(PathIn("changed.rom"), changed);
    const std::vector<std::uint8_t> old{'o', 'l', 'd'};
    const struct { long every, oneIn, seed; } faults[] = {{257, 0, 0}, {0, 200, 1}, {0, 200, 7}, {0, 50, 3}, {0, 1000, 5}};
    for (const auto& f : faults) {
        // 0: one pass checked by the trap program's checksums; -1 and -2: one and two passes
        // asked for, every page read and checked by them as well
        for (int passes : {2, 3, 0, -1, -2}) {
            const auto sums = passes > 0 ? std::nullopt : std::optional<std::uint32_t>(0x7FF00000);
            SCOPED_TRACE(std::to_string(f.every + f.oneIn) + ":" + std::to_string(f.seed + passes));
            receiver.Faults().corruptReplyEvery = f.every;
            receiver.Faults().corruptReplyOneIn = f.oneIn;
            receiver.Faults().corruptReplySeed = static_cast<std::uint64_t>(f.seed + passes);
            WriteFileBytes(PathIn("back.bin"), old);
            const bool saved =
                RunReadRange(link->Link(), window, {kLpt1Base, 0x7FF00000, 0x2000, PathIn("back.bin"), passes < 0 ? -passes : std::max(passes, 2), sums, passes < 0});
            EXPECT_EQ(ReadFileBytes(PathIn("back.bin")), saved ? image : old);
            EXPECT_TRUE(saved || window.FromEnd(2).rfind("Read FAIL: ", 0) == 0);
            EXPECT_TRUE(!f.every || saved);  // cut apart, three passes outvote it
            const VerifyResult same =
                RunVerify(link->Link(), window, {kLpt1Base, 0x7FF00000, 0x2000, 0x80000000, PathIn("image.rom"), sums});
            EXPECT_TRUE(same.same || same.noisy);
            const VerifyResult differs =
                RunVerify(link->Link(), window, {kLpt1Base, 0x7FF00000, 0x2000, 0x80000000, PathIn("changed.rom"), sums});
            EXPECT_TRUE(differs.noisy || window.FromEnd(2).rfind("Verify FAIL ADR[7FF01234] flash=", 0) == 0);
        }
    }
}

// A backup never needs the chip's identity, and says what it could not check: a single
// pass without the program's checksums, or a checksum that disagrees with readings that
// agree with each other (the program's fault, not the cable's).
TEST_F(ReadTest, ReadsWithoutTheChipsNameAndSaysWhatWasNotChecked) {
    const auto image = RandomBytes(0x2000, 51);
    receiver.SetFlash(image);
    const auto read = [&](int passes, bool everyPage) {
        window.Forget();
        return RunReadRange(link->Link(), window, {kLpt1Base, 0x7FF00000, 0x2000, PathIn("back.bin"), passes, 0x7FF00000, everyPage});
    };
    receiver.Faults().flash.unknownChip = true;
    EXPECT_TRUE(read(2, false)) << ::testing::PrintToString(window.lines);
    EXPECT_EQ(ReadFileBytes(PathIn("back.bin")), image);
    receiver.Faults().flash.unknownChip = false;

    receiver.Faults().turnedWriteAddresses = {Mailbox() + 0x0D};  // every checksum covers 0xDF00 bytes
    EXPECT_FALSE(read(2, false));
    EXPECT_EQ(window.FromEnd(2),
              "Read FAIL: the block at address 7FF00000 reads the same in 9 readings, but the receiver's checksum "
              "disagrees with the flash as read: no file written; the trap program's checksum is at fault");
    receiver.Faults().turnedWriteAddresses.clear();

    window.trapFile = FaultTrap("done-late");
    Connect();
    EXPECT_TRUE(read(1, true));
    EXPECT_THAT(window.waitNotices,
                ElementsAre("read: the single pass was not checked (the trap program cannot checksum the flash): a "
                            "byte the link turned would pass; read with --passes 2 to compare two"));
}

// A default backup transfers no page the trap program finds blank; the block checksum
// still covers it, so a page called blank that is not (here written between the trap's
// look and the read, as a lying trap would answer) is read again and comes out right.
// Passes asked for read every page.
TEST_F(ReadTest, BlankPagesAreNotTransferredAndAWrongBlankCannotPass) {
    struct HookedWindow : FakeWindow {
        std::function<void()> once;
        void TransferProgress(std::uint64_t, std::uint64_t) override {
            if (!once) return;
            auto run = std::move(once);
            once = nullptr;
            run();
        }
    } hooked;
    receiver.Config().replyLengthOutsideFlash = 4;  // a poll costs a word, not a block
    auto image = RandomBytes(0x20000, 61);
    for (std::uint32_t page : {0x3000u, 0x4000u, 0x18000u}) std::fill_n(image.begin() + page, 0x1000, 0xFF);
    receiver.SetFlash(image);
    const auto read = [&](WindowServices& w, int passes, bool everyPage) {
        receiver.ResetCounters();
        const bool saved =
            RunReadRange(link->Link(), w, {kLpt1Base, 0x7FF00000, 0x20000, PathIn("back.bin"), passes, 0x7FF00000, everyPage});
        EXPECT_EQ(ReadFileBytes(PathIn("back.bin")), saved ? image : std::vector<std::uint8_t>{});
        return receiver.Counters().dcuBytesSent;
    };
    const auto skipping = read(window, 2, false);
    EXPECT_THAT(window.lines, ::testing::Contains("Read checked by the receiver's checksums; 3 blank 4 KB pages were "
                                                  "not transferred"));
    const auto everyPage = read(window, 1, true);
    EXPECT_GT(everyPage, skipping + 3 * 0x1000);

    auto written = image;
    std::fill_n(written.begin() + 0x18000, 0x1000, 0x5A);
    hooked.once = [&] { receiver.SetFlash(written); };
    image = written;
    read(hooked, 2, false);
    EXPECT_THAT(hooked.lines, ::testing::Contains("Read checked by the receiver's checksums after re-reading 1 blocks; "
                                                  "3 blank 4 KB pages were not transferred"));
}

}  // namespace
}  // namespace orbvex::test

// SPDX-License-Identifier: GPL-2.0-or-later
// Saving whole or not at all, and reading only what is a regular file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "util/image_file.h"

namespace orbvex {
namespace {

namespace fs = std::filesystem;

class ImageFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("orbvex-file-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string At(const std::string& name) const { return (dir / name).string(); }
    static void Put(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    static std::string Get(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    static std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

    fs::path dir;
};

TEST_F(ImageFileTest, SaveReplacesWholeKeepsModeWritesThroughLinksAndLeavesNeighboursAlone) {
    Put(At("old.bin"), "old");
    ::chmod(At("old.bin").c_str(), 0640);
    Put(At("old.bin.part"), "someone else's");
    fs::create_symlink("old.bin", At("link.bin"));
    fs::create_symlink("made-by-link.bin", At("dangling.bin"));
    const bool root = ::chown(At("old.bin").c_str(), 65534, 65534) == 0;  // another user's file

    ASSERT_TRUE(SaveWholeFile(At("link.bin"), Bytes("new")).Ok());
    ASSERT_TRUE(SaveWholeFile(At("dangling.bin"), Bytes("fresh")).Ok());

    EXPECT_EQ(Get(At("old.bin")), "new");
    EXPECT_TRUE(fs::is_symlink(At("link.bin")));
    EXPECT_EQ(fs::status(At("old.bin")).permissions() & fs::perms::all, fs::perms(0640));
    struct stat st {};
    EXPECT_TRUE(!root || (::stat(At("old.bin").c_str(), &st) == 0 && st.st_uid == 65534 && st.st_gid == 65534));
    EXPECT_EQ(Get(At("made-by-link.bin")), "fresh");
    EXPECT_EQ(Get(At("old.bin.part")), "someone else's");
    EXPECT_THAT(Names(), ::testing::ElementsAre("dangling.bin", "link.bin", "made-by-link.bin", "old.bin",
                                                "old.bin.part"));
}

TEST_F(ImageFileTest, RefusedOrFailedSavesLeaveTheOldFileAndNoTemporary) {
    Put(At("old.bin"), "old");
    Put(At("readonly.bin"), "keep");
    ::chmod(At("readonly.bin").c_str(), 0444);
    fs::create_directory(At("folder.bin"));
    const std::string longName(250, 'n');
    struct Case {
        std::string path, error;
    } cases[] = {
        {"", "Cannot create file : no file name given"},
        {At("missing/x.bin"), "Cannot create file " + At("missing/x.bin") + ": No such file or directory"},
        {"/sys/orbvex.bin", "Cannot create file /sys/orbvex.bin: Permission denied"},  // a folder no one may write
        {"/dev/null", "Cannot create file /dev/null: not a regular file"},
        {At("folder.bin"), "Cannot create file " + At("folder.bin") + ": not a regular file"},
        {At("readonly.bin"), "Cannot create file " + At("readonly.bin") + ": the file is read-only"},
    };
    for (const Case& c : cases) EXPECT_EQ(SaveWholeFile(c.path, Bytes("new")).Error(), c.error) << c.path;
    // A name as long as the system allows still saves: the temporary name is short.
    EXPECT_TRUE(SaveWholeFile(At(longName), Bytes("long")).Ok());

    // A write that fails half-way (the file-size limit) leaves the old file as it was.
    IgnoreFileSizeSignal();
    rlimit old{}, tight{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    tight = old;
    tight.rlim_cur = 1000;
    ::setrlimit(RLIMIT_FSIZE, &tight);
    const Status big = SaveWholeFile(At("old.bin"), std::vector<std::uint8_t>(4096, 1));
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(big.Error(), "Cannot write file " + At("old.bin") + ": File too large");

    EXPECT_EQ(Get(At("old.bin")), "old");
    EXPECT_EQ(Get(At("readonly.bin")), "keep");
    EXPECT_THAT(Names(), ::testing::ElementsAre("folder.bin", longName, "old.bin", "readonly.bin"));
}

// Any system call of the save that fails fails it, and leaves the old file alone; so
// does a kill in the middle of it (a second Ctrl-C, say): no temporary file outlives it.
TEST_F(ImageFileTest, AFailedCallOrAKillInTheMiddleOfASaveLeavesTheOldFileAlone) {
    Put(At("old.bin"), "old");
    for (SaveStep step : {SaveStep::Write, SaveStep::Sync, SaveStep::Close, SaveStep::Rename}) {
        const auto fail = [step](SaveStep now) { return now == step ? EIO : 0; };
        EXPECT_EQ(SaveWholeFile(At("old.bin"), Bytes("new").data(), 3, fail).Error(),
                  "Cannot write file " + At("old.bin") + ": Input/output error");
        EXPECT_THAT(Names(), ::testing::ElementsAre("old.bin"));
    }
    // A folder put in the file's place while it is saved: the rename itself fails.
    const auto usurp = [this](SaveStep now) {
        if (now == SaveStep::Rename) fs::remove(At("old.bin")), fs::create_directories(At("old.bin/in"));
        return 0;
    };
    EXPECT_EQ(SaveWholeFile(At("old.bin"), Bytes("new").data(), 3, usurp).Error(),
              "Cannot write file " + At("old.bin") + ": Is a directory");
    EXPECT_THAT(Names(), ::testing::ElementsAre("old.bin"));
    fs::remove_all(At("old.bin"));
    // A second Ctrl-C waits for the save: one that fails then ends the program with the
    // old file in place, one that completes is taken for the program to say so.
    for (const int fault : {EIO, 0}) {
        Put(At("old.bin"), "old");
        const pid_t child = ::fork();
        if (child == 0) {
            std::signal(SIGINT, SIG_DFL);
            TakeEndingSignalsAfterSaves();
            const auto ctrlC = [fault](SaveStep now) { return now == SaveStep::Sync ? (::raise(SIGINT), fault) : 0; };
            const bool saved = SaveWholeFile(At("old.bin"), Bytes("new").data(), 3, ctrlC).Ok();
            ::_exit(saved && TakeSignalThatCameDuringSave() == SIGINT ? 0 : 3);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_EQ(WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status), fault ? -SIGINT : 0);
        EXPECT_EQ(Get(At("old.bin")), fault ? "old" : "new");
    }
    Put(At("old.bin"), "old");
    const int probe = ::open(dir.c_str(), O_TMPFILE | O_WRONLY, 0600);
    if (probe < 0) GTEST_SKIP() << "this file system has no files without a name";
    ::close(probe);
    if (::fork() == 0) {
        int writes = 0;
        const auto kill = [&](SaveStep) { return ++writes == 2 ? ::raise(SIGKILL) : 0; };
        static_cast<void>(SaveWholeFile(At("old.bin"), std::vector<std::uint8_t>(4 << 20, 1).data(), 4 << 20, kill));
        ::_exit(0);
    }
    ::wait(nullptr);
    EXPECT_THAT(Names(), ::testing::ElementsAre("old.bin"));
    EXPECT_EQ(Get(At("old.bin")), "old");
}

TEST_F(ImageFileTest, ReadTakesOnlyRegularFilesAndSaysWhy) {
    Put(At("rom.bin"), "12345");
    ::mkfifo(At("pipe").c_str(), 0600);  // would block a plain open for ever
    std::vector<std::uint8_t> data;
    struct Case {
        std::string path;
        FileReadStatus status;
        std::string reason;
    } cases[] = {
        {At("rom.bin"), FileReadStatus::Ok, ""},
        {"", FileReadStatus::CannotOpen, "no file name given"},
        {At("absent"), FileReadStatus::CannotOpen, "No such file or directory"},
        {At("pipe"), FileReadStatus::CannotOpen, "not a regular file"},
        {dir.string(), FileReadStatus::CannotOpen, "not a regular file"},
    };
    for (const Case& c : cases) {
        FileReadResult r = ReadWholeFile(c.path, 100, data);
        EXPECT_EQ(r.status, c.status) << c.path;
        EXPECT_EQ(r.reason, c.reason) << c.path;
    }
    EXPECT_EQ(ReadWholeFile(At("rom.bin"), 4, data).status, FileReadStatus::TooLarge);
    ASSERT_TRUE(ReadWholeFile(At("rom.bin"), 5, data).Ok());
    EXPECT_EQ(std::string(data.begin(), data.end()), "12345");
}

}  // namespace
}  // namespace orbvex

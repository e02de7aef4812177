// Image comparison and the all-or-nothing file writes used by read and verify.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "cli/image_files.h"
#include "support/temp_dir.h"

namespace orbvex::cli {
namespace {

TEST(CompareImages, FindsTheFirstDifferenceAndCountsThemAll) {
    std::vector<std::uint8_t> flash(100, 0xFF), file(100, 0xFF);
    EXPECT_EQ(CompareImages(flash, file).differing, 0u);
    file[10] = 0x5A;
    file[11] = 0x00;
    file[99] = 0x12;
    Comparison c = CompareImages(flash, file);
    EXPECT_EQ(c.differing, 3u);
    EXPECT_EQ(c.firstOffset, 10u);
    EXPECT_EQ(c.flashByte, 0xFF);
    EXPECT_EQ(c.fileByte, 0x5A);
    file.resize(10);  // only the common length counts
    EXPECT_EQ(CompareImages(flash, file).differing, 0u);
}

TEST(ImageFiles, AWriteReplacesTheFileWholeAndLeavesNothingBeside) {
    test::TempDir dir;
    const std::string path = dir.Path("image.bin");
    std::string error;
    ASSERT_TRUE(WriteFileWhole(path, std::vector<std::uint8_t>(10, 1), error)) << error;
    ASSERT_TRUE(WriteFileWhole(path, std::vector<std::uint8_t>{1, 2, 3}, error)) << error;
    std::vector<std::uint8_t> back;
    ASSERT_TRUE(ReadFileWhole(path, back, error)) << error;
    EXPECT_EQ(back, (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(ImageFiles, AFailedWriteIsReportedAndTouchesNoFile) {
    test::TempDir dir;
    std::string error;
    EXPECT_FALSE(WriteFileWhole(dir.Path("no/such/folder/image.bin"), {1, 2}, error));
    EXPECT_NE(error.find("Cannot create file"), std::string::npos);
    std::vector<std::uint8_t> data;
    EXPECT_FALSE(ReadFileWhole(dir.Path("missing.rom"), data, error));
    EXPECT_NE(error.find("Cannot open file"), std::string::npos);
}

}  // namespace
}  // namespace orbvex::cli

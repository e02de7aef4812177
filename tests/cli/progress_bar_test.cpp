// The progress bar: only on a terminal, in place, with figures that add up.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "cli/progress_bar.h"

namespace orbvex::cli {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

TEST(ProgressBar, WritesNothingWhenNotOnATerminal) {
    std::ostringstream err;
    ProgressBar bar(err, false);
    bar.Update(0, 100);
    bar.Update(50, 100);
    bar.Clear();
    bar.Update(100, 100);
    bar.Finish();
    EXPECT_EQ(err.str(), "");
}

TEST(ProgressBar, ShowsBytesRateAndTimeLeft) {
    const std::string text = ProgressBar::Format(262144, 1048576, 2.0, 20);
    EXPECT_THAT(text, HasSubstr("[#####...............]"));
    EXPECT_THAT(text, HasSubstr(" 25% 262144/1048576 bytes"));
    EXPECT_THAT(text, HasSubstr("128.0 KiB/s"));
    EXPECT_THAT(text, HasSubstr("0:06 left"));
    EXPECT_THAT(ProgressBar::Format(0, 100, 0.0, 10), HasSubstr("--:-- left"));
    EXPECT_THAT(ProgressBar::Format(100, 100, 1.0, 10), HasSubstr("[##########] 100%"));
}

TEST(ProgressBar, RedrawsInPlaceAtMostTenTimesASecondAndEndsItsLineWhenComplete) {
    std::ostringstream err;
    double now = 0;
    ProgressBar bar(err, true, [&] { return now; });
    bar.Update(0, 1000);
    now = 0.05;
    bar.Update(100, 1000);  // too soon: not drawn
    now = 0.2;
    bar.Update(200, 1000);
    now = 0.4;
    bar.Update(1000, 1000);
    const std::string out = err.str();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\r'), 3);
    EXPECT_THAT(out, Not(HasSubstr(" 100/1000")));
    EXPECT_THAT(out, HasSubstr(" 200/1000"));
    EXPECT_EQ(out.back(), '\n');
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
    bar.Update(1000, 1000);  // a repeat of the end draws nothing more
    EXPECT_EQ(err.str(), out);
}

TEST(ProgressBar, ClearsItselfForALogLine) {
    std::ostringstream err;
    double now = 0;
    ProgressBar bar(err, true, [&] { return now; });
    bar.Update(10, 100);
    bar.Clear();
    const std::string out = err.str();
    EXPECT_EQ(out.back(), '\r');
    EXPECT_THAT(out, HasSubstr("\r   "));
    bar.Clear();  // nothing drawn: nothing to clear
    EXPECT_EQ(err.str(), out);
}

}  // namespace
}  // namespace orbvex::cli

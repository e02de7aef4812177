// SPDX-License-Identifier: GPL-2.0-or-later
// The progress bar on a terminal: in place, at a bounded rate, with figures that add up.
// (That it writes nothing off a terminal is seen end to end in CliRun.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "cli/progress_bar.h"

namespace orbvex::cli {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

TEST(ProgressBar, ShowsBytesRateAndTimeLeft) {
    const std::string text = ProgressBar::Format(262144, 1048576, 2.0, 20);
    EXPECT_THAT(text, HasSubstr("[#####...............]"));
    EXPECT_THAT(text, HasSubstr(" 25% 262144/1048576 bytes"));
    EXPECT_THAT(text, HasSubstr("128.0 KiB/s"));
    EXPECT_THAT(text, HasSubstr("0:06 left"));
    EXPECT_THAT(ProgressBar::Format(0, 100, 0.0, 10), HasSubstr("--:-- left"));
    EXPECT_THAT(ProgressBar::Format(100, 100, 1.0, 10), HasSubstr("[##########] 100%"));
}

class ProgressBarOnTerminal : public ::testing::Test {
protected:
    std::ostringstream err_;
    double now_ = 0;
    ProgressBar bar_{err_, true, [this] { return now_; }};
};

TEST_F(ProgressBarOnTerminal, RedrawsInPlaceAtMostTenTimesASecondAndEndsItsLineWhenComplete) {
    bar_.Update(0, 1000);
    now_ = 0.05;
    bar_.Update(100, 1000);  // too soon: not drawn
    now_ = 0.2;
    bar_.Update(200, 1000);
    now_ = 0.4;
    bar_.Update(1000, 1000);
    const std::string out = err_.str();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\r'), 3);
    EXPECT_THAT(out, Not(HasSubstr(" 100/1000")));
    EXPECT_THAT(out, HasSubstr(" 200/1000"));
    EXPECT_EQ(out.back(), '\n');
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
    bar_.Update(1000, 1000);  // a repeat of the end draws nothing more
    EXPECT_EQ(err_.str(), out);
}

TEST_F(ProgressBarOnTerminal, ClearsItselfForALogLine) {
    bar_.Update(10, 100);
    bar_.Clear();
    const std::string out = err_.str();
    EXPECT_EQ(out.back(), '\r');
    EXPECT_THAT(out, HasSubstr("\r   "));
    bar_.Clear();  // nothing drawn: nothing to clear
    EXPECT_EQ(err_.str(), out);
}

}  // namespace
}  // namespace orbvex::cli

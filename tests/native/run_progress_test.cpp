// The mode windows' reading of the archiver's progress lines and the status line they show.
#include <gtest/gtest.h>

#include "operations/run_progress.h"

TEST(RunProgress, TakesOnlyWellFormedReportsAndKeepsTheMemberWhole) {
  RunProgress p;
  EXPECT_FALSE(parse_progress_line("vantor: 3 files", p));
  EXPECT_FALSE(parse_progress_line("progress 12", p));
  EXPECT_FALSE(parse_progress_line("progress x 5", p));
  EXPECT_FALSE(parse_progress_line("progress -4 10", p));
  EXPECT_FALSE(parse_progress_line("progress 1 -2", p));
  EXPECT_FALSE(p.seen);
  ASSERT_TRUE(parse_progress_line("progress 0 -1", p));
  EXPECT_EQ(p.total, -1);
  EXPECT_EQ(p.member, "");
  ASSERT_TRUE(parse_progress_line("progress 1048576 4194304 C:\\docs\\a b.txt", p));
  EXPECT_EQ(p.done, 1048576);
  EXPECT_EQ(p.total, 4194304);
  EXPECT_EQ(p.member, "C:\\docs\\a b.txt");
  EXPECT_FALSE(parse_progress_line("progress 99999999999999999999 1", p));
  EXPECT_EQ(p.done, 1048576) << "a refused line changes nothing";
}

TEST(RunProgress, BarIsAMarqueeUntilTheTotalIsKnownAndNeverPassesTheEnd) {
  RunProgress p;
  EXPECT_EQ(progress_position(p, 1000), -1);
  parse_progress_line("progress 250 1000", p);
  EXPECT_EQ(progress_position(p, 1000), 250);
  parse_progress_line("progress 1500 1000", p);  // a file that grew while it was read
  EXPECT_EQ(progress_position(p, 1000), 1000);
  parse_progress_line("progress 0 0", p);
  EXPECT_EQ(progress_position(p, 1000), 1000) << "nothing to do is all done";
  // 8 GB: no overflow of the 32-bit position.
  parse_progress_line("progress 4294967296 8589934592", p);
  EXPECT_EQ(progress_position(p, 1000), 500);
}

TEST(RunProgress, StatusSaysAmountPercentRateAndTimeLeft) {
  RunProgress p;
  EXPECT_EQ(progress_status(p, 0.5), "Starting...");
  parse_progress_line("progress 5000000 -1", p);
  EXPECT_EQ(progress_status(p, 0.5), "5.0 MB");
  parse_progress_line("progress 25000000 100000000 a.txt", p);
  EXPECT_EQ(progress_status(p, 0.5), "25.0 of 100.0 MB, 25 %") << "no rate from half a second";
  EXPECT_EQ(progress_status(p, 2.0), "25.0 of 100.0 MB, 25 %, 12.5 MB/s, 0:06 left");
  parse_progress_line("progress 1000000 4601000000", p);
  EXPECT_EQ(progress_status(p, 1.0), "1.0 of 4601.0 MB, 0 %, 1.0 MB/s, 1:16:40 left");
  parse_progress_line("progress 100000000 100000000", p);
  EXPECT_EQ(progress_status(p, 4.0), "100.0 of 100.0 MB, 100 %, 25.0 MB/s");
}

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

TEST(RunProgress, StatusSaysTimesAmountInTheListsUnitsSpeedAndMember) {
  RunProgress p;
  EXPECT_EQ(progress_status(p, 0.5), "Starting...");
  parse_progress_line("progress 5120000 -1", p);
  EXPECT_EQ(progress_status(p, 0.5), "0:00 elapsed, 5000 KB");
  parse_progress_line("progress 26214400 104857600 docs\\a.txt", p);
  EXPECT_EQ(progress_status(p, 0.5), "0:00 elapsed, 25600 KB of 102400 KB (25 %)\ndocs\\a.txt")
      << "no speed and no time left from half a second";
  EXPECT_EQ(progress_status(p, 2.0), "0:02 elapsed, 0:06 left, 25600 KB of 102400 KB (25 %), 12800 KB/s\ndocs\\a.txt");
  parse_progress_line("progress 1048576 4824498176", p);
  EXPECT_EQ(progress_status(p, 1.0), "0:01 elapsed, 1:16:40 left, 1024 KB of 4711424 KB (0 %), 1024 KB/s");
  EXPECT_EQ(progress_status(p, 3725.0).substr(0, 16), "1:02:05 elapsed,");
  parse_progress_line("progress 104857600 104857600", p);
  EXPECT_EQ(progress_status(p, 4.0), "0:04 elapsed, 102400 KB of 102400 KB (100 %), 25600 KB/s");
  parse_progress_line("progress 1 1", p);  // rounded up to a whole KB, as the list shows a file
  EXPECT_EQ(progress_status(p, 0.2), "0:00 elapsed, 1 KB of 1 KB (100 %)");
}

TEST(RunProgress, ALongMemberKeepsItsEndWithoutCuttingACharacter) {
  EXPECT_EQ(shown_member("C:\\docs\\a.txt"), "C:\\docs\\a.txt");
  std::string exact(MEMBER_SHOWN, 'x');
  EXPECT_EQ(shown_member(exact), exact);
  std::string long_path = std::string(100, 'd') + "\\name.txt";
  EXPECT_EQ(shown_member(long_path), "..." + long_path.substr(long_path.size() - (MEMBER_SHOWN - 3)));
  std::string greek;
  for (int i = 0; i < 80; ++i) greek += "\xcf\x86";  // 80 two-byte letters
  EXPECT_EQ(shown_member(greek), "..." + greek.substr(greek.size() - 2 * (MEMBER_SHOWN - 3)));
  std::string stray = std::string(70, '\x80');  // no character starts here: nothing to cut at
  EXPECT_EQ(shown_member(stray), stray);
}

// Explorer's verbs: the command line Explorer builds, the archive an "Add to" writes, and the
// archiver's -w that keeps the chosen folder's own name inside it.
#include <gtest/gtest.h>

#include "operations/shell_job.h"
#include "shell/startup.h"
#include "tool_test_support.h"

TEST(ShellJob, OnlyALeadingJobSwitchIsAJobAndItsPathsKeepTheirBlanks) {
  std::string verb;
  std::vector<std::string> paths;
  ASSERT_TRUE(job_arguments("\"C:\\Program Files\\V\\WinVantor.exe\" /job:add-vnr \"C:\\x y\\a b.txt\" c.txt",
                            verb, paths));
  EXPECT_EQ(verb, "add-vnr");
  EXPECT_EQ(paths, (std::vector<std::string>{"C:\\x y\\a b.txt", "c.txt"}));
  // A document keeps today's meaning, even one whose name mentions the switch.
  EXPECT_FALSE(job_arguments("WinVantor.exe \"C:\\d\\a.vnr\"", verb, paths));
  EXPECT_FALSE(job_arguments("WinVantor.exe a.vnr /job:here", verb, paths));
  EXPECT_FALSE(job_arguments("WinVantor.exe", verb, paths));
  JobVerb v;
  EXPECT_TRUE(job_verb_from("Here", v) && v == JobVerb::HERE);
  EXPECT_FALSE(job_verb_from("shred", v));
}

TEST(ShellJob, AddToNamesTheArchiveAfterTheItemOrTheFolderHoldingThem) {
  AddTarget t = add_target({"C:\\x\\Photos\\"}, {true}, "vnr");
  EXPECT_EQ(t.archive, "C:\\x\\Photos.vnr");
  EXPECT_EQ(t.base, "C:\\x\\");
  EXPECT_EQ(add_target({"C:\\x\\a.txt"}, {false}, "zip").archive, "C:\\x\\a.zip");
  EXPECT_EQ(add_target({"C:\\x\\v1.2"}, {true}, "vnr").archive, "C:\\x\\v1.2.vnr");
  EXPECT_EQ(add_target({"C:\\x\\.profile"}, {false}, "vnr").archive, "C:\\x\\.profile.vnr");
  EXPECT_EQ(add_target({"C:\\x\\old.VNR"}, {false}, "vnr").archive, "C:\\x\\old.VNR.vnr");
  t = add_target({"C:\\x\\y\\a.txt", "C:\\x\\y\\b", "c:\\X\\y\\c.txt"}, {false, true, false}, "vnr");
  EXPECT_EQ(t.archive, "C:\\x\\y\\y.vnr");
  // Items of different folders: the folder holding them all.
  t = add_target({"C:\\x\\y\\a.txt", "C:\\x\\z\\b.txt"}, {false, false}, "vnr");
  EXPECT_EQ(t.archive, "C:\\x\\x.vnr");
  EXPECT_EQ(add_target({"C:\\a.txt", "C:\\b.txt"}, {false, false}, "vnr").archive, "C:\\Archive.vnr");
  // Nothing holds these, or they are no item of a folder at all.
  EXPECT_FALSE(add_target({"C:\\a.txt", "D:\\b.txt"}, {false, false}, "vnr").problem.empty());
  EXPECT_FALSE(add_target({"C:\\"}, {true}, "vnr").problem.empty());
  EXPECT_FALSE(add_target({"\\\\server\\share"}, {true}, "vnr").problem.empty());
  EXPECT_EQ(add_target({"\\\\server\\share\\d"}, {true}, "zip").archive, "\\\\server\\share\\d.zip");
  EXPECT_EQ(job_join_key(JobVerb::ADD_VNR, "C:\\X\\"), job_join_key(JobVerb::ADD_VNR, "c:\\x"));
  EXPECT_NE(job_join_key(JobVerb::ADD_VNR, "C:\\x"), job_join_key(JobVerb::ADD_ZIP, "C:\\x"));
}

TEST(ShellJob, NamesBelowAFolderKeepTheChosenFolderInsideTheArchive) {
  ScratchFolder s;
  write_file(s / "Photos/2024/a.txt", "a");
  for (const char* archive : {"p.vnr", "p.zip"}) {
    ToolRun run = run_tool("a -r '-w" + s.path + "/' '" + (s / archive) + "' '" + (s / "Photos") + "'");
    ASSERT_EQ(run.exit_code, 0) << run.err;
    std::string listing = run_tool("l -p '" + (s / archive) + "'").out;
    EXPECT_NE(listing.find("\tPhotos/2024/a.txt\n"), std::string::npos) << listing;
  }
  // A file outside that folder refuses the run; -w belongs to a alone.
  write_file(s / "other/b.txt", "b");
  ToolRun run = run_tool("a -r '-w" + (s / "Photos") + "' '" + (s / "q.vnr") + "' '" + (s / "other/b.txt") + "'");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("is not below"), std::string::npos) << run.err;
  EXPECT_FALSE(exists(s / "q.vnr"));
  EXPECT_EQ(run_tool("x '-w/' '" + (s / "p.vnr") + "'").exit_code, 2);
}

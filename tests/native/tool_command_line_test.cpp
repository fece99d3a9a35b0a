// The archiver's command line, list file reader and member naming.
#include <gtest/gtest.h>

#include "engine.h"
#include "list_file.h"
#include "member_names.h"
#include "options.h"
#include "tool_test_support.h"

namespace {

using Args = std::vector<std::string>;

TEST(SplitParameters, BlanksQuotesAndBackslashes) {
  EXPECT_EQ(split_parameters("  a   b  "), (Args{"a", "b"}));
  EXPECT_EQ(split_parameters("x \"C:\\a b\\c.vnr\" \"D:\\out\\"), (Args{"x", "C:\\a b\\c.vnr", "D:\\out\\"}));
  EXPECT_EQ(split_parameters("\"C:\\dir\\\" next"), (Args{"C:\\dir\\", "next"})) << "backslash never escapes";
  EXPECT_EQ(split_parameters("\"\""), (Args{""}));
  EXPECT_EQ(split_parameters(""), Args{});
}

TEST(ParametersAfterProgram, QuotedAndBarePrograms) {
  EXPECT_EQ(parameters_after_program("\"C:\\V\\\\vantor.exe\"  x  -t1"), "  x  -t1");
  EXPECT_EQ(parameters_after_program("vantor.exe a b"), " a b");
  EXPECT_EQ(parameters_after_program("vantor.exe"), "");
}

// Every refusal says what it refuses: the switch as typed, the command, or what is missing.
TEST(ParseOptions, RefusesWhatItCannotHonour) {
  const std::pair<Args, std::string> refused[] = {
      {{"q"}, "unknown command \"q\""},
      {{"a", "-m4", "x", "l"}, "switch -m4"},
      {{"a", "-mx", "x", "l"}, "switch -mx"},
      {{"a", "-k8", "x", "l"}, "switch -k8"},
      {{"a", "-t", "x", "l"}, "switch -t"},
      {{"a", "-t65", "x", "l"}, "switch -t65"},
      {{"a", "-b0", "x", "l"}, "switch -b0"},
      {{"a", "-s1", "x", "l"}, "switch -s1"},
      {{"a", "-q", "x", "l"}, "unknown switch -q"},
      {{"a", "x"}, "a needs \"x <list file>\" or an archive"},
      {{"x"}, "x needs an archive"},
      {{"x", "a", "b", "c"}, "at most one destination folder"},
      {{"l", "a", "b"}, "exactly one archive"},
      {{"a", "x", ""}, "an empty file name"},
      {{}, "no command given"},
  };
  for (const auto& [args, reason] : refused) {
    Options o;
    std::string problem;
    EXPECT_FALSE(parse_options(args, o, problem)) << reason;
    EXPECT_NE(problem.find(reason), std::string::npos) << "wanted \"" << reason << "\", got \"" << problem << "\"";
  }
}

TEST(ParseOptions, DirectAddAndPlainExtract) {
  Options o;
  std::string problem;
  ASSERT_TRUE(parse_options({"a", "-t0", "out.vnr", "dir", "file"}, o, problem));
  EXPECT_EQ(o.archive, "out.vnr");
  EXPECT_EQ(o.sources, (Args{"dir", "file"}));
  EXPECT_EQ(o.threads, 0);
  ASSERT_TRUE(parse_options({"x", "a.vnr"}, o, problem));
  EXPECT_EQ(o.destination, "");
  EXPECT_FALSE(o.marked_only);
}

std::vector<uint8_t> list_bytes(int64_t n1, int64_t n2, const std::string& archive, int32_t n3, const Args& paths) {
  std::vector<uint8_t> b;
  auto put = [&b](uint64_t v, int w) { for (int i = 0; i < w; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i))); };
  put(static_cast<uint64_t>(n1), 8);
  put(static_cast<uint64_t>(n2), 8);
  put(archive.size(), 4);
  b.insert(b.end(), archive.begin(), archive.end());
  put(static_cast<uint32_t>(n3), 4);
  for (const std::string& p : paths) {
    put(p.size(), 4);
    b.insert(b.end(), p.begin(), p.end());
  }
  return b;
}

TEST(ParseListFile, DamagedListsAreRefused) {
  ListFile list;
  std::string problem;
  EXPECT_TRUE(parse_list_file(list_bytes(1, 1, "a.vnr", 1, {"x"}), list, problem));
  EXPECT_FALSE(parse_list_file(list_bytes(2, 1, "a.vnr", 1, {"x"}), list, problem));
  EXPECT_FALSE(parse_list_file(list_bytes(2, 2, "a.vnr", 2, {"x"}), list, problem)) << "one record missing";
  EXPECT_FALSE(parse_list_file(list_bytes(1000000000, 1000000000, "a", 1000000000, {}), list, problem))
      << "a huge count must not allocate before checking";
  EXPECT_FALSE(parse_list_file(list_bytes(-1, -1, "a", -1, {}), list, problem));
  EXPECT_FALSE(parse_list_file(list_bytes(0, 0, "", 0, {}), list, problem)) << "no archive name";
  std::vector<uint8_t> trailing = list_bytes(0, 0, "a", 0, {});
  trailing.push_back(0);
  EXPECT_FALSE(parse_list_file(trailing, list, problem));
  std::vector<uint8_t> negative_length = list_bytes(1, 1, "a", 1, {"x"});
  negative_length[negative_length.size() - 2] = static_cast<uint8_t>(0xFF);
  EXPECT_FALSE(parse_list_file(negative_length, list, problem));
}

TEST(StoredNames, RelativeToTheDeepestCommonFolder) {
  std::vector<StoredName> names;
  std::string problem;
  ASSERT_TRUE(stored_names({"C:\\data\\docs\\a.txt", "C:\\data\\b.txt"}, true, names, problem));
  EXPECT_EQ(names[0].folder, "docs/");
  EXPECT_EQ(names[0].name, "a.txt");
  EXPECT_EQ(names[1].folder, "");
  ASSERT_TRUE(stored_names({"/home/u/p/x/y/a.c", "/home/u/p/x/z/b.c"}, true, names, problem));
  EXPECT_EQ(names[0].folder, "y/");
  EXPECT_EQ(names[1].folder, "z/");
  ASSERT_TRUE(stored_names({"C:\\one\\deep\\file.txt"}, true, names, problem));
  EXPECT_EQ(names[0].folder, "") << "a single file is stored by its name";
}

TEST(StoredNames, RootsAndDotsNeverReachTheArchive) {
  EXPECT_EQ(storage_components("C:\\a\\.\\b\\..\\c.txt"), (Args{"a", "c.txt"}));
  EXPECT_EQ(storage_components("\\\\server\\share\\d\\e.txt"), (Args{"d", "e.txt"}));
  EXPECT_EQ(storage_components("\\\\?\\C:\\d\\e.txt"), (Args{"d", "e.txt"}));
  EXPECT_EQ(storage_components("/../../etc/x"), (Args{"etc", "x"}));
  std::vector<StoredName> names;
  std::string problem;
  ASSERT_TRUE(stored_names({"C:\\a\\x.txt", "D:\\b\\y.txt"}, true, names, problem));
  EXPECT_EQ(names[0].folder, "a/") << "different drives share no folder, and no drive is stored";
  EXPECT_FALSE(stored_names({"C:\\a\\x.txt", "D:\\a\\x.txt"}, true, names, problem));
}

TEST(DeflateSettings, MethodsUltraAndWindow) {
  EXPECT_EQ(deflate_settings(0, false, 7).level, 0);
  EXPECT_EQ(deflate_settings(0, true, 7).level, 0) << "-mx0 still stores";
  EXPECT_LT(deflate_settings(1, false, 7).level, deflate_settings(3, false, 7).level);
  EXPECT_GT(deflate_settings(3, true, 7).level, deflate_settings(3, false, 7).level);
  EXPECT_EQ(deflate_settings(3, false, 7).window_bits, 15);
  EXPECT_EQ(deflate_settings(3, false, 0).window_bits, 9);
}

TEST(ToolProgram, UsageDocumentsEverySwitch) {
  ToolRun run = run_tool("");
  EXPECT_EQ(run.exit_code, 0);
  for (const char* s : {"-y", "-e", "-r", "-s", "-m<n>", "-mx<n>", "-k<n>", "-b<n>", "-t<n>", " a ", " x ", " l ", " t "})
    EXPECT_NE(run.out.find(s), std::string::npos) << s;
}

TEST(ToolProgram, BadCommandLineExitsTwoWithOneLine) {
  ToolRun run = run_tool("a -m9 x list");
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
}

TEST(ToolProgram, CompressFromListFileThenListTestAndExtract) {
  ScratchFolder dir;
  write_file(dir / "data/docs/a.txt", sample_text(3000, 1));
  write_file(dir / "data/b.txt", "b");
  std::string archive = dir / "Archive.vnr";
  std::vector<uint8_t> list = list_bytes(2, 2, archive, 2, {dir / "data/docs/a.txt", dir / "data/b.txt"});
  write_file(dir / "prog/master.lis", std::string(list.begin(), list.end()));
  // As the front end sends it, with the program folder's trailing separator doubled.
  ToolRun add = run_tool("' a -y  -e   -r  -b16 -k7 -t2 -s  -mx3 x \"" + dir.path + "/prog//master.lis'");
  ASSERT_EQ(add.exit_code, 0) << add.err;
  EXPECT_TRUE(exists(dir / "Archive.exe")) << "-e writes a self-extracting .exe";
  EXPECT_FALSE(exists(archive));
  ToolRun list_run = run_tool("l '" + dir.path + "/Archive.exe'");
  EXPECT_EQ(list_run.exit_code, 0);
  EXPECT_NE(list_run.out.find("docs/a.txt"), std::string::npos);
  EXPECT_EQ(run_tool("t '" + dir.path + "/Archive.exe'").exit_code, 0);
  ToolRun x = run_tool("x -t2 '" + dir.path + "/Archive.exe' '" + dir.path + "/out/'");
  ASSERT_EQ(x.exit_code, 0) << x.err;
  EXPECT_EQ(read_file(dir / "out/docs/a.txt"), read_file(dir / "data/docs/a.txt"));
}

}  // namespace

// The archiver's defences where Windows differs: links and reparse points in the destination,
// device paths, and names that differ only in letter case on a file system that ignores it.
#include <windows.h>

#include <gtest/gtest.h>

#include "../tool_entries.h"
#include "test_files.h"

namespace {

// Links made on the Unix side before the run (see tests/CMakeLists.txt), as Windows paths.
std::string prepared_link(const std::string& name) {
  std::string path = "Z:" + std::string(VANTOR_WIN_LINKS) + "/" + name;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string fresh_folder(const std::string& name) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  // Wine reuses process ids from run to run: the tick count keeps earlier runs' folders apart.
  std::string folder = std::string(temp) + "vantor-harden-" + name + "-" + std::to_string(GetCurrentProcessId()) +
                       "-" + std::to_string(GetTickCount64());
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder + "\\";
}

TEST(WindowsHardening, LinkAtTheMembersNameIsReplacedNotWrittenThrough) {
  std::string dir = fresh_folder("planted"), out = prepared_link("stage_planted\\out\\");
  test_files::write_file(dir + "a.vnr", stored_entry("", "a.txt", "inside"));
  EXPECT_TRUE(extract_into(dir + "a.vnr", out).ok);
  EXPECT_EQ(test_files::read_file(prepared_link("outside.txt")), "outside");
  EXPECT_EQ(test_files::read_file(out + "a.txt"), "inside");
}

// Between two members the member's folder is replaced by one holding a link where the next
// member's folder was: every member walks its folders afresh, so the link is refused.
TEST(WindowsHardening, FolderSwappedBetweenTwoMembersIsWalkedAfresh) {
  std::string dir = fresh_folder("swap"), out = dir + "out\\";
  std::string archive;
  for (int i = 0; i < 5; ++i) archive += stored_entry("a/docs/", "f" + std::to_string(i), "data");
  test_files::write_file(dir + "a.vnr", archive);
  bool swapped = false;
  RunResult r = extract_into(dir + "a.vnr", out, [&](const EntryHeader&) {
    if (swapped) return;
    swapped = MoveFileA((out + "a").c_str(), (out + "old").c_str()) &&
              MoveFileA(prepared_link("stage_swap").c_str(), (out + "a").c_str());
  });
  ASSERT_TRUE(swapped);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.members, 1);
  EXPECT_EQ(GetFileAttributesA((prepared_link("elsewhere") + "\\f1").c_str()), INVALID_FILE_ATTRIBUTES)
      << "nothing written through";
}

TEST(WindowsHardening, DevicePathsAreRefused) {
  std::string dir = fresh_folder("device");
  for (const char* device : {"\\\\.\\NUL", "\\\\.\\CON"}) {
    CompressJob job;
    job.archive_path = dir + "a.vnr";
    job.sources = {device};
    RunResult r = compress_archive(job);
    EXPECT_FALSE(r.ok) << device;
    ASSERT_FALSE(r.problems.empty());
    EXPECT_NE(r.problems.front().find("not a regular file"), std::string::npos) << r.problems.front();
    EXPECT_EQ(GetFileAttributesA(job.archive_path.c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

TEST(WindowsHardening, NamesDifferingOnlyInCaseAreBothKept) {
  std::string dir = fresh_folder("case"), out = dir + "out\\";
  test_files::write_file(dir + "a.vnr", stored_entry("netfilter/", "xt_CONNMARK.h", "upper") +
                                 stored_entry("netfilter/", "xt_connmark.h", "lower") +
                                 stored_entry("netfilter/", "xt_connmark (2).h", "taken"));
  RunResult r = extract_into(dir + "a.vnr", out);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.members, 3);
  EXPECT_EQ(r.renamed, 1);
  ASSERT_EQ(r.notes.size(), 1u);
  EXPECT_NE(r.notes[0].find("netfilter/xt_connmark.h extracted as netfilter/xt_connmark (3).h"), std::string::npos)
      << r.notes[0];
  EXPECT_EQ(test_files::read_file(out + "netfilter\\xt_CONNMARK.h"), "upper");
  EXPECT_EQ(test_files::read_file(out + "netfilter\\xt_connmark (3).h"), "lower");
  EXPECT_EQ(test_files::read_file(out + "netfilter\\xt_connmark (2).h"), "taken");
}

// The stream is unpacked to repack it: a.txt and A.txt, one file here, must both keep their bytes,
// and the temporary folder goes.
TEST(WindowsHardening, AddingToAStreamWithCaseTwinsKeepsBothMembers) {
  std::string dir = fresh_folder("twins");
  test_files::write_file(dir + "base.vnr", solid_entries({{"a.txt", "lower"}, {"A.txt", "UPPER"}, {"new.txt", "old"}}));
  test_files::write_file(dir + "new.txt", "new");
  CompressJob job;
  job.archive_path = dir + "base.vnr";
  job.sources = {dir + "new.txt"};
  RunResult r = compress_archive(job);
  ASSERT_TRUE(r.ok) << (r.problems.empty() ? "" : r.problems.front());
  EXPECT_EQ(r.members, 3);
  auto members = member_contents(dir + "base.vnr");
  ASSERT_EQ(members.size(), 3u);
  EXPECT_EQ(members[0], std::make_pair(std::string("a.txt"), std::string("lower")));
  EXPECT_EQ(members[1], std::make_pair(std::string("A.txt"), std::string("UPPER")));
  EXPECT_EQ(members[2], std::make_pair(std::string("new.txt"), std::string("new")));
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((dir + "base.vnr.vantor-*").c_str(), &found);
  EXPECT_EQ(find, INVALID_HANDLE_VALUE) << "left behind: " << found.cFileName;
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
}

// Letters outside ASCII fold as the file system folds them, in UTF-8 names and in older names
// read as code page 1252, on one thread and with writer threads alike.
TEST(WindowsHardening, NamesDifferingInCaseOutsideAsciiAreBothKept) {
  for (int threads : {1, 2}) {
    std::string dir = fresh_folder("case8"), out = dir + "out\\";
    test_files::write_file(dir + "a.vnr", stored_entry("", "\xC3\x89.txt", "E upper") + stored_entry("", "\xC3\xA9.txt", "e lower") +
                                              stored_entry("", "\xD0\x96.txt", "zhe upper") + stored_entry("", "\xD0\xB6.txt", "zhe lower") +
                                              stored_entry("", "caf\xC9.txt", "cafe upper") + stored_entry("", "caf\xE9.txt", "cafe lower"));
    ReadJob job;
    job.archive_path = dir + "a.vnr";
    job.destination = out;
    job.threads = threads;
    RunResult r = read_archive(job);
    ASSERT_TRUE(r.ok) << threads;
    EXPECT_EQ(r.members, 6) << threads;
    EXPECT_EQ(r.renamed, 3) << threads;
    EXPECT_EQ(test_files::read_file(out + "\xC3\x89.txt"), "E upper");
    EXPECT_EQ(test_files::read_file(out + "\xC3\xA9 (2).txt"), "e lower");
    EXPECT_EQ(test_files::read_file(out + "\xD0\x96.txt"), "zhe upper");
    EXPECT_EQ(test_files::read_file(out + "\xD0\xB6 (2).txt"), "zhe lower");
    EXPECT_EQ(test_files::read_file(out + "caf\xC3\x89.txt"), "cafe upper");
    EXPECT_EQ(test_files::read_file(out + "caf\xC3\xA9 (2).txt"), "cafe lower");
  }
}

// LONG~LMQ.TXT is Wine's short name of longfilename.txt (LONGFI~1.TXT on Windows): writing it
// would reach that file, the archive's member or the user's.
std::string short_name_of(const std::string& path) {
  char buffer[MAX_PATH];
  DWORD n = GetShortPathNameA(path.c_str(), buffer, MAX_PATH);
  std::string full(buffer, n < MAX_PATH ? n : 0);
  return full.substr(full.find_last_of('\\') + 1);
}

TEST(WindowsHardening, ShortNamesNeverReachAnotherFile) {
  std::string dir = fresh_folder("short"), out = dir + "out\\";
  test_files::write_file(dir + "a.vnr", stored_entry("", "longfilename.txt", "long") + stored_entry("", "LONG~LMQ.TXT", "alias"));
  RunResult r = extract_into(dir + "a.vnr", out);
  ASSERT_EQ(short_name_of(out + "longfilename.txt"), "LONG~LMQ.TXT");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.members, 1);
  ASSERT_EQ(r.problems.size(), 1u);
  EXPECT_NE(r.problems[0].find("refused LONG~LMQ.TXT: "), std::string::npos) << r.problems[0];
  EXPECT_EQ(test_files::read_file(out + "longfilename.txt"), "long");

  // The user's own file, and a folder reached by its short name.
  std::string user = dir + "user\\";
  CreateDirectoryA(user.c_str(), nullptr);
  CreateDirectoryA((user + "longfoldername").c_str(), nullptr);
  test_files::write_file(user + "longfilename.txt", "user's");
  std::string folder_alias = short_name_of(user + "longfoldername");
  ASSERT_NE(folder_alias.find('~'), std::string::npos);
  test_files::write_file(dir + "b.vnr", stored_entry("", "LONG~LMQ.TXT", "alias") + stored_entry(folder_alias + "/", "x.txt", "x") +
                                            stored_entry("", "fine.txt", "fine"));
  for (int threads : {1, 2}) {
    ReadJob job;
    job.archive_path = dir + "b.vnr";
    job.destination = user;
    job.threads = threads;
    r = read_archive(job);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.members, 1) << "only fine.txt is written";
    EXPECT_EQ(r.problems.size(), 2u);
    EXPECT_EQ(test_files::read_file(user + "longfilename.txt"), "user's");
    EXPECT_FALSE(test_files::exists(user + "longfoldername\\x.txt"));
  }
}

// The user's own "x (2).txt" was replaced by X.txt's rename; a free number is taken instead.
TEST(WindowsHardening, ACaseRenameTakesANumberFreeOnDiskToo) {
  std::string dir = fresh_folder("renamed"), out = dir + "out\\";
  CreateDirectoryA(out.c_str(), nullptr);
  test_files::write_file(out + "x (2).txt", "user's");
  test_files::write_file(dir + "a.vnr", stored_entry("", "x.txt", "lower") + stored_entry("", "X.txt", "upper"));
  RunResult r = extract_into(dir + "a.vnr", out);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.members, 2);
  EXPECT_EQ(r.renamed, 1);
  ASSERT_EQ(r.notes.size(), 1u);
  EXPECT_NE(r.notes[0].find("X.txt extracted as X (3).txt"), std::string::npos) << r.notes[0];
  EXPECT_EQ(test_files::read_file(out + "x (2).txt"), "user's");
  EXPECT_EQ(test_files::read_file(out + "x.txt"), "lower");
  EXPECT_EQ(test_files::read_file(out + "X (3).txt"), "upper");
}

// 2^62 bytes declared for 1.1 MB of deflate data: refused before a byte is written.
TEST(WindowsHardening, AnImpossibleRecordedSizeIsRefusedBeforeWriting) {
  std::string dir = fresh_folder("bomb"), out = dir + "out\\";
  test_files::write_file(dir + "a.vnr", with_recorded_size(solid_entries({{"bomb.bin", noise(1100000)}}), int64_t(1) << 62));
  RunResult r = extract_into(dir + "a.vnr", out);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.members, 0);
  EXPECT_FALSE(test_files::exists(out + "bomb.bin"));
}

// A downloaded archive's Zone.Identifier reaches every file written from it, new or replacing
// one, on any thread count, and the archive written when adding to it (under Wine the stream is
// a file named "name:Zone.Identifier", reached through the same calls).
TEST(WindowsHardening, FilesWrittenFromADownloadedArchiveCarryItsMarkOfTheWeb) {
  const std::string mark = "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://example.com/a.vnr\r\n";
  std::string dir = fresh_folder("zone"), out = dir + "out\\";
  test_files::write_file(dir + "a.vnr", stored_entry("", "a.txt", "a") + stored_entry("docs/", "b.txt", "b"));
  test_files::write_file(dir + "a.vnr:Zone.Identifier", mark);
  for (int threads : {1, 2}) {
    ReadJob job;
    job.archive_path = dir + "a.vnr";
    job.destination = out;
    job.threads = threads;
    RunResult r = read_archive(job);  // the second run replaces the files of the first
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.members, 2);
    EXPECT_EQ(test_files::read_file(out + "a.txt:Zone.Identifier"), mark) << threads;
    EXPECT_EQ(test_files::read_file(out + "docs\\b.txt:Zone.Identifier"), mark) << threads;
  }
  test_files::write_file(dir + "c.txt", "c");
  CompressJob add;
  add.archive_path = dir + "a.vnr";
  add.sources = {dir + "c.txt"};
  ASSERT_TRUE(compress_archive(add).ok);
  EXPECT_EQ(test_files::read_file(dir + "a.vnr:Zone.Identifier"), mark);
}

}  // namespace

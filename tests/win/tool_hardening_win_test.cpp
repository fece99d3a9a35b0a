// The archiver's defences where Windows differs: links and reparse points in the destination,
// device paths, names that differ only in letter case on a file system that ignores it, and the
// handles named for the progress channel.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "../tool_entries.h"
#include "format/utf8_text.h"
#include "remove.h"
#include "test_files.h"

namespace {

using test_files::run_with_password;

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

using Members = std::vector<std::pair<std::string, std::string>>;

RunResult extract_with(const std::string& archive, const std::string& destination, int threads) {
  ReadJob job;
  job.archive_path = archive;
  job.destination = destination;
  job.threads = threads;
  return read_archive(job);
}

// Repacking went through names on disk, where A.txt was kept as "A (2).txt" and read back as a.txt.
TEST(WindowsHardening, AddingToAStreamWithCaseTwinsKeepsBothMembers) {
  std::string dir = fresh_folder("twins");
  test_files::write_file(dir + "base.vnr", solid_entries({{"a.txt", "lower"}, {"A.txt", "UPPER"}, {"new.txt", "old"}}));
  test_files::write_file(dir + "new.txt", "new");
  CompressJob job;
  job.archive_path = dir + "base.vnr";
  job.sources = {dir + "new.txt"};
  EXPECT_EQ(compress_archive(job).members, 3);
  EXPECT_EQ(member_contents(dir + "base.vnr"), (Members{{"a.txt", "lower"}, {"A.txt", "UPPER"}, {"new.txt", "new"}}));
  WIN32_FIND_DATAA found;
  EXPECT_EQ(FindFirstFileA((dir + "base.vnr.vantor-*").c_str(), &found), INVALID_HANDLE_VALUE) << found.cFileName;
}

// É/é, Ж/ж in UTF-8 and caf\xC9/caf\xE9 read as code page 1252 were written over each other.
TEST(WindowsHardening, NamesDifferingInCaseOutsideAsciiAreBothKept) {
  Members twins = {{"\xC3\x89", "\xC3\xA9"}, {"\xD0\x96", "\xD0\xB6"}, {"caf\xC9", "caf\xE9"}};
  for (int threads : {1, 2}) {
    std::string dir = fresh_folder("case8"), archive;
    for (const auto& [upper, lower] : twins) archive += stored_entry("", upper + ".txt", "U") + stored_entry("", lower + ".txt", "l");
    test_files::write_file(dir + "a.vnr", archive);
    RunResult r = extract_with(dir + "a.vnr", dir + "out", threads);
    EXPECT_TRUE(r.ok && r.members == 6 && r.renamed == 3) << threads;
    for (const auto& [upper, lower] : twins) {
      EXPECT_EQ(test_files::read_file(dir + "out\\" + name_for_system(upper, true) + ".txt"), "U");
      EXPECT_EQ(test_files::read_file(dir + "out\\" + name_for_system(lower, true) + " (2).txt"), "l");
    }
  }
}

// LONG~LMQ.TXT is Wine's short name of longfilename.txt (LONGFI~1.TXT on Windows): it reached that
// file, the archive's member or the user's, and a folder's short name reached its folder.
TEST(WindowsHardening, ShortNamesNeverReachAnotherFile) {
  std::string dir = fresh_folder("short"), out = dir + "out\\";
  test_files::write_file(dir + "a.vnr", stored_entry("", "longfilename.txt", "long") + stored_entry("", "LONG~LMQ.TXT", "alias"));
  RunResult r = extract_into(dir + "a.vnr", out);
  EXPECT_TRUE(!r.ok && r.members == 1 && r.problems.size() == 1);
  EXPECT_EQ(test_files::read_file(out + "longfilename.txt"), "long");
  CreateDirectoryA((out + "longfoldername").c_str(), nullptr);
  char alias[MAX_PATH];
  std::string folder(alias, GetShortPathNameA((out + "longfoldername").c_str(), alias, MAX_PATH));
  test_files::write_file(dir + "b.vnr", stored_entry("", "LONG~LMQ.TXT", "alias") +
                                            stored_entry(folder.substr(folder.rfind('\\') + 1) + "/", "x.txt", "x") + stored_entry("", "fine.txt", "f"));
  for (int threads : {1, 2}) {
    r = extract_with(dir + "b.vnr", out, threads);
    EXPECT_TRUE(!r.ok && r.members == 1 && r.problems.size() == 2) << threads;
    EXPECT_EQ(test_files::read_file(out + "longfilename.txt"), "long");
    EXPECT_FALSE(test_files::exists(out + "longfoldername\\x.txt"));
  }
}

// The user's own "x (2).txt" was replaced by X.txt's rename.
TEST(WindowsHardening, ACaseRenameTakesANumberFreeOnDiskToo) {
  std::string dir = fresh_folder("renamed"), out = dir + "out\\";
  CreateDirectoryA(out.c_str(), nullptr);
  test_files::write_file(out + "x (2).txt", "user's");
  test_files::write_file(dir + "a.vnr", stored_entry("", "x.txt", "lower") + stored_entry("", "X.txt", "upper"));
  RunResult r = extract_into(dir + "a.vnr", out);
  EXPECT_TRUE(r.ok && r.members == 2 && r.renamed == 1);
  EXPECT_EQ(test_files::read_file(out + "x (2).txt"), "user's");
  EXPECT_EQ(test_files::read_file(out + "X (3).txt"), "upper");
}

// 2^62 bytes declared for 1.1 MB of deflate data: about 1 GB was written before it was refused.
TEST(WindowsHardening, AnImpossibleRecordedSizeIsRefusedBeforeWriting) {
  std::string dir = fresh_folder("bomb");
  test_files::write_file(dir + "a.vnr", with_recorded_size(solid_entries({{"bomb.bin", noise(1100000)}}), int64_t(1) << 62));
  RunResult r = extract_into(dir + "a.vnr", dir + "out");
  ASSERT_EQ(r.problems.size(), 1u);
  EXPECT_NE(r.problems[0].find("refused bomb.bin: its recorded size"), std::string::npos) << r.problems[0];
  EXPECT_FALSE(test_files::exists(dir + "out\\bomb.bin"));
}

// A downloaded archive's Zone.Identifier reaches every file written from it, new or replacing,
// on any thread count, and the archive that replaces it when adding (under Wine the stream is a
// file named "name:Zone.Identifier", reached through the same calls).
TEST(WindowsHardening, FilesWrittenFromADownloadedArchiveCarryItsMarkOfTheWeb) {
  const std::string mark = "[ZoneTransfer]\r\nZoneId=3\r\n", dir = fresh_folder("zone"), out = dir + "out\\";
  test_files::write_file(dir + "a.vnr", stored_entry("", "a.txt", "a") + stored_entry("docs/", "b.txt", "b"));
  test_files::write_file(dir + "a.vnr:Zone.Identifier", mark);
  for (int threads : {1, 2}) {
    EXPECT_EQ(extract_with(dir + "a.vnr", out, threads).members, 2);
    EXPECT_EQ(test_files::read_file(out + "a.txt:Zone.Identifier") + test_files::read_file(out + "docs\\b.txt:Zone.Identifier"), mark + mark);
  }
  CompressJob add;
  add.archive_path = dir + "a.vnr";
  add.sources = {out + "a.txt"};
  ASSERT_TRUE(compress_archive(add).ok);
  EXPECT_EQ(test_files::read_file(dir + "a.vnr:Zone.Identifier"), mark);
}

// Unix links at the lock's name and at leftover names, made before the run (see
// tests/CMakeLists.txt). Under Wine they open as the file or folder they name, with no reparse
// attribute: a lock deleted on close and the sweep of leftovers deleted the user's file.
TEST(WindowsHardening, LinksAtTheLockAndLeftoverNamesNeverCostTheUsersFiles) {
  for (const char* stage : {"planted\\lock_file\\", "planted\\lock_folder\\"}) {
    std::string dir = prepared_link(stage);
    test_files::write_file(dir + "x.vnr", stored_entry("", "old.txt", "old"));
    test_files::write_file(dir + "new.txt", "new");
    CompressJob add;
    add.archive_path = dir + "x.vnr";
    add.sources = {dir + "new.txt"};
    add.lock_wait_ms = 0;
    RemoveJob remove;
    remove.archive_path = dir + "x.vnr";
    remove.paths = {"old.txt"};
    remove.lock_wait_ms = 0;
    RunResult added = compress_archive(add), removed = remove_members(remove).run;
    for (const RunResult& r : {added, removed}) {
      EXPECT_FALSE(r.ok) << stage;
      ASSERT_FALSE(r.problems.empty());
      EXPECT_NE(r.problems[0].find(dir + "x.vnr.vantor-lock, which keeps other runs away"), std::string::npos) << r.problems[0];
      // The file a link names is refused as the lock, not taken and deleted.
      if (std::string(stage).find("file") != std::string::npos) {
        EXPECT_EQ(r.problems[0].rfind("refused ", 0), 0u);
      }
    }
    EXPECT_EQ(member_paths(dir + "x.vnr"), std::vector<std::string>{"old.txt"});
  }
  EXPECT_EQ(test_files::read_file(prepared_link("planted\\mine.txt")), "mine");

  // Leftover names: the links stay, what they name stays, and the run goes on.
  std::string dir = prepared_link("planted\\sweep\\");
  test_files::write_file(dir + "a.txt", "a");
  test_files::write_file(dir + "b.txt", "b");
  CompressJob add;
  add.archive_path = dir + "x.vnr";
  add.sources = {dir + "a.txt", dir + "b.txt"};
  EXPECT_TRUE(compress_archive(add).ok);
  RemoveJob remove;
  remove.archive_path = dir + "x.vnr";
  remove.paths = {"a.txt"};
  EXPECT_TRUE(remove_members(remove).run.ok);
  EXPECT_EQ(member_paths(dir + "x.vnr"), std::vector<std::string>{"b.txt"});
  EXPECT_EQ(test_files::read_file(prepared_link("planted\\mine.txt")), "mine");
  EXPECT_EQ(test_files::read_file(prepared_link("planted\\my_folder\\kept.txt")), "kept");
}

// The real vantor.exe adding one file, its output into `output`, with the channel named by
// `progress` and `cancel` ("out": the handle of its own output); its exit code.
DWORD run_with_channel(const std::string& dir, const std::string& progress, const std::string& cancel,
                       const std::string& output) {
  HANDLE out = test_files::inheritable_output(output);
  std::string own_output = std::to_string(reinterpret_cast<uintptr_t>(out));
  SetEnvironmentVariableA("VANTOR_PROGRESS", (progress == "out" ? own_output : progress).c_str());
  SetEnvironmentVariableA("VANTOR_CANCEL", (cancel == "out" ? own_output : cancel).c_str());
  DWORD code = test_files::run_tool("a \"" + dir + "x.vnr\" \"" + dir + "a.txt\"", out);
  SetEnvironmentVariableA("VANTOR_PROGRESS", nullptr);
  SetEnvironmentVariableA("VANTOR_CANCEL", nullptr);
  return code;
}

// Handles the process has anyway (its standard ones, which a child's output file is, and the
// system's own) were taken for the channel: the run cancelled itself at once, or wrote progress
// lines into the output the front end reads as complaints. (Operations' progress test runs the
// front end's own pipe and event.)
TEST(WindowsHardening, TheChannelTakesOnlyAnInheritedPipeAndEvent) {
  std::string dir = fresh_folder("channel");
  test_files::write_file(dir + "a.txt", "a");
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE own = CreateFileA((dir + "own.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  std::vector<std::string> values = {"4", "8", "12", "16", "20", "out", std::to_string(reinterpret_cast<uintptr_t>(own))};
  for (const std::string& value : values) {
    DeleteFileA((dir + "x.vnr").c_str());
    EXPECT_EQ(run_with_channel(dir, value, value, dir + "out.txt"), 0u) << value;
    EXPECT_EQ(test_files::read_file(dir + "out.txt").find("progress"), std::string::npos) << value;
    EXPECT_EQ(member_paths(dir + "x.vnr"), std::vector<std::string>{"a.txt"}) << value;
  }
  CloseHandle(own);
  EXPECT_EQ(test_files::read_file(dir + "own.txt"), "");
}

// The password through the front end's pipe: an archive sealed and read back with names hidden, a
// wrong password refused with nothing written, and a file's handle in place of a pipe refused.
TEST(WindowsHardening, EncryptedArchiveWithThePasswordThroughAnInheritedPipe) {
  std::string dir = fresh_folder("password");
  CreateDirectoryA((dir + "src").c_str(), nullptr);
  std::string text;
  for (int i = 0; i < 30000; ++i) text += "line " + std::to_string(i % 113) + "\r\n";
  test_files::write_file(dir + "src\\a.txt", text);
  test_files::write_file(dir + "src\\b.txt", "bee");
  std::string archive = "\"" + dir + "e.vnr\"";
  ASSERT_EQ(run_with_password("a -r -pw -he " + archive + " \"" + dir + "src\"", "p\xc3\xa4ss", dir + "add.txt"), 0u)
      << test_files::read_file(dir + "add.txt");
  std::string bytes = test_files::read_file(dir + "e.vnr");
  ASSERT_GT(bytes.size(), 9u);
  EXPECT_EQ(static_cast<uint8_t>(bytes[9]), 8 | 16 | 2);
  EXPECT_EQ(bytes.find("b.txt"), std::string::npos);
  EXPECT_EQ(run_with_password("x -pw " + archive + " \"" + dir + "out\"", "p\xc3\xa4ss", dir + "x.txt"), 0u)
      << test_files::read_file(dir + "x.txt");
  EXPECT_EQ(test_files::read_file(dir + "out\\a.txt"), text);
  EXPECT_EQ(test_files::read_file(dir + "out\\b.txt"), "bee");
  // Changed through its masked working copy: a member added, another removed.
  test_files::write_file(dir + "c.txt", "sea");
  EXPECT_EQ(run_with_password("a -pw " + archive + " \"" + dir + "c.txt\"", "p\xc3\xa4ss", dir + "a2.txt"), 0u)
      << test_files::read_file(dir + "a2.txt");
  EXPECT_EQ(run_with_password("d -pw " + archive + " b.txt", "p\xc3\xa4ss", dir + "d.txt"), 0u)
      << test_files::read_file(dir + "d.txt");
  EXPECT_EQ(run_with_password("x -pw " + archive + " \"" + dir + "out2\"", "p\xc3\xa4ss", dir + "x2.txt"), 0u)
      << test_files::read_file(dir + "x2.txt");
  EXPECT_EQ(test_files::read_file(dir + "out2\\a.txt"), text);
  EXPECT_EQ(test_files::read_file(dir + "out2\\c.txt"), "sea");
  EXPECT_FALSE(test_files::exists(dir + "out2\\b.txt"));
  EXPECT_EQ(run_with_password("x -pw " + archive + " \"" + dir + "wrong\"", "pass", dir + "wrong.txt"), 1u);
  EXPECT_NE(test_files::read_file(dir + "wrong.txt").find("wrong password for "), std::string::npos)
      << test_files::read_file(dir + "wrong.txt");
  EXPECT_FALSE(test_files::exists(dir + "wrong"));
  test_files::write_file(dir + "pw.txt", "p\xc3\xa4ss");
  EXPECT_EQ(run_with_password("l -pw " + archive, "", dir + "file.txt", dir + "pw.txt"), 1u);
  EXPECT_NE(test_files::read_file(dir + "file.txt").find("VANTOR_PASSWORD_HANDLE does not name an open pipe"),
            std::string::npos) << test_files::read_file(dir + "file.txt");
}

// A zip's encrypted members open with the password through the pipe: the traditional cipher, and
// AES through the system's CNG; a wrong password writes nothing of the member.
TEST(WindowsHardening, ZipMembersDecryptWithThePassword) {
  std::string dir = fresh_folder("zip_password"), foreign = "Z:" + std::string(VANTOR_WIN_FOREIGN) + "\\";
  std::replace(foreign.begin(), foreign.end(), '/', '\\');
  for (std::string zip : {"traditional.zip", "aes.zip"}) {
    std::string out = dir + zip + "-out\\", log = dir + zip + ".txt";
    EXPECT_EQ(run_with_password("x -pw \"" + foreign + zip + "\" \"" + out + "\"", "secret", log), 0u)
        << zip << test_files::read_file(log);
    EXPECT_EQ(test_files::read_file(out + "a.txt"), "alpha") << zip;
    std::string bad = dir + zip + "-bad\\", bad_log = dir + zip + "-bad.txt";
    EXPECT_EQ(run_with_password("x -pw \"" + foreign + zip + "\" \"" + bad + "\"", "wrong", bad_log), 1u) << zip;
    EXPECT_FALSE(test_files::exists(bad + "a.txt")) << zip;
  }
}

}  // namespace

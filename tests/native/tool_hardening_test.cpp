// One regression test per fault found by attacking the archiver: links planted or swapped in
// the destination, special files, hostile list files, raw control characters in output,
// and `a` throwing away what an archive held.
#include <sys/inotify.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>

#include <gtest/gtest.h>

#include "engine.h"
#include "file_io.h"
#include "tool_test_support.h"

namespace {

std::string q(const std::string& s) { return "'" + s + "'"; }

std::string list_bytes(const std::string& archive, const std::vector<std::string>& paths, int64_t count) {
  std::string b;
  auto put = [&b](uint64_t v, int w) { for (int i = 0; i < w; ++i) b += static_cast<char>(v >> (8 * i)); };
  put(static_cast<uint64_t>(count), 8); put(static_cast<uint64_t>(count), 8);
  put(archive.size(), 4); b += archive; put(static_cast<uint64_t>(count), 4);
  for (const std::string& p : paths) { put(p.size(), 4); b += p; }
  return b;
}

// A file already there is replaced through a temporary name: that name is drawn anew on every
// run and created exclusively, so links planted at the names it used to have (process id and a
// counter) are neither followed nor put in place.
TEST(PlantedLink, AtTheOldTemporaryNameIsNeverFollowed) {
  ScratchFolder dir;
  write_file(dir / "outside.txt", "outside");
  write_file(dir / "a.vnr", stored_entry("", "a.txt", "inside"));
  mkdir((dir / "out").c_str(), 0777);
  std::vector<std::string> planted;
  for (int n = 0; n < 4; ++n) {
    planted.push_back(".vantor-" + std::to_string(getpid()) + "-" + std::to_string(n) + ".part");
    ASSERT_EQ(symlink((dir / "outside.txt").c_str(), (dir / ("out/" + planted.back())).c_str()), 0);
  }
  Folder out;
  ASSERT_TRUE(out.open_root(dir / "out"));
  File file;
  EXPECT_FALSE(out.create_file(planted[0], 0644, file)) << "a link at the name makes creation fail";
  EXPECT_EQ(read_file(dir / "outside.txt"), "outside");

  std::vector<std::string> temporaries;
  for (int run = 0; run < 2; ++run) {
    write_file(dir / "out/a.txt", "old");
    std::vector<std::string> created = created_in(dir / "out", [&] {
      RunResult r = extract_into(dir / "a.vnr", dir / "out");
      EXPECT_TRUE(r.ok) << (r.problems.empty() ? "" : r.problems[0]);
    });
    ASSERT_EQ(created.size(), 1u) << "a.txt is there, so only its temporary is created";
    temporaries.push_back(created[0]);
    EXPECT_EQ(created[0].rfind(".vantor-", 0), 0u) << created[0];
    EXPECT_EQ(std::count(planted.begin(), planted.end(), created[0]), 0) << created[0];
    EXPECT_EQ(read_file(dir / "outside.txt"), "outside");
    struct stat st;
    ASSERT_EQ(lstat((dir / "out/a.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(read_file(dir / "out/a.txt"), "inside");
    EXPECT_FALSE(exists(dir / ("out/" + created[0]))) << "renamed into place";
  }
  EXPECT_NE(temporaries[0], temporaries[1]) << "every run draws a new name";
}

// Links planted at the lock's name and at leftover names a run sweeps, to the user's file and
// folder: the lock is refused, a leftover link goes itself, and what they name stays.
TEST(PlantedLink, AtTheLockIsRefusedAndAtALeftoverNameOnlyTheLinkGoes) {
  ScratchFolder dir;
  write_file(dir / "mine.txt", "mine");
  write_file(dir / "my_folder/kept.txt", "kept");
  write_file(dir / "new.txt", "new");
  write_file(dir / "x.vnr", stored_entry("", "old.txt", "old"));
  const std::string archive = read_file(dir / "x.vnr");
  for (const std::string& target : {dir / "mine.txt", dir / "my_folder"}) {
    ASSERT_EQ(symlink(target.c_str(), (dir / "x.vnr.vantor-lock").c_str()), 0);
    for (const std::string& command : {"a " + q(dir / "x.vnr") + " " + q(dir / "new.txt"), "d " + q(dir / "x.vnr") + " old.txt"}) {
      ToolRun run = run_tool(command);
      EXPECT_EQ(run.exit_code, 1) << command;
      EXPECT_NE(run.err.find("refused " + (dir / "x.vnr.vantor-lock") + ", which keeps other runs away"), std::string::npos)
          << run.err;
    }
    ASSERT_EQ(unlink((dir / "x.vnr.vantor-lock").c_str()), 0);
  }
  EXPECT_EQ(read_file(dir / "x.vnr"), archive);

  const std::string stale = dir / "x.vnr.vantor-0123456789abcdef";
  const std::string folder_tmp = dir / "x.vnr.vantor-1123456789abcdef.tmp";
  ASSERT_EQ(mkdir((stale + ".d").c_str(), 0777) + mkdir(folder_tmp.c_str(), 0777), 0);
  for (const std::string& name : {stale + ".tmp", stale + ".tmp.3", stale + ".d/m.txt", folder_tmp + "/m.txt"})
    ASSERT_EQ(symlink((dir / "mine.txt").c_str(), name.c_str()), 0) << name;
  ASSERT_EQ(symlink((dir / "my_folder").c_str(), (stale + ".d/docs").c_str()), 0);
  ASSERT_EQ(symlink((dir / "my_folder").c_str(), (dir / "x.vnr.vantor-fedcba9876543210.d").c_str()), 0);
  EXPECT_EQ(run_tool("a " + q(dir / "x.vnr") + " " + q(dir / "new.txt")).exit_code, 0);
  EXPECT_EQ(member_paths(dir / "x.vnr"), (std::vector<std::string>{"old.txt", "new.txt"}));
  EXPECT_EQ(sorted_names_in(dir.path), (std::vector<std::string>{"mine.txt", "my_folder", "new.txt", "x.vnr"}));
  EXPECT_EQ(read_file(dir / "mine.txt") + read_file(dir / "my_folder/kept.txt"), "minekept");
}

TEST(SwappedFolder, ALinkPutInPlaceBetweenTwoMembersIsRefused) {
  ScratchFolder dir;
  std::string archive;
  for (int i = 0; i < 5; ++i) archive += stored_entry("docs/", "f" + std::to_string(i), "data");
  write_file(dir / "a.vnr", archive);
  mkdir((dir / "elsewhere").c_str(), 0777);
  bool swapped = false;
  RunResult r = extract_into(dir / "a.vnr", dir / "out", [&](const EntryHeader&) {
    if (swapped) return;
    swapped = rename((dir / "out/docs").c_str(), (dir / "out/old").c_str()) == 0 &&
              symlink((dir / "elsewhere").c_str(), (dir / "out/docs").c_str()) == 0;
  });
  ASSERT_TRUE(swapped);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.members, 1);
  EXPECT_NE(r.problems.front().find("is a link"), std::string::npos) << r.problems.front();
  EXPECT_EQ(std::system(("test -z \"$(ls -A " + q(dir / "elsewhere") + ")\"").c_str()), 0) << "nothing written through";
}

TEST(SpecialFiles, FifoAndDeviceAreRefusedWithoutWaiting) {
  ScratchFolder dir;
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0666), 0);
  for (const std::string& source : {dir / "fifo", std::string("/dev/zero")}) {
    ToolRun run = run_tool("a " + q(dir / "a.vnr") + " " + q(source));
    EXPECT_EQ(run.exit_code, 1) << source;
    EXPECT_NE(run.err.find("not a regular file"), std::string::npos) << run.err;
    EXPECT_FALSE(exists(dir / "a.vnr"));
  }
  write_file(dir / "tree/a.txt", "a");
  ASSERT_EQ(mkfifo((dir / "tree/pipe").c_str(), 0666), 0);
  EXPECT_EQ(run_tool("a -r " + q(dir / "a.vnr") + " " + q(dir / "tree")).exit_code, 1) << "inside a folder too";
}

TEST(HostileListFile, RefusedBeforeAnythingIsWrittenAndTheArchiveKept) {
  ScratchFolder dir;
  write_file(dir / "a.txt", "a");
  write_file(dir / "out/keep.vnr", stored_entry("", "old.txt", "old"));
  std::string keep = read_file(dir / "out/keep.vnr");
  std::string nul_archive = dir / "out/keep.vnr";
  nul_archive += std::string("\0junk", 5);
  std::string nul_member = dir / "a.txt";
  nul_member += std::string("\0x", 2);
  const std::string lists[] = {list_bytes(nul_archive, {dir / "a.txt", dir / "unreadable"}, 2),
                               list_bytes(dir / "out/keep.vnr", {}, 0),
                               list_bytes(dir / "out/keep.vnr", {nul_member}, 1)};
  for (const std::string& list : lists) {
    write_file(dir / "master.lis", list);
    ToolRun run = run_tool("a -r x " + q(dir / "master.lis"));
    EXPECT_EQ(run.exit_code, 2) << run.err;
    EXPECT_NE(run.err.find("refused the list file"), std::string::npos) << run.err;
    EXPECT_EQ(read_file(dir / "out/keep.vnr"), keep);
  }
}

TEST(PrintedText, ControlCharactersAndNulAreEscaped) {
  ScratchFolder dir;
  write_file(dir / "a.vnr", stored_entry("", std::string("ab\0c\x1b[2J\nforged", 15), "x"));
  ToolRun list = run_tool("l " + q(dir / "a.vnr"));
  EXPECT_EQ(list.exit_code, 0);
  EXPECT_NE(list.out.find("ab\\x00c\\x1b[2J\\x0aforged\n"), std::string::npos) << list.out;
  EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 1);
  ToolRun x = run_tool("x " + q(dir / "a.vnr") + " " + q(dir / "out"));
  EXPECT_EQ(x.exit_code, 1);
  EXPECT_NE(x.err.find("refused ab\\x00c\\x1b[2J\\x0aforged: "), std::string::npos) << x.err;
}

TEST(AddToArchive, KeepsOldMembersCopiesTheirBytesAndReplacesTheSamePath) {
  for (const char* solid : {"", "-s"}) {
    ScratchFolder dir;
    write_file(dir / "src/a.txt", sample_text(3000, 1));
    write_file(dir / "src/b.txt", sample_text(3000, 2));
    write_file(dir / "src/c.txt", sample_text(3000, 3));
    std::string archive = q(dir / "x.vnr");
    ASSERT_EQ(run_tool(std::string("a -r ") + solid + " " + archive + " " + q(dir / "src/a.txt") + " " + q(dir / "src/b.txt")).exit_code, 0);
    std::string first = read_file(dir / "x.vnr");
    write_file(dir / "src/b.txt", "new b");
    ToolRun again = run_tool(std::string("a -r ") + solid + " " + archive + " " + q(dir / "src/b.txt") + " " + q(dir / "src/c.txt"));
    ASSERT_EQ(again.exit_code, 0) << again.err;
    ToolRun x = run_tool("x " + archive + " " + q(dir / "out"));
    ASSERT_EQ(x.exit_code, 0) << x.err;
    EXPECT_NE(x.out.find("3 files"), std::string::npos) << solid << x.out;
    EXPECT_EQ(read_file(dir / "out/a.txt"), sample_text(3000, 1)) << solid;
    EXPECT_EQ(read_file(dir / "out/b.txt"), "new b") << solid;
    EXPECT_EQ(read_file(dir / "out/c.txt"), sample_text(3000, 3)) << solid;
    if (!*solid) {
      std::string a_entry = first.substr(0, first.find("b.txt") - 12);  // a.txt's entry comes first
      EXPECT_EQ(read_file(dir / "x.vnr").compare(0, a_entry.size(), a_entry), 0) << "copied, not recompressed";
    }
  }
}

// Names of older entries are converted from code page 1252 when read, so their header lengths
// cannot be derived from the names: the copied bytes must still start at the entry.
TEST(AddToArchive, KeepsAnOlderEntryWhoseNameIsConverted) {
  ScratchFolder dir;
  write_file(dir / "x.vnr", stored_entry("", "caf\xe9.txt", "old data"));
  write_file(dir / "b.txt", "b");
  ASSERT_EQ(run_tool("a " + q(dir / "x.vnr") + " " + q(dir / "b.txt")).exit_code, 0);
  ToolRun x = run_tool("x " + q(dir / "x.vnr") + " " + q(dir / "out"));
  ASSERT_EQ(x.exit_code, 0) << x.err;
  EXPECT_EQ(read_file(dir / "out/caf\xc3\xa9.txt"), "old data");
  EXPECT_EQ(read_file(dir / "out/b.txt"), "b");
}

// A repacked stream went through its members' names on disk: a name twice in it kept one file,
// and both members came back with the later one's bytes.
TEST(AddToArchive, RepackingAStreamKeepsEveryMemberAndLeavesNoTemporaryFolder) {
  ScratchFolder dir;
  write_file(dir / "base.vnr", solid_entries({{"a.txt", "first"}, {"a.txt", "second"}, {"new.txt", "old"}}));
  write_file(dir / "new.txt", "new");
  ToolRun add = run_tool("a -y " + q(dir / "base.vnr") + " " + q(dir / "new.txt"));
  EXPECT_NE(add.out.find(": 3 files"), std::string::npos) << add.out << add.err;
  EXPECT_EQ(member_contents(dir / "base.vnr"),
            (std::vector<std::pair<std::string, std::string>>{{"a.txt", "first"}, {"a.txt", "second"}, {"new.txt", "new"}}));
  EXPECT_NE(std::system(("ls -A " + q(dir.path) + " | grep -q vantor-").c_str()), 0) << "temporary folder left";
}

TEST(AddToArchive, AnUnreadableArchiveIsLeftAsItWas) {
  ScratchFolder dir;
  write_file(dir / "a.txt", "a");
  write_file(dir / "x.vnr", "not an archive at all, but somebody's file");
  ToolRun run = run_tool("a " + q(dir / "x.vnr") + " " + q(dir / "a.txt"));
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("left as it was"), std::string::npos) << run.err;
  EXPECT_EQ(read_file(dir / "x.vnr"), "not an archive at all, but somebody's file");
}

TEST(UnreadableFolder, IsAnErrorWhileAnEmptyFolderIsFine) {
  ScratchFolder dir;
  mkdir((dir / "empty").c_str(), 0777);
  EXPECT_EQ(run_tool("a -r " + q(dir / "e.vnr") + " " + q(dir / "empty")).exit_code, 0);
  // Root reads any folder, so root runs the program as nobody.
  std::string runner = geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
  if (!runner.empty() && std::system((runner + "test -x '" VANTOR_TOOL_EXE "'").c_str()) != 0)
    GTEST_SKIP() << "nobody cannot run the program from this folder";
  chmod(dir.path.c_str(), 0777);
  write_file(dir / "closed/a.txt", "a");
  chmod((dir / "closed").c_str(), 0);
  ToolRun run = run_tool("a -r " + q(dir / "e.vnr") + " " + q(dir / "closed"), runner);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("cannot read folder"), std::string::npos) << run.err;
}

}  // namespace

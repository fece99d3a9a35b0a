// Whatever stops a run that rewrites an archive, the archive is the old one or a whole new one:
// kills at 20 moments, the order of flushes and renames in the system calls, two runs on one
// archive at once, and what killed runs leave.
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <sstream>
#include <thread>

#include "archive_commit.h"
#include "remove.h"
#include "tool_test_support.h"

namespace {

std::string q(const std::string& s) { return "'" + s + "'"; }

// Half a few letters, half noise: both the compressing and the storing paths run.
std::string mixed_bytes(size_t size, uint32_t x) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = i < size / 2 ? "archive member \n"[(x >> 16) % 16] : static_cast<char>(x >> 24);
  }
  return s;
}

pid_t start_tool(const std::vector<std::string>& args, const std::string& errors = "/dev/null") {
  pid_t pid = fork();
  if (pid == 0) {
    std::freopen("/dev/null", "w", stdout);
    std::freopen(errors.c_str(), "w", stderr);
    std::vector<char*> argv{const_cast<char*>(VANTOR_TOOL_EXE)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(VANTOR_TOOL_EXE, argv.data());
    _exit(127);
  }
  return pid;
}

int wait_tool(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(MachineStops, AddKilledAtTwentyMomentsLeavesTheOldArchiveOrAWholeNewOne) {
  ScratchFolder dir;
  for (const char* name : {"keep1.txt", "keep2.txt", "old.txt"}) write_file(dir / name, sample_text(3000, name[4]));
  ASSERT_EQ(run_tool("a -s -m1 " + q(dir / "a.vnr") + " " + q(dir / "keep1.txt") + " " + q(dir / "keep2.txt") +
                     " " + q(dir / "old.txt")).exit_code, 0);
  const std::string old_bytes = read_file(dir / "a.vnr");
  // old.txt replaces a member of the solid stream (its neighbours are unpacked beside the
  // archive); 50 MB go in as pieces on two threads, most of them spilled past a 1 MB budget.
  write_file(dir / "old.txt", "changed");
  for (int i = 0; i < 5; ++i) write_file(dir / ("big/b" + std::to_string(i)), mixed_bytes(10 << 20, i));
  const std::vector<std::string> add{"a", "-m1", "-t2", "-b1", dir / "a.vnr", dir / "old.txt", dir / "big"};
  const std::vector<std::string> sources{"a.vnr", "big", "keep1.txt", "keep2.txt", "old.txt"};
  auto whole = [&] { return run_tool("t " + q(dir / "a.vnr")).exit_code == 0 && member_paths(dir / "a.vnr").size() == 8; };
  // The longer of two whole runs: their length varies by a third from one to the next.
  std::chrono::steady_clock::duration run_length{};
  for (int run = 0; run < 2; ++run) {
    write_file(dir / "a.vnr", old_bytes);
    auto begun = std::chrono::steady_clock::now();
    ASSERT_EQ(wait_tool(start_tool(add)), 0);
    run_length = std::max(run_length, std::chrono::steady_clock::now() - begun);
    ASSERT_TRUE(whole());
  }
  int old_kept = 0;
  for (int moment = 1; moment <= 20; ++moment) {
    write_file(dir / "a.vnr", old_bytes);
    pid_t pid = start_tool(add);
    // Sixteen moments spread over the run, four past it up to twice its length: a run may be
    // slower than those measured, and its end (the flushes, the rename) must be hit too.
    std::this_thread::sleep_for(moment <= 16 ? run_length * moment / 16 : run_length * moment / 4 - run_length * 3);
    kill(pid, SIGKILL);
    wait_tool(pid);
    // By size first: the new archive is some 30 MB, the old one 3 KB.
    bool old = file_info(dir / "a.vnr").size == static_cast<int64_t>(old_bytes.size()) &&
               read_file(dir / "a.vnr") == old_bytes;
    old_kept += old;
    EXPECT_TRUE(old || whole()) << "moment " << moment;
    // Nothing that could pass for an archive: only this archive's own temporaries.
    for (const std::string& name : sorted_names_in(dir.path))
      EXPECT_TRUE(std::count(sources.begin(), sources.end(), name) || name.rfind("a.vnr.vantor-", 0) == 0) << name;
  }
  ASSERT_EQ(wait_tool(start_tool(add)), 0);
  EXPECT_EQ(sorted_names_in(dir.path), sources) << "the next run removed every leftover";
  std::printf("[ killed ] 20 runs of %.2f s: %d left the old archive, %d the new one\n",
              std::chrono::duration<double>(run_length).count(), old_kept, 20 - old_kept);
}

// strace's record of one run, a line per call; empty when it failed.
std::vector<std::string> traced(const std::string& arguments) {
  ScratchFolder logs;
  std::string command = "strace -f -qq -e trace=openat,close,write,pwrite64,fsync,fdatasync,linkat,rename,renameat,"
                        "renameat2 -o " + q(logs / "trace") + " " + q(VANTOR_TOOL_EXE) + " " + arguments + " >/dev/null 2>&1";
  std::vector<std::string> lines;
  std::istringstream in(std::system(command.c_str()) == 0 ? read_file(logs / "trace") : "");
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

long find(const std::vector<std::string>& lines, const std::string& pattern, long from = 0) {
  std::regex re(pattern);
  for (long i = std::max(from, 0L); i < static_cast<long>(lines.size()); ++i)
    if (std::regex_search(lines[i], re)) return i;
  return -1;
}

std::string result_of(const std::string& line) { return line.substr(line.rfind("= ") + 2); }

TEST(MachineStops, FlushesComeBeforeTheirRenameAndTheFolderFlushAfter) {
  if (std::system("strace -qq -o /dev/null true >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace cannot trace here";
  ScratchFolder dir;
  write_file(dir / "a.txt", sample_text(200000, 1));
  write_file(dir / "b.txt", "new");
  write_file(dir / "out/a.txt", "the old file");
  ASSERT_EQ(run_tool("a " + q(dir / "x.vnr") + " " + q(dir / "a.txt")).exit_code, 0);
  std::vector<std::string> add = traced("a " + q(dir / "x.vnr") + " " + q(dir / "b.txt"));
  long created = find(add, "O_TMPFILE");
  ASSERT_GE(created, 0) << "ext4 and tmpfs give the new archive no name";
  std::string fd = result_of(add[created]);
  long flushed = find(add, "f(data)?sync\\(" + fd + "\\)\\s+= 0", created);
  long renamed = find(add, "rename.*\"x\\.vnr\"\\)\\s+= 0");
  ASSERT_GT(flushed, created);
  EXPECT_LT(flushed, renamed);
  EXPECT_EQ(find(add, "write(64)?\\(" + fd + ",", flushed), -1) << "nothing written after the flush";
  std::smatch folder;
  ASSERT_TRUE(std::regex_search(add[renamed], folder, std::regex("renameat2?\\((\\d+),")));
  EXPECT_GT(find(add, "fsync\\(" + folder[1].str() + "\\)\\s+= 0", renamed), renamed) << "the folder after";

  // Extraction flushes out/a.txt, which it replaces, and not out/b.txt, which is new.
  std::vector<std::string> x = traced("x " + q(dir / "x.vnr") + " " + q(dir / "out"));
  EXPECT_EQ(read_file(dir / "out/a.txt"), read_file(dir / "a.txt"));
  long part = find(x, "\\.part\".*O_CREAT.*\\s= \\d+$");
  ASSERT_GE(part, 0);
  long synced = find(x, "f(data)?sync\\(" + result_of(x[part]) + "\\)\\s+= 0", part);
  EXPECT_TRUE(synced > part && synced < find(x, "renameat2?\\(.*\\.part\", \\d+, \"a\\.txt\"\\)\\s+= 0", part));
  long fresh = find(x, "\"b\\.txt\".*O_CREAT.*\\s= \\d+$");
  ASSERT_GE(fresh, 0);
  long fresh_synced = find(x, "f(data)?sync\\(" + result_of(x[fresh]) + "\\)", fresh);
  EXPECT_TRUE(fresh_synced < 0 || fresh_synced > find(x, "close\\(" + result_of(x[fresh]) + "\\)", fresh));
}

TEST(OneWriter, ARunFindingTheArchiveLockedWaitsThenRefusesAndChangesNothing) {
  ScratchFolder dir;
  write_file(dir / "a.txt", "first");
  write_file(dir / "b.txt", "second");
  ASSERT_EQ(run_tool("a " + q(dir / "x.vnr") + " " + q(dir / "a.txt")).exit_code, 0);
  std::string before = read_file(dir / "x.vnr");
  CompressJob job;
  job.archive_path = dir / "x.vnr";
  job.sources = {dir / "b.txt"};
  job.lock_wait_ms = 300;
  {
    ArchiveLock other;
    ASSERT_EQ(other.take(dir / "x.vnr", 0), ArchiveLock::Outcome::TAKEN);
    RunResult r = compress_archive(job);
    ASSERT_FALSE(r.ok);
    EXPECT_NE(r.problems.at(0).find("is being written by another run"), std::string::npos) << r.problems[0];
    EXPECT_EQ(read_file(dir / "x.vnr"), before);
    EXPECT_EQ(sorted_names_in(dir.path), (std::vector<std::string>{"a.txt", "b.txt", "x.vnr", "x.vnr.vantor-lock"}));
  }
  EXPECT_TRUE(compress_archive(job).ok);
  EXPECT_EQ(member_paths(dir / "x.vnr"), (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_FALSE(exists(dir / "x.vnr.vantor-lock"));
}

TEST(OneWriter, TwoRunsAddingToOneArchiveAtOnceLoseNothingSilently) {
  ScratchFolder dir;
  write_file(dir / "base.txt", "base");
  ASSERT_EQ(run_tool("a " + q(dir / "x.vnr") + " " + q(dir / "base.txt")).exit_code, 0);
  for (int i = 0; i < 3; ++i) {
    write_file(dir / ("one/o" + std::to_string(i)), mixed_bytes(2 << 20, i));
    write_file(dir / ("two/t" + std::to_string(i)), mixed_bytes(2 << 20, 10 + i));
  }
  pid_t one = start_tool({"a", "-m1", dir / "x.vnr", dir / "one"}, dir / "one.err");
  pid_t two = start_tool({"a", "-m1", dir / "x.vnr", dir / "two"}, dir / "two.err");
  int codes[2] = {wait_tool(one), wait_tool(two)};
  std::vector<std::string> held = member_paths(dir / "x.vnr");
  EXPECT_EQ(std::count(held.begin(), held.end(), "base.txt"), 1);
  for (int run = 0; run < 2; ++run) {
    std::string err = read_file(dir / (run ? "two.err" : "one.err"));
    EXPECT_TRUE(codes[run] == 0 || (codes[run] == 1 && err.find("is being written by another run") != std::string::npos))
        << codes[run] << " " << err;
    for (int i = 0; i < 3; ++i) {
      std::string member = (run ? "t" : "o") + std::to_string(i);
      EXPECT_EQ(std::count(held.begin(), held.end(), member), codes[run] == 0 ? 1 : 0) << member;
    }
  }
  EXPECT_TRUE(codes[0] == 0 || codes[1] == 0);
}

// The sweep of leftovers runs only under the lock: run before it, a second run deleted the live
// spill files of a first one (`-b1`), which then failed.
TEST(OneWriter, ASecondRunLeavesTheTemporariesOfALiveRunAlone) {
  ScratchFolder dir;
  for (int i = 0; i < 4; ++i) write_file(dir / ("big/b" + std::to_string(i)), mixed_bytes(8 << 20, i));
  write_file(dir / "small.txt", "small");
  auto spills = [&] {
    std::vector<std::string> found;
    for (const std::string& name : sorted_names_in(dir.path))
      if (is_archive_temporary("x.vnr", name)) found.push_back(name);
    return found;
  };
  pid_t first = start_tool({"a", "-m1", "-t2", "-b1", dir / "x.vnr", dir / "big"}, dir / "first.err");
  // Held while some of its temporaries have names: the spill files come and go as it writes.
  std::vector<std::string> live;
  for (int i = 0; i < 20000 && live.empty(); ++i) {
    if (spills().empty()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    int status = 0;
    kill(first, SIGSTOP);
    // Stopped in all its threads, not just asked to.
    if (waitpid(first, &status, WUNTRACED) != first || !WIFSTOPPED(status)) break;
    live = spills();
    if (live.empty()) kill(first, SIGCONT);
  }
  ASSERT_FALSE(live.empty()) << "the first run never spilled";
  CompressJob add;
  add.archive_path = dir / "x.vnr";
  add.sources = {dir / "small.txt"};
  add.lock_wait_ms = 200;
  RemoveJob remove;
  remove.archive_path = dir / "x.vnr";
  remove.paths = {"b0"};
  remove.lock_wait_ms = 200;
  RunResult added = compress_archive(add), removed = remove_members(remove).run;
  for (const RunResult& second : {added, removed}) {
    EXPECT_FALSE(second.ok);
    EXPECT_NE(second.problems.at(0).find("is being written by another run"), std::string::npos) << second.problems[0];
  }
  EXPECT_EQ(spills(), live) << "the second run swept the first one's files";
  kill(first, SIGCONT);
  EXPECT_EQ(wait_tool(first), 0) << read_file(dir / "first.err");
  EXPECT_EQ(member_paths(dir / "x.vnr"), (std::vector<std::string>{"b0", "b1", "b2", "b3"}));
}

TEST(StaleTemporaries, TheNextRunRemovesThisArchivesOnlyAndFollowsNoLink) {
  ScratchFolder dir;
  write_file(dir / "a.txt", "a");
  write_file(dir / "elsewhere/precious", "keep me");
  const std::string stale = dir / "x.vnr.vantor-0123456789abcdef";
  for (const std::string& path : {stale + ".tmp", stale + ".tmp.17", stale + ".d/docs/member.txt"}) write_file(path, "");
  ASSERT_EQ(symlink((dir / "elsewhere").c_str(), (stale + ".d/docs/link").c_str()), 0);
  ASSERT_EQ(symlink((dir / "elsewhere").c_str(), (dir / "x.vnr.vantor-fedcba9876543210.d").c_str()), 0);
  // Names of other archives or only close to ours stay.
  std::vector<std::string> names{"x.vnr.vantor-0123.tmp", "x.vnr.vantor-0123456789abcdef.tmpx",
                                 "y.vnr.vantor-0123456789abcdef.tmp", "x.vnr.vantor-0123456789abcdef.tmp.1a"};
  for (const std::string& name : names) write_file(dir / name, "not ours");
  ASSERT_EQ(run_tool("a " + q(dir / "x.vnr") + " " + q(dir / "a.txt")).exit_code, 0);
  names.insert(names.end(), {"a.txt", "elsewhere", "x.vnr"});
  std::sort(names.begin(), names.end());
  EXPECT_EQ(sorted_names_in(dir.path), names);
  EXPECT_EQ(read_file(dir / "elsewhere/precious"), "keep me");
}

// Adding the folder that holds the archive: the old archive, its lock and every other path to
// the archive (another spelling, a hard link, a symbolic link) stay out of the new one.
TEST(ArchiveInTheAddedFolder, TheOldArchiveAndItsLockAreLeftOutByIdentity) {
  ScratchFolder dir;
  write_file(dir / "d/a.txt", "a");
  write_file(dir / "d/sub/b.txt", "b");
  for (int run = 0; run < 2; ++run)
    ASSERT_EQ(run_tool("a -r x.vnr .", "cd " + q(dir / "d") + " && ").exit_code, 0);
  const std::vector<std::string> members{"a.txt", "sub/b.txt"};
  EXPECT_EQ(member_paths(dir / "d/x.vnr"), members);
  ASSERT_EQ(link((dir / "d/x.vnr").c_str(), (dir / "d/sub/hard.vnr").c_str()), 0);
  ASSERT_EQ(symlink("../x.vnr", (dir / "d/sub/soft.vnr").c_str()), 0);
  ASSERT_EQ(run_tool("a -r " + q(dir / "d/sub/../x.vnr") + " " + q(dir / "d") + " " + q(dir / "d/x.vnr")).exit_code, 0);
  EXPECT_EQ(member_paths(dir / "d/x.vnr"), members);
}

}  // namespace

// An encrypted archive is flushed like any other; its working copy, removed when the run ends and
// noise on the disk, is not.
TEST(MachineStops, AnEncryptedArchiveIsFlushedAndItsWorkingCopyIsNot) {
  if (std::system("strace -qq -o /dev/null true >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace cannot trace here";
  ScratchFolder dir;
  write_file(dir / "a.txt", sample_text(200000, 1));
  write_file(dir / "pw", "pw");
  std::vector<std::string> add =
      traced("a -pw:0 " + q(dir / "e.vnr") + " " + q(dir / "a.txt") + " <" + q(dir / "pw"));
  long copy = find(add, "O_TMPFILE");
  long sealed = find(add, "O_TMPFILE", copy + 1);
  ASSERT_GE(copy, 0);
  ASSERT_GT(sealed, copy) << "the working copy and the archive each get a new file";
  long copy_named = find(add, "rename.*\"plain\\.vnr\"\\)\\s+= 0", copy);
  long renamed = find(add, "rename.*\"e\\.vnr\"\\)\\s+= 0", sealed);
  ASSERT_GT(copy_named, copy);
  ASSERT_GT(renamed, sealed);
  EXPECT_EQ(find(add, "f(data)?sync\\(" + result_of(add[copy]) + "\\)"), -1) << "the working copy is not flushed";
  long flushed = find(add, "f(data)?sync\\(" + result_of(add[sealed]) + "\\)\\s+= 0", sealed);
  EXPECT_TRUE(flushed > sealed && flushed < renamed) << "the archive is flushed before its rename";
}

// Whatever stops a run that rewrites an archive, the archive is the old one or a whole new one:
// runs killed at many moments, the order of flushes and renames seen in the system calls, two
// runs on one archive at once, and the leftovers of killed runs.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <regex>
#include <sstream>
#include <thread>
#include <tuple>

#include "archive_commit.h"
#include "engine.h"
#include "tool_test_support.h"

namespace {

std::string q(const std::string& s) { return "'" + s + "'"; }

std::vector<std::string> names_in(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (struct dirent* e = readdir(dir))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Half text, half noise: both the compressing and the storing paths run.
std::string mixed_bytes(size_t size, unsigned seed) {
  static const char* words[] = {"archive ", "member ", "folder ", "flush ", "rename ", "disk\n"};
  std::string s;
  s.reserve(size);
  uint32_t x = seed * 2654435761u + 7;
  while (s.size() < size / 2) {
    x = x * 1103515245u + 12345u;
    s += words[(x >> 16) % 6];
  }
  while (s.size() < size) {
    x = x * 1103515245u + 12345u;
    s += static_cast<char>(x >> 24);
  }
  return s;
}

pid_t start_tool(const std::vector<std::string>& args, const std::string& err_path = "/dev/null") {
  pid_t pid = fork();
  if (pid == 0) {
    freopen("/dev/null", "w", stdout);
    freopen(err_path.c_str(), "w", stderr);
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

// Members of an archive that `vantor t` passes whole; 0 when it does not.
size_t tested_members(const std::string& archive) {
  ToolRun t = run_tool("t " + q(archive));
  return t.exit_code == 0 ? std::strtoull(t.out.c_str() + t.out.find(": ") + 2, nullptr, 10) : 0;
}

off_t size_of(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

size_t member_count(const std::string& archive) {
  ToolRun l = run_tool("l " + q(archive));
  return l.exit_code == 0 ? static_cast<size_t>(std::count(l.out.begin(), l.out.end(), '\n')) : 0;
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

  // The longer of two whole runs: their length varies by a third from one to the next.
  std::chrono::steady_clock::duration whole_run{};
  for (int run = 0; run < 2; ++run) {
    write_file(dir / "a.vnr", old_bytes);
    auto begun = std::chrono::steady_clock::now();
    ASSERT_EQ(wait_tool(start_tool(add)), 0);
    whole_run = std::max(whole_run, std::chrono::steady_clock::now() - begun);
    ASSERT_EQ(tested_members(dir / "a.vnr"), 8u);
  }

  int old_kept = 0, new_whole = 0;
  for (int moment = 1; moment <= 20; ++moment) {
    write_file(dir / "a.vnr", old_bytes);
    pid_t pid = start_tool(add);
    // Spread over the whole run and past it (a run may be slower than the one measured), so
    // the last moments fall on the flushes and the rename or after them.
    std::this_thread::sleep_for(whole_run * moment / 16);
    kill(pid, SIGKILL);
    wait_tool(pid);
    // The new archive is some 30 MB, the old one 3 KB: only a file of the old size is read.
    if (size_of(dir / "a.vnr") == static_cast<off_t>(old_bytes.size()) && read_file(dir / "a.vnr") == old_bytes) {
      old_kept++;
    } else {
      new_whole++;
      EXPECT_EQ(tested_members(dir / "a.vnr"), 8u) << "moment " << moment;
    }
    // Nothing left that could pass for an archive: only this archive's own temporaries.
    for (const std::string& name : names_in(dir.path)) {
      if (!std::binary_search(sources.begin(), sources.end(), name)) {
        EXPECT_EQ(name.rfind("a.vnr.vantor-", 0), 0u) << name << " at moment " << moment;
      }
    }
  }
  EXPECT_EQ(old_kept + new_whole, 20);
  ASSERT_EQ(wait_tool(start_tool(add)), 0);
  EXPECT_EQ(names_in(dir.path), sources) << "the next run removed every leftover";
  std::printf("[ killed ] 20 runs of %.2f s: %d left the old archive, %d the new one\n",
              std::chrono::duration<double>(whole_run).count(), old_kept, new_whole);
}

// ---- The order of the system calls ----

struct Trace {
  std::vector<std::string> lines;
  bool run(const std::string& arguments) {
    ScratchFolder logs;
    std::string command = "strace -f -qq -e trace=openat,close,write,pwrite64,fsync,fdatasync,linkat,rename,"
                          "renameat,renameat2 -o " + q(logs / "trace") + " " + q(VANTOR_TOOL_EXE) + " " +
                          arguments + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return false;
    std::istringstream in(read_file(logs / "trace"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return true;
  }
  // The first line from `from` on that matches, or -1.
  long find(const std::string& pattern, long from = 0) const {
    std::regex re(pattern);
    for (long i = std::max(from, 0L); i < static_cast<long>(lines.size()); ++i)
      if (std::regex_search(lines[i], re)) return i;
    return -1;
  }
  static std::string result_of(const std::string& line) {
    size_t at = line.rfind("= ");
    return at == std::string::npos ? "" : line.substr(at + 2, line.find(' ', at + 2) - at - 2);
  }
};

bool strace_works() { return std::system("strace -qq -o /dev/null true >/dev/null 2>&1") == 0; }

TEST(MachineStops, ArchiveIsFlushedThenRenamedThenItsFolderFlushed) {
  if (!strace_works()) GTEST_SKIP() << "strace is missing or cannot trace here";
  ScratchFolder dir;
  write_file(dir / "a.txt", sample_text(200000, 1));
  ASSERT_EQ(run_tool("a " + q(dir / "x.vnr") + " " + q(dir / "a.txt")).exit_code, 0);
  write_file(dir / "b.txt", sample_text(200000, 2));
  Trace t;
  ASSERT_TRUE(t.run("a " + q(dir / "x.vnr") + " " + q(dir / "b.txt")));
  long created = t.find("O_TMPFILE");
  ASSERT_GE(created, 0) << "ext4 and tmpfs give the new archive no name";
  std::string fd = Trace::result_of(t.lines[created]);
  long renamed = t.find("rename.*\"x\\.vnr\"\\)\\s+= 0");
  ASSERT_GT(renamed, created);
  long flushed = t.find("f(data)?sync\\(" + fd + "\\)\\s+= 0", created);
  ASSERT_GT(flushed, created);
  EXPECT_LT(flushed, renamed);
  EXPECT_LT(t.find("linkat\\(.*/proc/self/fd/" + fd + "\"", flushed), renamed);
  EXPECT_EQ(t.find("(p)?write(64)?\\(" + fd + ",", flushed), -1) << "nothing written after the flush";
  std::smatch folder;
  ASSERT_TRUE(std::regex_search(t.lines[renamed], folder, std::regex("renameat2?\\((\\d+),")));
  EXPECT_GT(t.find("fsync\\(" + folder[1].str() + "\\)\\s+= 0", renamed), renamed) << "the folder is flushed after";
  EXPECT_EQ(member_count(dir / "x.vnr"), 2u);
}

TEST(MachineStops, ExtractionFlushesAFileItReplacesButNotANewOne) {
  if (!strace_works()) GTEST_SKIP() << "strace is missing or cannot trace here";
  ScratchFolder dir;
  write_file(dir / "old.txt", "new content");
  write_file(dir / "new.txt", "fresh");
  ASSERT_EQ(run_tool("a " + q(dir / "x.vnr") + " " + q(dir / "old.txt") + " " + q(dir / "new.txt")).exit_code, 0);
  write_file(dir / "out/old.txt", "old content");
  Trace t;
  ASSERT_TRUE(t.run("x " + q(dir / "x.vnr") + " " + q(dir / "out")));
  EXPECT_EQ(read_file(dir / "out/old.txt"), "new content");
  long part = t.find("\\.vantor-[0-9a-f]{16}\\.part\".*O_CREAT.*\\s= \\d+$");
  ASSERT_GE(part, 0);
  long replaced = t.find("renameat2?\\(.*\\.part\", \\d+, \"old\\.txt\"\\)\\s+= 0", part);
  long flushed = t.find("f(data)?sync\\(" + Trace::result_of(t.lines[part]) + "\\)\\s+= 0", part);
  ASSERT_GT(replaced, part);
  EXPECT_TRUE(flushed > part && flushed < replaced);
  long created = t.find("\"new\\.txt\".*O_CREAT.*\\s= \\d+$");
  ASSERT_GE(created, 0);
  std::string fd = Trace::result_of(t.lines[created]);
  long closed = t.find("close\\(" + fd + "\\)", created);
  long synced = t.find("f(data)?sync\\(" + fd + "\\)", created);
  EXPECT_TRUE(synced < 0 || synced > closed) << "a new file is not flushed on its own";
}

// ---- One writer at a time ----

CompressJob add_job(const std::string& archive, const std::vector<std::string>& sources) {
  CompressJob job;
  job.archive_path = archive;
  job.sources = sources;
  job.zstd.level = 3;
  return job;
}

TEST(OneWriter, ARunThatFindsTheArchiveLockedWaitsThenRefusesAndChangesNothing) {
  ScratchFolder dir;
  write_file(dir / "a.txt", "first");
  write_file(dir / "b.txt", "second");
  ASSERT_TRUE(compress_archive(add_job(dir / "x.vnr", {dir / "a.txt"})).ok);
  std::string before = read_file(dir / "x.vnr");
  auto names_before = names_in(dir.path);
  {
    ArchiveLock other;
    ASSERT_EQ(other.take(dir / "x.vnr", 0), ArchiveLock::Outcome::TAKEN);
    CompressJob job = add_job(dir / "x.vnr", {dir / "b.txt"});
    job.lock_wait_ms = 300;
    auto begun = std::chrono::steady_clock::now();
    RunResult r = compress_archive(job);
    EXPECT_GE(std::chrono::steady_clock::now() - begun, std::chrono::milliseconds(300));
    EXPECT_FALSE(r.ok);
    ASSERT_EQ(r.problems.size(), 1u);
    EXPECT_NE(r.problems[0].find("is being written by another run"), std::string::npos) << r.problems[0];
    EXPECT_EQ(read_file(dir / "x.vnr"), before);
    EXPECT_EQ(read_file(dir / "b.txt"), "second");
    names_before.push_back("x.vnr.vantor-lock");  // the other run's
    std::sort(names_before.begin(), names_before.end());
    EXPECT_EQ(names_in(dir.path), names_before);
  }
  // Once the other run has let go, its lock file is gone and the same run goes through.
  ASSERT_TRUE(compress_archive(add_job(dir / "x.vnr", {dir / "b.txt"})).ok);
  EXPECT_EQ(member_count(dir / "x.vnr"), 2u);
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
  int code_one = wait_tool(one), code_two = wait_tool(two);
  ToolRun listing = run_tool("l " + q(dir / "x.vnr"));
  auto has_all = [&](char first) {
    for (int i = 0; i < 3; ++i)
      if (listing.out.find(std::string(" ") + first + std::to_string(i) + "\n") == std::string::npos) return false;
    return true;
  };
  EXPECT_NE(listing.out.find(" base.txt\n"), std::string::npos);
  for (auto [code, err, first] : {std::make_tuple(code_one, dir / "one.err", 'o'),
                                  std::make_tuple(code_two, dir / "two.err", 't')}) {
    if (code == 0) {
      EXPECT_TRUE(has_all(first)) << listing.out;
    } else {
      EXPECT_EQ(code, 1);
      EXPECT_NE(read_file(err).find("is being written by another run"), std::string::npos) << read_file(err);
    }
  }
  EXPECT_TRUE(code_one == 0 || code_two == 0);
}

// ---- Leftovers of killed runs ----

TEST(StaleTemporaries, TheNextRunRemovesThisArchivesOnlyAndFollowsNoLink) {
  ScratchFolder dir;
  write_file(dir / "a.txt", "a");
  write_file(dir / "elsewhere/precious", "keep me");
  const std::string token = "0123456789abcdef";
  for (const std::string& name : {"x.vnr.vantor-" + token + ".tmp", "x.vnr.vantor-" + token + ".tmp.17",
                                  "x.vnr.vantor-" + token + ".d/docs/member.txt"})
    write_file(dir / name, "left by a killed run");
  ASSERT_EQ(symlink((dir / "elsewhere").c_str(), (dir / ("x.vnr.vantor-" + token + ".d/docs/link")).c_str()), 0);
  ASSERT_EQ(symlink((dir / "elsewhere").c_str(), (dir / ("x.vnr.vantor-fedcba9876543210.d")).c_str()), 0);
  // Names of other archives, of other programs, or only close to ours stay.
  const std::vector<std::string> others{"x.vnr.vantor-0123.tmp", "x.vnr.vantor-" + token + ".tmpx",
                                        "y.vnr.vantor-" + token + ".tmp", "x.vnr.vantor-" + token + ".tmp.1a",
                                        "x.vnrx.vantor-" + token + ".tmp"};
  for (const std::string& name : others) write_file(dir / name, "not ours");
  ASSERT_EQ(run_tool("a " + q(dir / "x.vnr") + " " + q(dir / "a.txt")).exit_code, 0);
  std::vector<std::string> expected = others;
  for (const char* name : {"a.txt", "elsewhere", "x.vnr"}) expected.push_back(name);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names_in(dir.path), expected);
  EXPECT_EQ(read_file(dir / "elsewhere/precious"), "keep me");
}

}  // namespace

// The progress channel and cancelling: the archiver run as the front end runs it, with a pipe for
// progress lines and a pipe whose byte asks it to stop, and the engines' cancel points.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "engine.h"
#include "run_channel.h"
#include "tool_test_support.h"

namespace {

struct WatchedRun {
  std::vector<std::string> lines;  // progress lines in the order they came
  int exit_code = -1;
  std::string err;
  bool cancel_sent = false;
};

// Runs vantor with the channel; `cancel_after` progress lines with data done, a byte on the
// cancel pipe asks it to stop (0: never).
WatchedRun run_watched(const std::vector<std::string>& args, size_t cancel_after) {
  int progress[2], cancel[2], errors[2];
  EXPECT_EQ(pipe(progress), 0);
  EXPECT_EQ(pipe(cancel), 0);
  EXPECT_EQ(pipe(errors), 0);
  pid_t child = fork();
  if (child == 0) {
    setenv("VANTOR_PROGRESS", std::to_string(progress[1]).c_str(), 1);
    setenv("VANTOR_CANCEL", std::to_string(cancel[0]).c_str(), 1);
    dup2(errors[1], 2);
    std::vector<char*> argv{const_cast<char*>(VANTOR_TOOL_EXE)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(VANTOR_TOOL_EXE, argv.data());
    _exit(127);
  }
  close(progress[1]);
  close(cancel[0]);
  close(errors[1]);
  WatchedRun run;
  std::string pending;
  size_t with_data = 0;
  char buffer[4096];
  for (ssize_t n; (n = read(progress[0], buffer, sizeof buffer)) > 0;) {
    pending.append(buffer, static_cast<size_t>(n));
    for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
      run.lines.push_back(pending.substr(0, end));
      if (run.lines.back().rfind("progress 0 ", 0) != 0) ++with_data;
    }
    if (cancel_after && !run.cancel_sent && with_data >= cancel_after) {
      EXPECT_EQ(write(cancel[1], "x", 1), 1);
      run.cancel_sent = true;
    }
  }
  for (ssize_t n; (n = read(errors[0], buffer, sizeof buffer)) > 0;) run.err.append(buffer, static_cast<size_t>(n));
  int status = 0;
  waitpid(child, &status, 0);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  close(progress[0]);
  close(cancel[1]);
  close(errors[0]);
  return run;
}

std::vector<std::string> folder_names(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* d = opendir(path.c_str())) {
    while (dirent* e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Bytes that barely compress, so the strongest setting takes its time over them.
std::string noise(size_t size, unsigned seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 7;
  for (char& c : s) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

struct Figures {
  int64_t done = -1, total = -2;
  std::string member;
};

Figures parse(const std::string& line) {
  Figures f;
  char member[512] = "";
  long long done = 0, total = 0;
  int fields = std::sscanf(line.c_str(), "progress %lld %lld %511[^\n]", &done, &total, member);
  if (fields >= 2) f.done = done, f.total = total, f.member = member;
  return f;
}

}  // namespace

TEST(RunChannel, ReportsBytesTotalAndMemberUntilTheEnd) {
  ScratchFolder dir;
  write_file(dir / "in/a.bin", noise(3 << 20, 1));
  write_file(dir / "in/b.txt", sample_text(6 << 20, 2));
  WatchedRun run = run_watched({"a", "-r", "-mx3", dir / "x.vnr", dir / "in"}, 0);
  ASSERT_EQ(run.exit_code, 0) << run.err;
  ASSERT_GE(run.lines.size(), 1u);
  int64_t last_done = -1;
  bool named = false;
  for (const std::string& line : run.lines) {
    Figures f = parse(line);
    ASSERT_GE(f.done, last_done) << line;  // never goes back
    ASSERT_TRUE(f.total == -1 || f.total == (9 << 20)) << line;
    named = named || f.member.find("/in/a.bin") != std::string::npos || f.member.find("/in/b.txt") != std::string::npos;
    last_done = f.done;
  }
  Figures final = parse(run.lines.back());
  EXPECT_EQ(final.done, 9 << 20);
  EXPECT_EQ(final.total, 9 << 20);
  EXPECT_GE(run.lines.size(), 3u) << "a report every 100 ms over a run of more than a second";
  EXPECT_TRUE(named);
  // Extraction counts the bytes it writes against the members it was asked for.
  WatchedRun x = run_watched({"x", dir / "x.vnr", dir / "out"}, 0);
  ASSERT_EQ(x.exit_code, 0) << x.err;
  EXPECT_EQ(parse(x.lines.back()).done, 9 << 20);
  EXPECT_EQ(parse(x.lines.back()).total, 9 << 20);
  // A caller that asks for nothing sees exactly what it always saw.
  ToolRun plain = run_tool("t '" + (dir / "x.vnr") + "'");
  EXPECT_EQ(plain.exit_code, 0);
  EXPECT_EQ(plain.out.find("progress"), std::string::npos);
  EXPECT_EQ(plain.err, "");
}

TEST(RunChannel, CancelStopsMidMemberAndLeavesEverythingAsItWas) {
  ScratchFolder dir;
  write_file(dir / "big.bin", noise(48 << 20, 3));
  write_file(dir / "small.txt", sample_text(1000, 4));
  ASSERT_EQ(run_tool("a '" + (dir / "old.vnr") + "' '" + (dir / "small.txt") + "'").exit_code, 0);
  std::string before = read_file(dir / "old.vnr");
  std::vector<std::string> names_before = folder_names(dir.path);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"a", "-mx3", dir / "new.vnr", dir / "big.bin"},
        std::vector<std::string>{"a", "-s", "-mx3", "-t2", dir / "old.vnr", dir / "big.bin"}}) {
    WatchedRun run = run_watched(args, 2);
    ASSERT_TRUE(run.cancel_sent) << args[1];
    EXPECT_EQ(run.exit_code, EXIT_CANCELLED) << run.err;
    EXPECT_NE(run.err.find("cancelled"), std::string::npos) << run.err;
    // Plain, it stopped inside the one large member; a solid stream's workers take its input ahead
    // of their output, so there it stopped inside the stream's output.
    if (args[1] != "-s") {
      EXPECT_LT(parse(run.lines.back()).done, 48 << 20) << run.lines.back();
    }
    EXPECT_EQ(folder_names(dir.path), names_before) << "no archive, no temporary file";
    EXPECT_TRUE(read_file(dir / "old.vnr") == before) << "the old archive changed";
  }
}

// A descriptor the run has open that is no pipe (a file a shell passed on) was taken: a file
// reads as ready at once, so the run cancelled itself, and progress went into the file.
TEST(RunChannel, OnlyPipesAreTakenForTheChannel) {
  ScratchFolder dir;
  write_file(dir / "a.txt", "a");
  write_file(dir / "in.txt", "x");
  pid_t child = fork();
  if (child == 0) {
    int in = open((dir / "in.txt").c_str(), O_RDONLY), out = open((dir / "out.txt").c_str(), O_WRONLY | O_CREAT, 0644);
    if (dup2(in, 7) < 0 || dup2(out, 8) < 0) _exit(126);
    setenv("VANTOR_CANCEL", "7", 1);
    setenv("VANTOR_PROGRESS", "8", 1);
    execl(VANTOR_TOOL_EXE, VANTOR_TOOL_EXE, "a", (dir / "x.vnr").c_str(), (dir / "a.txt").c_str(), (char*)nullptr);
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(read_file(dir / "out.txt"), "");
  EXPECT_EQ(member_paths(dir / "x.vnr"), std::vector<std::string>{"a.txt"});
}

// The engines' cancel points: a request seen between blocks stops the run there.
TEST(RunChannel, EnginesStopAtTheNextBlockAfterARequest) {
  ScratchFolder dir;
  write_file(dir / "a.bin", noise(16 << 20, 5));
  write_file(dir / "b.bin", noise(4 << 20, 6));
  RunControl control;
  std::thread watcher([&] {
    while (control.done.load() < (3 << 20)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    control.cancel.store(true);
  });
  CompressJob job;
  job.archive_path = dir / "x.vnr";
  job.sources = {dir / "a.bin", dir / "b.bin"};
  job.zstd = zstd_settings(3, true, 7, false);
  job.control = &control;
  RunResult result = compress_archive(job);
  watcher.join();
  EXPECT_TRUE(result.cancelled);
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(result.problems.empty()) << result.problems[0];
  EXPECT_LT(control.done.load(), 16 << 20);
  EXPECT_EQ(folder_names(dir.path), (std::vector<std::string>{"a.bin", "b.bin"}));

  // Extraction stops inside the large member and removes what it had written of it; the
  // small member before it stays whole.
  write_file(dir / "0.txt", sample_text(1000, 7));
  CompressJob plain = job;
  plain.sources = {dir / "0.txt", dir / "a.bin"};
  plain.zstd = ZstdSettings();
  plain.deflate = deflate_settings(0, false, 7);
  plain.control = nullptr;
  ASSERT_TRUE(compress_archive(plain).ok);
  RunControl reading;
  std::thread reading_watcher([&] {
    while (reading.done.load() < (3 << 20)) std::this_thread::sleep_for(std::chrono::microseconds(200));
    reading.cancel.store(true);
  });
  ReadJob read;
  read.archive_path = dir / "x.vnr";
  read.destination = dir / "out";
  read.control = &reading;
  RunResult extracted = read_archive(read);
  reading_watcher.join();
  EXPECT_TRUE(extracted.cancelled);
  EXPECT_TRUE(extracted.problems.empty()) << extracted.problems[0];
  EXPECT_LT(reading.done.load(), 16 << 20);
  EXPECT_EQ(extracted.members, 1);
  EXPECT_EQ(folder_names(dir / "out"), std::vector<std::string>{"0.txt"});
}

// A partly written member that cannot be removed after a cancel is named: left silently, it
// would pass for the member. Here its name is taken away while it is written, so removing it by
// that name fails.
TEST(RunChannel, APartialMemberThatStaysAfterACancelIsNamed) {
  ScratchFolder dir;
  write_file(dir / "a.bin", noise(8 << 20, 8));
  CompressJob job;
  job.archive_path = dir / "x.vnr";
  job.sources = {dir / "a.bin"};
  ASSERT_TRUE(compress_archive(job).ok);
  RunControl control;
  ReadJob read;
  read.archive_path = dir / "x.vnr";
  read.destination = dir / "out";
  read.control = &control;
  bool moved = false;
  read.on_data = [&](const uint8_t*, size_t) {
    if (!moved) moved = std::rename((dir / "out/a.bin").c_str(), (dir / "out/moved.bin").c_str()) == 0;
    control.cancel.store(true);
  };
  RunResult result = read_archive(read);
  ASSERT_TRUE(moved);
  EXPECT_TRUE(result.cancelled);
  ASSERT_EQ(result.problems.size(), 1u);
  EXPECT_NE(result.problems[0].find("cannot remove the partly written " + (dir / "out/a.bin")), std::string::npos)
      << result.problems[0];
}

namespace {

// An archive of another program's reports progress as ours does, and a cancel inside its one
// large member leaves nothing of it behind.
TEST(RunChannel, ForeignArchivesReportProgressAndCancel) {
  ScratchFolder dir;
  write_file(dir / "in/big.bin", noise(16 << 20, 5));
  // bzip2 decodes slowly enough for the cancel to come while the member is written.
  ASSERT_EQ(std::system(("cd '" + dir.path + "/in' && tar cf - big.bin | bzip2 -1 > ../x.tbz").c_str()), 0);
  WatchedRun test = run_watched({"t", dir / "x.tbz"}, 0);
  ASSERT_EQ(test.exit_code, 0) << test.err;
  Figures last = parse(test.lines.back());
  EXPECT_EQ(last.total, static_cast<int64_t>(read_file(dir / "x.tbz").size()));  // a test counts the archive read
  EXPECT_EQ(last.done, last.total);
  WatchedRun x = run_watched({"x", dir / "x.tbz", dir / "out"}, 2);
  ASSERT_TRUE(x.cancel_sent);
  EXPECT_EQ(x.exit_code, EXIT_CANCELLED) << x.err;
  EXPECT_LT(parse(x.lines.back()).done, 16 << 20) << x.lines.back();
  EXPECT_EQ(parse(x.lines.back()).total, 16 << 20);
  EXPECT_TRUE(folder_names(dir / "out").empty()) << "no part of big.bin is left";
}

}  // namespace

// Helpers for the archiver's tests: scratch folders, whole-file reads and writes, hand-made
// entries in the archive layout, and running the built vantor program.
#pragma once
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../tool_entries.h"
#include "format/archive_format.h"

struct ScratchFolder {
  std::string path;
  ScratchFolder() {
    char pattern[] = "/tmp/vantor-test-XXXXXX";
    path = mkdtemp(pattern);
  }
  ~ScratchFolder() { std::system(("chmod -R u+w '" + path + "' 2>/dev/null; rm -rf '" + path + "'").c_str()); }
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

inline void write_file(const std::string& path, const std::string& bytes) {
  std::system(("mkdir -p \"$(dirname '" + path + "')\"").c_str());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// Text that compresses but not trivially.
inline std::string sample_text(size_t size, unsigned seed) {
  std::string s;
  unsigned x = seed * 2654435761u + 1;
  while (s.size() < size) {
    x = x * 1103515245u + 12345u;
    s += "line " + std::to_string((x >> 8) % 1000) + " of the sample text\n";
  }
  s.resize(size);
  return s;
}

// Bytes no coder can shrink, the same for the same seed (which must not be 0).
inline std::string random_bytes(size_t size, uint32_t seed) {
  std::string s(size, '\0');
  for (char& c : s) {
    seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
    c = static_cast<char>(seed >> 24);
  }
  return s;
}

struct ToolRun {
  int exit_code = -1;
  std::string out, err;
};

// Runs the built vantor with arguments already quoted for the shell.
// runner: a command put in front of the program, such as one that drops root's rights.
inline ToolRun run_tool(const std::string& arguments, const std::string& runner = "") {
  ScratchFolder logs;
  std::string command = runner + "'" + VANTOR_TOOL_EXE + "' " + arguments + " >'" + (logs / "out") +
                        "' 2>'" + (logs / "err") + "'";
  ToolRun run;
  int status = std::system(command.c_str());
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = read_file(logs / "out");
  run.err = read_file(logs / "err");
  return run;
}

// Names of the files created in `folder` while `run` runs, in order.
inline std::vector<std::string> created_in(const std::string& folder, const std::function<void()>& run) {
  int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  EXPECT_GE(watch, 0);
  EXPECT_GE(inotify_add_watch(watch, folder.c_str(), IN_CREATE), 0) << folder;
  run();
  std::vector<std::string> names;
  alignas(inotify_event) char events[1 << 16];
  for (ssize_t n; (n = read(watch, events, sizeof events)) > 0;)
    for (char* p = events; p < events + n;) {
      const inotify_event* e = reinterpret_cast<const inotify_event*>(p);
      if (e->len) names.push_back(e->name);
      p += sizeof(inotify_event) + e->len;
    }
  close(watch);
  return names;
}

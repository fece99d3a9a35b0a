// Rewriting an archive on Windows: the lock is a file shared with nobody and deleted with its
// holder, the new archive is marked for deletion until its rename, and two runs at once never
// lose each other's members.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "../tool_entries.h"
#include "test_files.h"

namespace {

std::string fresh_folder(const std::string& name) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string folder = std::string(temp) + "vantor-durable-" + name + "-" + std::to_string(GetCurrentProcessId()) +
                       "-" + std::to_string(GetTickCount64());
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder + "\\";
}

// Text and noise, slow enough to compress for a run to be caught while it writes.
std::string noise(size_t size, unsigned seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>(i % 3 ? x >> 24 : 'a' + i % 7);
  }
  return s;
}

// The real vantor.exe, its standard error into `errors`.
HANDLE start_tool(const std::string& arguments, const std::string& errors) {
  std::string program = "Z:" + std::string(VANTOR_TOOL_EXE);
  std::replace(program.begin(), program.end(), '/', '\\');
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE err = CreateFileA(errors.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdError = err;
  startup.hStdOutput = err;
  PROCESS_INFORMATION process = {};
  std::string line = "\"" + program + "\" " + arguments;
  BOOL started = CreateProcessA(program.c_str(), &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                                &startup, &process);
  CloseHandle(err);
  if (!started) return nullptr;
  CloseHandle(process.hThread);
  return process.hProcess;
}

DWORD wait_tool(HANDLE process) {
  DWORD code = 259;
  WaitForSingleObject(process, 120000);
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return code;
}

CompressJob add_job(const std::string& archive, const std::vector<std::string>& sources) {
  CompressJob job;
  job.archive_path = archive;
  job.sources = sources;
  job.zstd.level = 3;
  return job;
}

TEST(WindowsDurability, TwoRunsAddingToOneArchiveAtOnceLoseNothingSilently) {
  std::string dir = fresh_folder("two");
  test_files::write_file(dir + "base.txt", "base");
  ASSERT_TRUE(compress_archive(add_job(dir + "x.vnr", {dir + "base.txt"})).ok);
  CreateDirectoryA((dir + "one").c_str(), nullptr);
  CreateDirectoryA((dir + "two").c_str(), nullptr);
  for (int i = 0; i < 3; ++i) {
    test_files::write_file(dir + "one\\o" + std::to_string(i), noise(2 << 20, i));
    test_files::write_file(dir + "two\\t" + std::to_string(i), noise(2 << 20, 10 + i));
  }
  HANDLE one = start_tool("a -m1 \"" + dir + "x.vnr\" \"" + dir + "one\"", dir + "one.err");
  HANDLE two = start_tool("a -m1 \"" + dir + "x.vnr\" \"" + dir + "two\"", dir + "two.err");
  ASSERT_TRUE(one && two);
  DWORD code_one = wait_tool(one), code_two = wait_tool(two);
  std::vector<std::string> held = member_paths(dir + "x.vnr");
  auto holds = [&](const std::string& name) { return std::find(held.begin(), held.end(), name) != held.end(); };
  EXPECT_TRUE(holds("base.txt"));
  for (int run = 0; run < 2; ++run) {
    DWORD code = run ? code_two : code_one;
    std::string err = test_files::read_file(dir + (run ? "two.err" : "one.err"));
    EXPECT_TRUE(code == 0 || (code == 1 && err.find("is being written by another run") != std::string::npos)) << err;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(holds((run ? "t" : "o") + std::to_string(i)), code == 0) << run << i;
  }
  EXPECT_TRUE(code_one == 0 || code_two == 0);
}

// Killed while it writes: the archive is the old one, and neither its lock nor the new archive
// is left. What a run could leave only under a name (spilled output, unpacked members) goes
// with the next run.
TEST(WindowsDurability, AKilledRunLeavesNothingAndTheNextSweepsWhatWasNamed) {
  std::string dir = fresh_folder("killed");
  test_files::write_file(dir + "base.txt", "base");
  ASSERT_TRUE(compress_archive(add_job(dir + "x.vnr", {dir + "base.txt"})).ok);
  std::string before = test_files::read_file(dir + "x.vnr");
  CreateDirectoryA((dir + "big").c_str(), nullptr);
  for (int i = 0; i < 6; ++i) test_files::write_file(dir + "big\\b" + std::to_string(i), noise(4 << 20, i));
  HANDLE run = start_tool("a -mx3 \"" + dir + "x.vnr\" \"" + dir + "big\"", dir + "run.err");
  ASSERT_TRUE(run);
  bool writing = false;
  for (int i = 0; i < 2000 && !writing; ++i, Sleep(5))
    for (const std::string& name : sorted_names_in(dir)) writing = writing || name.find(".tmp") != std::string::npos;
  ASSERT_TRUE(writing) << "the run never started its archive";
  TerminateProcess(run, 9);
  wait_tool(run);
  EXPECT_EQ(test_files::read_file(dir + "x.vnr"), before);
  EXPECT_EQ(sorted_names_in(dir), (std::vector<std::string>{"base.txt", "big", "run.err", "x.vnr"}));

  const std::string stale = dir + "x.vnr.vantor-0123456789abcdef";
  test_files::write_file(stale + ".tmp.3", "spilled");
  CreateDirectoryA((stale + ".d").c_str(), nullptr);
  CreateDirectoryA((stale + ".d\\docs").c_str(), nullptr);
  test_files::write_file(stale + ".d\\docs\\m.txt", "unpacked");
  SetFileAttributesA((stale + ".d\\docs\\m.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  ASSERT_TRUE(compress_archive(add_job(dir + "x.vnr", {dir + "run.err"})).ok);
  EXPECT_EQ(sorted_names_in(dir), (std::vector<std::string>{"base.txt", "big", "run.err", "x.vnr"}));
}

// The folder that holds the archive, added twice, the second time naming the archive in other
// letter case through "..": neither the old archive nor the lock (shared with nobody) goes in.
TEST(WindowsDurability, AddingTheArchivesFolderLeavesOutTheArchiveAndItsLock) {
  std::string dir = fresh_folder("own");
  test_files::write_file(dir + "a.txt", "a");
  ASSERT_TRUE(compress_archive(add_job(dir + "x.vnr", {dir})).ok);
  ASSERT_TRUE(compress_archive(add_job(dir + "sub\\..\\X.VNR", {dir, dir + "x.vnr"})).ok);
  EXPECT_EQ(member_paths(dir + "x.vnr"), (std::vector<std::string>{"a.txt"}));
}

}  // namespace

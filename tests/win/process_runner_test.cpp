// The runner against real child processes. The child is this test program itself, started with
// "--runner-child=<mode>": a static initialiser catches that before the tests start.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "process/process_runner.h"

namespace {

std::string self_path() {
  char buffer[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  return std::string(buffer, n);
}

std::string scratch_folder(const std::string& name) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string folder = std::string(temp) + "vantor-runner-" + name + "-" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder + "\\";
}

void put(const std::string& text) {
  DWORD done = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
}

// Child behaviours; each ends the process before GoogleTest runs.
struct ChildMode {
  ChildMode() {
    std::string line = GetCommandLineA();
    size_t at = line.find("--runner-child=");
    if (at == std::string::npos) return;
    std::string mode = line.substr(at + 15);
    std::string arg;
    size_t blank = mode.find(' ');
    if (blank != std::string::npos) {
      arg = mode.substr(blank + 1);
      mode = mode.substr(0, blank);
    }
    if (mode == "lines") put("a\r\nb\n");
    if (mode == "split") {
      put("first\r");
      Sleep(400);
      put("\nsecond\n");
    }
    if (mode == "long") put(std::string(10000, 'x') + "\nend");
    if (mode == "console") put(GetConsoleWindow() ? "window\n" : "none\n");
    if (mode == "without-console") {  // as the front end runs: a program with no console of its own
      FreeConsole();
      ProgramId p = run_program(self_path(), "--runner-child=console", "", PROGRAM_HIDE | PROGRAM_OPEN | PROGRAM_READ);
      put(p > 1 ? read_program_line(p) + "\n" : "not started\n");
    }
    if (mode == "slow") {
      Sleep(500);
      put("late\n");
    }
    if (mode == "marker") {
      Sleep(800);
      HANDLE f = CreateFileA(arg.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      CloseHandle(f);
    }
    if (mode == "linger") Sleep(60000);
    if (mode == "guard-then-exit") {  // starts a lingering program without a job, then exits normally
      ProgramId p = run_program(self_path(), "--runner-child=linger", "",
                                PROGRAM_HIDE | PROGRAM_OPEN | PROGRAM_KILL_WITH_US | PROGRAM_JOB_REFUSED);
      put(std::to_string(GetProcessId(reinterpret_cast<HANDLE>(program_wait_handle(p)))) + "\n");
      std::exit(0);
    }
    ExitProcess(mode == "exit" ? 42 : 0);
  }
} child_mode;

ProgramId start(const std::string& mode, int flags = PROGRAM_HIDE | PROGRAM_OPEN | PROGRAM_READ) {
  return run_program(self_path(), "--runner-child=" + mode, "", flags);
}

void wait_for_end(ProgramId p) {
  for (int i = 0; i < 200 && program_exit_code(p) == STILL_ACTIVE; ++i) Sleep(50);
}

TEST(RunProgram, OutputIsReadLineByLine) {
  ProgramId p = start("lines");
  ASSERT_GT(p, 1);
  EXPECT_EQ(read_program_line(p), "a");
  EXPECT_EQ(read_program_line(p), "b");
  wait_for_end(p);
  EXPECT_EQ(program_running(p), 0);
  close_program(p);
}

// A hidden program whose output is read gets no console window, not even a hidden one.
TEST(RunProgram, HiddenWithPipesHasNoConsoleWindow) {
  ProgramId p = start("without-console");
  ASSERT_GT(p, 1);
  EXPECT_EQ(read_program_line(p), "none");
  close_program(p);
}

TEST(RunProgram, CarriageReturnAndLineFeedInSeparateWritesEndOneLine) {
  ProgramId p = start("split");
  ASSERT_GT(p, 1);
  EXPECT_EQ(read_program_line(p), "first");
  EXPECT_EQ(read_program_line(p), "second");
  close_program(p);
}

TEST(RunProgram, RunningStaysOneUntilTheOutputIsDrained) {
  ProgramId p = start("lines");
  ASSERT_GT(p, 1);
  wait_for_end(p);
  EXPECT_EQ(program_running(p), 1) << "ended, but its output is unread";
  EXPECT_GT(program_output_available(p), 0);
  EXPECT_EQ(read_program_line(p), "a");
  EXPECT_EQ(program_running(p), 1) << "the second line is pending";
  EXPECT_EQ(read_program_line(p), "b");
  EXPECT_EQ(program_running(p), 0);
  EXPECT_EQ(program_output_available(p), 0);
  close_program(p);
}

TEST(RunProgram, LongLinesAndAnUnendedLastLine) {
  ProgramId p = start("long");
  ASSERT_GT(p, 1);
  EXPECT_EQ(read_program_line(p), std::string(10000, 'x'));
  EXPECT_EQ(read_program_line(p), "end");
  close_program(p);
}

TEST(RunProgram, ReadWaitsForOutputThatComesLater) {
  ProgramId p = start("slow");
  ASSERT_GT(p, 1);
  EXPECT_EQ(program_running(p), 1);
  EXPECT_EQ(read_program_line(p), "late");
  close_program(p);
}

TEST(RunProgram, ExitCodeOfAWaitedProgram) {
  ProgramId p = start("exit", PROGRAM_WAIT | PROGRAM_HIDE | PROGRAM_OPEN);
  ASSERT_GT(p, 1);
  EXPECT_EQ(program_exit_code(p), 42u);
  EXPECT_EQ(program_running(p), 0) << "no output pipe: ended means not running";
  close_program(p);
  EXPECT_EQ(run_program(self_path(), "--runner-child=exit", "", PROGRAM_WAIT | PROGRAM_HIDE), 1);
}

TEST(RunProgram, PathStartingWithAQuoteIsUsedUnchanged) {
  ProgramId p = run_program("\"" + self_path() + "\" --runner-child=lines", "", "",
                            PROGRAM_HIDE | PROGRAM_OPEN | PROGRAM_READ);
  ASSERT_GT(p, 1);
  EXPECT_EQ(read_program_line(p), "a");
  close_program(p);
}

TEST(RunProgram, ClosingLeavesARunningChildRunning) {
  std::string marker = scratch_folder("close") + "alive.txt";
  DeleteFileA(marker.c_str());
  ProgramId p = run_program(self_path(), "--runner-child=marker " + marker, "", PROGRAM_HIDE | PROGRAM_OPEN);
  ASSERT_GT(p, 1);
  close_program(p);
  EXPECT_EQ(program_running(p), 0) << "a closed record is no longer known";
  // The shell's start of a shortcut takes longer than 5 s under 32-bit Wine through qemu.
  for (int i = 0; i < 600 && GetFileAttributesA(marker.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
  EXPECT_NE(GetFileAttributesA(marker.c_str()), INVALID_FILE_ATTRIBUTES);
}

// A program that is to end with us ends when its record closes, in its job or, where the system
// refuses the job, by its handle; without a job it also ends when we exit normally.
TEST(RunProgram, KilledWithUsEndsWithItsRecordOrOurExitEvenWithoutAJob) {
  for (int refused : {0, PROGRAM_JOB_REFUSED}) {
    ProgramId p = start("linger", PROGRAM_HIDE | PROGRAM_OPEN | PROGRAM_KILL_WITH_US | refused);
    ASSERT_GT(p, 1);
    HANDLE process = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(program_wait_handle(p)),
                                GetCurrentProcess(), &process, SYNCHRONIZE | PROCESS_TERMINATE, FALSE, 0));
    close_program(p);
    EXPECT_EQ(WaitForSingleObject(process, 10000), WAIT_OBJECT_0) << (refused ? "without a job" : "in its job");
    TerminateProcess(process, 0);
    CloseHandle(process);
  }
  ProgramId parent = start("guard-then-exit");
  ASSERT_GT(parent, 1);
  DWORD id = std::stoul("0" + read_program_line(parent));
  ASSERT_NE(id, 0u);
  wait_for_end(parent);
  close_program(parent);
  // Gone already, or ending: either way it did not outlive the program that started it.
  HANDLE orphan = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id);
  if (orphan) {
    EXPECT_EQ(WaitForSingleObject(orphan, 10000), WAIT_OBJECT_0) << "the program outlived a normal exit";
    TerminateProcess(orphan, 0);
    CloseHandle(orphan);
  }
}

TEST(RunProgram, UnknownRecordsAndFailedStartsAreHarmless) {
  EXPECT_EQ(program_running(12345), 0);
  EXPECT_EQ(read_program_line(12345), "");
  close_program(12345);
  EXPECT_EQ(run_program("C:\\no\\such\\program.exe", "", "", PROGRAM_HIDE | PROGRAM_OPEN | PROGRAM_READ), 0);
}

// A shortcut is not a program, so CreateProcessA refuses it and only the shell can start it.
bool make_shortcut(const std::string& link, const std::string& target) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IShellLinkA* shell_link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              reinterpret_cast<void**>(&shell_link))))
    return false;
  shell_link->SetPath(target.c_str());
  IPersistFile* file = nullptr;
  bool ok = SUCCEEDED(shell_link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)));
  if (ok) {
    wchar_t wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, link.c_str(), -1, wide, MAX_PATH);
    ok = SUCCEEDED(file->Save(wide, TRUE));
    file->Release();
  }
  shell_link->Release();
  return ok;
}

TEST(RunProgram, ShellFallbackOnlyWithoutPipes) {
  std::string folder = scratch_folder("shell");
  std::string link = folder + "child.lnk";
  ASSERT_TRUE(make_shortcut(link, self_path()));
  std::string marker = folder + "fallback.txt";
  DeleteFileA(marker.c_str());
  EXPECT_EQ(run_program(link, "--runner-child=marker " + marker, "", PROGRAM_HIDE | PROGRAM_OPEN | PROGRAM_READ), 0)
      << "with a pipe asked for, no fallback";
  EXPECT_EQ(run_program(link, "--runner-child=marker " + marker, "", PROGRAM_WAIT | PROGRAM_HIDE), 1);
  // The shell's start of a shortcut takes longer than 5 s under 32-bit Wine through qemu.
  for (int i = 0; i < 600 && GetFileAttributesA(marker.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
  EXPECT_NE(GetFileAttributesA(marker.c_str()), INVALID_FILE_ATTRIBUTES) << "the shell started the child";
}

}  // namespace

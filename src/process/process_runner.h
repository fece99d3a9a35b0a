// Starting another program, optionally with its standard streams on pipes, and following it:
// waiting, polling, reading its output line by line, its exit code.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

constexpr int PROGRAM_WAIT = 1;    // wait until the process has ended
constexpr int PROGRAM_HIDE = 2;    // hidden, and without a console window
constexpr int PROGRAM_OPEN = 4;    // keep the process: the result is a program record
constexpr int PROGRAM_READ = 8;    // with PROGRAM_OPEN: pipe for the child's standard output
constexpr int PROGRAM_WRITE = 16;  // with PROGRAM_OPEN: pipe for the child's standard input
constexpr int PROGRAM_ERROR = 32;  // with PROGRAM_OPEN: pipe for the child's standard error
// With PROGRAM_OPEN: the program ends when this process ends, however it ends, and when its
// record is closed while it still runs. Where the system refuses the job that does this, the
// program is ended by its handle instead: when its record is closed and by end_jobless_programs,
// so only a normal end of this process ends it.
constexpr int PROGRAM_KILL_WITH_US = 64;
// With PROGRAM_KILL_WITH_US: behave as where the system refuses the job (for tests).
constexpr int PROGRAM_JOB_REFUSED = 128;

// A program record, or 0 (failure) and 1 (started, not kept) from run_program. The operations
// below do nothing on a value that is not a live record.
using ProgramId = intptr_t;

ProgramId run_program(const std::string& program_path, const std::string& parameters,
                      const std::string& working_folder, int flags);
// The same with entries ("NAME=value") added to the child's environment, replacing ours of the
// same name. Handles the child is to use must be inheritable when this is called.
ProgramId run_program_with_environment(const std::string& program_path, const std::string& parameters,
                                       const std::string& working_folder, int flags,
                                       const std::vector<std::string>& environment);
// The process handle of a record, to wait on beside window messages; 0 when not a record.
intptr_t program_wait_handle(ProgramId program);
// 1 until the process has ended and all of its output has been read.
int program_running(ProgramId program);
// Bytes that can be read without waiting.
int64_t program_output_available(ProgramId program);
// The next output line without its line end; blocks until a line or the end of the output.
std::string read_program_line(ProgramId program);
// What the child has written to its standard output so far (PROGRAM_READ), without waiting.
std::string read_program_output(ProgramId program);
// What the child has written to its standard error so far (PROGRAM_ERROR), without waiting.
std::string read_program_errors(ProgramId program);
// What a pipe of ours holds now, read without waiting.
std::string read_pipe_now(intptr_t pipe_handle);
// The exit code (259 while running), 0 when it cannot be read.
uint32_t program_exit_code(ProgramId program);
// Releases the record; a program that still runs goes on running, unless it was started with
// PROGRAM_KILL_WITH_US.
void close_program(ProgramId program);
// Ends every program started with PROGRAM_KILL_WITH_US that runs without a job. Runs at exit()
// by itself; a process that ends through ExitProcess calls it first.
void end_jobless_programs();

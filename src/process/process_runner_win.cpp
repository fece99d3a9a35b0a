// Child processes through CreateProcessA with optional pipes. Our pipe ends are replaced by
// non-inheritable duplicates at once, so a later child never holds them open; every record lives
// in one list under a critical section.
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "process/line_splitter.h"
#include "process/process_runner.h"

namespace {

struct ProgramRecord {
  HANDLE process = nullptr;
  DWORD process_id = 0;                 // (DWORD)-1 when started through the shell
  HANDLE input_write = nullptr;
  HANDLE output_read = nullptr;
  HANDLE error_read = nullptr;
  HANDLE job = nullptr;                 // PROGRAM_KILL_WITH_US: closing it ends the program
  bool unguarded = false;               // PROGRAM_KILL_WITH_US without a job: ended by handle
  std::string pending;                  // output read past the last returned line
  ProgramRecord* previous = nullptr;
  ProgramRecord* next = nullptr;
};

struct RecordList {
  CRITICAL_SECTION lock;
  ProgramRecord* head = nullptr;
  RecordList() { InitializeCriticalSection(&lock); }
  ~RecordList() { DeleteCriticalSection(&lock); }
};

RecordList& records() {
  static RecordList list;
  return list;
}

void close_handle(HANDLE& h) {
  if (h) CloseHandle(h);
  h = nullptr;
}

// One pipe: the child's end stays inheritable, ours is swapped for a non-inheritable copy.
struct Pipe {
  HANDLE child = nullptr;
  HANDLE ours = nullptr;
  bool make(bool child_reads) {
    SECURITY_ATTRIBUTES sa = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &sa, 0)) return false;
    child = child_reads ? read_end : write_end;
    HANDLE mine = child_reads ? write_end : read_end;
    if (!DuplicateHandle(GetCurrentProcess(), mine, GetCurrentProcess(), &ours, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
      CloseHandle(mine);
      close_handle(child);
      return false;
    }
    CloseHandle(mine);
    return true;
  }
  void close_both() {
    close_handle(child);
    close_handle(ours);
  }
};

// A program that should end with us but has no job is ended here, if it still runs.
void end_unguarded(const ProgramRecord* r) {
  if (r->unguarded && WaitForSingleObject(r->process, 0) == WAIT_TIMEOUT) TerminateProcess(r->process, 1);
}

ProgramId add_record(HANDLE process, DWORD id, Pipe& in, Pipe& out, Pipe& err, HANDLE job, bool unguarded) {
  ProgramRecord* record = new ProgramRecord;
  record->job = job;
  record->unguarded = unguarded;
  record->process = process;
  record->process_id = id;
  record->input_write = in.ours;
  record->output_read = out.ours;
  record->error_read = err.ours;
  RecordList& list = records();
  EnterCriticalSection(&list.lock);
  // ExitProcess skips this; a process that ends through it calls end_jobless_programs itself.
  static bool at_exit = false;
  if (unguarded && !at_exit) at_exit = std::atexit(end_jobless_programs) == 0;
  record->next = list.head;
  if (list.head) list.head->previous = record;
  list.head = record;
  LeaveCriticalSection(&list.lock);
  return reinterpret_cast<ProgramId>(record);
}

// The record behind an id, or nullptr when the id is not a live record.
ProgramRecord* find_record(ProgramId program) {
  RecordList& list = records();
  EnterCriticalSection(&list.lock);
  ProgramRecord* found = list.head;
  while (found && reinterpret_cast<ProgramId>(found) != program) found = found->next;
  LeaveCriticalSection(&list.lock);
  return found;
}

DWORD bytes_in_pipe(HANDLE pipe) {
  DWORD available = 0;
  if (!pipe || !PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return 0;
  return available;
}

ProgramId finish_started(HANDLE process, DWORD id, int flags, Pipe& in, Pipe& out, Pipe& err,
                         HANDLE job = nullptr, bool unguarded = false) {
  if ((flags & PROGRAM_WAIT) && process) WaitForSingleObject(process, INFINITE);
  if (flags & PROGRAM_OPEN) return add_record(process, id, in, out, err, job, unguarded);
  if (process) CloseHandle(process);
  if (job) CloseHandle(job);
  return 1;
}

// A job that ends its processes when its last handle closes: ours, held in the record, is the
// only one, so the program cannot outlive this process.
HANDLE kill_on_close_job() {
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  if (!job) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    CloseHandle(job);
    return nullptr;
  }
  SetHandleInformation(job, HANDLE_FLAG_INHERIT, 0);
  return job;
}

// Our environment with the given entries added, replacing ours of the same name (names are
// compared without regard to case, as Windows does).
std::vector<char> environment_block(const std::vector<std::string>& extra) {
  auto name_of = [](const std::string& entry) { return entry.substr(0, entry.find('=', 1)); };
  auto same_name = [&](const std::string& a, const std::string& b) {
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) == CSTR_EQUAL;
  };
  std::vector<char> block;
  if (char* ours = GetEnvironmentStringsA()) {
    for (const char* p = ours; *p; p += std::strlen(p) + 1) {
      std::string entry = p;
      bool replaced = false;
      for (const std::string& e : extra) replaced = replaced || same_name(name_of(entry), name_of(e));
      if (!replaced) block.insert(block.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
    }
    FreeEnvironmentStringsA(ours);
  }
  for (const std::string& e : extra) block.insert(block.end(), e.c_str(), e.c_str() + e.size() + 1);
  block.push_back('\0');
  if (block.size() == 1) block.push_back('\0');
  return block;
}

ProgramId shell_fallback(const std::string& path, const std::string& parameters,
                         const std::string& working_folder, int flags, int show) {
  std::string folder = fallback_folder(path, working_folder);
  SHELLEXECUTEINFOA info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpFile = path.c_str();
  info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
  info.lpDirectory = folder.empty() ? nullptr : folder.c_str();
  info.nShow = show;
  if (!ShellExecuteExA(&info)) return 0;
  Pipe none_in, none_out, none_err;
  return finish_started(info.hProcess, static_cast<DWORD>(-1), flags, none_in, none_out, none_err);
}

}  // namespace

ProgramId run_program(const std::string& program_path, const std::string& parameters,
                      const std::string& working_folder, int flags) {
  return run_program_with_environment(program_path, parameters, working_folder, flags, {});
}

ProgramId run_program_with_environment(const std::string& program_path, const std::string& parameters,
                                       const std::string& working_folder, int flags,
                                       const std::vector<std::string>& environment) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = (flags & PROGRAM_HIDE) ? SW_HIDE : SW_SHOWNORMAL;
  DWORD creation = NORMAL_PRIORITY_CLASS | ((flags & PROGRAM_HIDE) ? DETACHED_PROCESS : 0);
  BOOL inherit = FALSE;
  Pipe in, out, err;
  bool open = (flags & PROGRAM_OPEN) != 0;
  struct { int flag; Pipe* pipe; bool child_reads; HANDLE* slot; } wanted[] = {
      {PROGRAM_WRITE, &in, true, &startup.hStdInput},
      {PROGRAM_READ, &out, false, &startup.hStdOutput},
      {PROGRAM_ERROR, &err, false, &startup.hStdError}};
  for (auto& w : wanted) {
    // A pipe that cannot be made is left out; that stream stays as it was.
    if (!open || !(flags & w.flag) || !w.pipe->make(w.child_reads)) continue;
    *w.slot = w.pipe->child;
    startup.dwFlags |= STARTF_USESTDHANDLES;
    inherit = TRUE;
    creation &= ~static_cast<DWORD>(DETACHED_PROCESS);
    // Without the detached flag a console program would get a console window of its own.
    if (flags & PROGRAM_HIDE) creation |= CREATE_NO_WINDOW;
  }
  if (startup.dwFlags & STARTF_USESTDHANDLES) {
    if (!startup.hStdInput) startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    if (!startup.hStdOutput) startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!startup.hStdError) startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  }
  std::string text = program_command_line(program_path, parameters);
  std::vector<char> command(program_path.size() + parameters.size() + 4, '\0');
  text.copy(command.data(), command.size() - 1);
  PROCESS_INFORMATION info = {};
  std::vector<char> block;
  if (!environment.empty()) {
    block = environment_block(environment);
    inherit = TRUE;  // the handles the entries name
  }
  // The program starts suspended until it is in its job, so not one instruction runs outside it.
  bool guarded = (flags & PROGRAM_OPEN) && (flags & PROGRAM_KILL_WITH_US);
  HANDLE job = guarded && !(flags & PROGRAM_JOB_REFUSED) ? kill_on_close_job() : nullptr;
  if (job) creation |= CREATE_SUSPENDED;
  BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, inherit, creation,
                                block.empty() ? nullptr : block.data(),
                                working_folder.empty() ? nullptr : working_folder.c_str(), &startup, &info);
  if (started) {
    close_handle(in.child);
    close_handle(out.child);
    close_handle(err.child);
    // Without a job (Windows before 8 refuses one inside another) the program runs, and is
    // ended by its handle when its record closes or this process ends normally.
    if (job && !AssignProcessToJobObject(job, info.hProcess)) close_handle(job);
    if (creation & CREATE_SUSPENDED) ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    return finish_started(info.hProcess, info.dwProcessId, flags, in, out, err, job, guarded && !job);
  }
  if (job) CloseHandle(job);
  in.close_both();
  out.close_both();
  err.close_both();
  if (flags & (PROGRAM_READ | PROGRAM_WRITE | PROGRAM_ERROR)) return 0;
  return shell_fallback(program_path, parameters, working_folder, flags, startup.wShowWindow);
}

intptr_t program_wait_handle(ProgramId program) {
  ProgramRecord* r = find_record(program);
  return r ? reinterpret_cast<intptr_t>(r->process) : 0;
}

int program_running(ProgramId program) {
  ProgramRecord* r = find_record(program);
  if (!r) return 0;
  if (WaitForSingleObject(r->process, 0) != WAIT_OBJECT_0) return 1;
  if (!r->output_read) return 0;
  if (!r->pending.empty()) return 1;
  return bytes_in_pipe(r->output_read) > 0 ? 1 : 0;
}

int64_t program_output_available(ProgramId program) {
  ProgramRecord* r = find_record(program);
  if (!r) return 0;
  return static_cast<int64_t>(bytes_in_pipe(r->output_read)) + static_cast<int64_t>(r->pending.size());
}

std::string read_program_line(ProgramId program) {
  ProgramRecord* r = find_record(program);
  if (!r || !r->output_read) return std::string();
  HANDLE pipe = r->output_read;
  return read_line(r->pending, [pipe](char* buffer, size_t size) -> int64_t {
    DWORD got = 0;
    if (!ReadFile(pipe, buffer, static_cast<DWORD>(size), &got, nullptr)) return 0;
    return got;
  });
}

std::string read_pipe_now(intptr_t pipe_handle) {
  HANDLE pipe = reinterpret_cast<HANDLE>(pipe_handle);
  std::string text;
  if (!pipe) return text;
  for (DWORD available = bytes_in_pipe(pipe); available > 0; available = bytes_in_pipe(pipe)) {
    size_t old = text.size();
    text.resize(old + available);
    DWORD got = 0;
    if (!ReadFile(pipe, &text[old], available, &got, nullptr)) got = 0;
    text.resize(old + got);
    if (got == 0) break;
  }
  return text;
}

std::string read_program_output(ProgramId program) {
  ProgramRecord* r = find_record(program);
  if (!r) return std::string();
  std::string text = r->pending;
  r->pending.clear();
  return text + read_pipe_now(reinterpret_cast<intptr_t>(r->output_read));
}

std::string read_program_errors(ProgramId program) {
  ProgramRecord* r = find_record(program);
  return r ? read_pipe_now(reinterpret_cast<intptr_t>(r->error_read)) : std::string();
}

uint32_t program_exit_code(ProgramId program) {
  ProgramRecord* r = find_record(program);
  DWORD code = 0;
  if (!r || !GetExitCodeProcess(r->process, &code)) return 0;
  return code;
}

void close_program(ProgramId program) {
  ProgramRecord* r = find_record(program);
  if (!r) return;
  RecordList& list = records();
  EnterCriticalSection(&list.lock);
  if (r->previous) r->previous->next = r->next;
  else list.head = r->next;
  if (r->next) r->next->previous = r->previous;
  LeaveCriticalSection(&list.lock);
  end_unguarded(r);
  close_handle(r->process);
  close_handle(r->input_write);
  close_handle(r->output_read);
  close_handle(r->error_read);
  close_handle(r->job);
  delete r;
}

void end_jobless_programs() {
  RecordList& list = records();
  EnterCriticalSection(&list.lock);
  for (ProgramRecord* r = list.head; r; r = r->next) end_unguarded(r);
  LeaveCriticalSection(&list.lock);
}

// Runs the archiver while the windows stay alive. Pitfalls:
// - The child inherits every inheritable handle: the channel's ends are inheritable only until
//   the child has started, and ours are never.
// - Events taken from the queue during the run belong to other windows too: their gadget, menu
//   and close events are put back when the run ends, so nothing the user did elsewhere is lost.
//   Native messages are not: they were handled when taken.
// - A password goes through a pipe of its own: only its read end is inheritable, and only until
//   the child has started; the write end is ours alone, so the child reads to the end of the pipe.
// - The archiver stops between blocks once the cancel event is set and exits with its own code;
//   a job object ends it if this process goes away first.
#include <windows.h>

#include <memory>

#include "operations/archiver_contract.h"
#include "operations/archiver_run.h"
#include "operations/busy_window.h"
#include "operations/operation_texts.h"
#include "operations/password.h"
#include "operations/run_progress.h"
#include "process/process_runner.h"
#include "ui/events.h"
#include "ui/taskbar.h"
#include "ui/ui.h"

namespace {

constexpr int EXIT_CANCELLED = 3;  // the archiver's code for a run stopped on request
constexpr DWORD REDRAW_MS = 100;
constexpr DWORD BUSY_WINDOW_AFTER_MS = 1000;

// Keeps the archiver's last line of complaint; earlier lines are usually the same story.
std::string last_line(const std::string& text) {
  size_t end = text.find_last_not_of("\r\n");
  if (end == std::string::npos) return std::string();
  size_t start = text.find_last_of("\r\n", end);
  return text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1) + 1);
}

// The progress pipe and the cancel event the archiver finds through its environment.
struct Channel {
  HANDLE progress_read = nullptr, progress_write = nullptr, cancel = nullptr;
  std::string pending;  // a progress line not yet ended

  bool make() {
    SECURITY_ATTRIBUTES inheritable = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (!CreatePipe(&progress_read, &progress_write, &inheritable, 1 << 16)) return false;
    SetHandleInformation(progress_read, HANDLE_FLAG_INHERIT, 0);
    cancel = CreateEventA(&inheritable, TRUE, FALSE, nullptr);
    return cancel != nullptr;
  }
  std::vector<std::string> environment() const {
    return {"VANTOR_PROGRESS=" + std::to_string(reinterpret_cast<uintptr_t>(progress_write)),
            "VANTOR_CANCEL=" + std::to_string(reinterpret_cast<uintptr_t>(cancel))};
  }
  // Once the child holds its copies: ours must not reach a later child, and the write end must
  // close here so the pipe ends with the archiver.
  void started() {
    CloseHandle(progress_write);
    progress_write = nullptr;
    SetHandleInformation(cancel, HANDLE_FLAG_INHERIT, 0);
  }
  // Takes every whole line that has arrived; the last report wins.
  void read(RunProgress& progress) {
    pending += read_pipe_now(reinterpret_cast<intptr_t>(progress_read));
    size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      parse_progress_line(pending.substr(0, end), progress);
      pending.erase(0, end + 1);
    }
  }
  ~Channel() {
    for (HANDLE h : {progress_read, progress_write, cancel})
      if (h) CloseHandle(h);
  }
};

// The password's pipe: its read end's handle value reaches the child through its environment,
// never the password itself; the child reads the pipe to its end.
struct PasswordPipe {
  HANDLE read = nullptr, write = nullptr;

  bool make() {
    SECURITY_ATTRIBUTES inheritable = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (!CreatePipe(&read, &write, &inheritable, 4096)) return false;
    SetHandleInformation(write, HANDLE_FLAG_INHERIT, 0);
    return true;
  }
  std::string environment() const {
    return "VANTOR_PASSWORD_HANDLE=" + std::to_string(reinterpret_cast<uintptr_t>(read));
  }
  // Once the child holds its copy of the read end: ours goes, then the password is written and
  // the pipe closed behind it. A child that has already ended makes the write fail, never wait.
  void hand_over(const std::string& password) {
    CloseHandle(read);
    read = nullptr;
    DWORD written = 0;
    WriteFile(write, password.data(), static_cast<DWORD>(password.size()), &written, nullptr);
    CloseHandle(write);
    write = nullptr;
  }
  ~PasswordPipe() {
    for (HANDLE h : {read, write})
      if (h) CloseHandle(h);
  }
};

// The bar and the status line of a run in its mode window, and the taskbar button.
class Display {
 public:
  explicit Display(const RunView& view) : view_(view), start_(GetTickCount()) {
    if (view_.window < 0) return;
    show_run_gadgets(view_, "Starting...");
    taskbar_progress(0, PROGRESS_MARQUEE);
  }
  ~Display() { taskbar_progress(0, TASKBAR_NO_PROGRESS); }

  void show(const RunProgress& progress, bool force = false) {
    DWORD now = GetTickCount();
    if (view_.window < 0 || cancelling_ || (!force && now - last_ < REDRAW_MS)) return;
    last_ = now;
    int position = progress_position(progress, PROGRESS_RANGE);
    if (position != gadget_get_state(view_.bar.number)) gadget_set_state(view_.bar.number, position);
    taskbar_progress(0, position);
    std::string status = progress_status(progress, (now - start_) / 1000.0);
    if (status != shown_) gadget_set_text(view_.status.number, shown_ = status);
  }
  void cancelling() {
    if (view_.window >= 0) gadget_set_text(view_.status.number, "Cancelling...");
    cancelling_ = true;
  }

 private:
  RunView view_;
  DWORD start_, last_ = 0;
  std::string shown_;
  bool cancelling_ = false;
};

// Follows the run until the archiver ends; true when the user asked to stop it. Both output
// pipes are emptied while it runs so it can never block on a full pipe. Without a window of its
// own, `active` becomes the busy window's view once that opens.
void take_output(const std::string& piece, const OutputSink& sink, ArchiverResult& result) {
  if (sink) {
    if (!piece.empty()) sink(piece);
    return;
  }
  result.output += piece;
  if (result.output.size() > 65536) result.output.erase(0, result.output.size() - 16384);
}

bool follow_run(ProgramId program, Channel& channel, bool own_window, RunView& active, ArchiverResult& result,
                std::string& errors, std::vector<HeldEvent>& held, const OutputSink& sink) {
  HANDLE process = reinterpret_cast<HANDLE>(program_wait_handle(program));
  DWORD start = GetTickCount();
  RunProgress progress;
  bool cancel_asked = false;
  std::unique_ptr<Display> display(own_window ? nullptr : new Display(active));
  while (program_running(program)) {
    take_output(read_program_output(program), sink, result);  // a full pipe would stop the archiver
    errors += read_program_errors(program);
    if (errors.size() > 65536) errors.erase(0, errors.size() - 16384);
    channel.read(progress);
    if (!display && GetTickCount() - start >= BUSY_WINDOW_AFTER_MS) {
      active = open_busy_window(active.busy_what);
      display.reset(new Display(active));
    }
    if (display) display->show(progress);
    MsgWaitForMultipleObjects(1, &process, FALSE, 50, QS_ALLINPUT);
    if (pump_messages(active, held, 0) && !cancel_asked) {
      cancel_asked = true;
      SetEvent(channel.cancel);
      if (display) display->cancelling();
    }
  }
  channel.read(progress);
  if (display) display->show(progress, true);
  return cancel_asked;
}

}  // namespace

void show_run_gadgets(const RunView& view, const std::string& status) {
  progress_gadget(view.bar.number, view.bar.x, view.bar.y, view.bar.w, view.bar.h);
  gadget_set_state(view.bar.number, PROGRESS_MARQUEE);
  text_gadget(view.status.number, view.status.x, view.status.y, view.status.w, view.status.h, status);
}

void wipe_secret(std::string& text) {
  if (!text.empty()) SecureZeroMemory(&text[0], text.size());
  text.clear();
}

ArchiverResult run_archiver(const std::string& program_folder, const std::string& parameters, const RunView& view,
                            const OutputSink& sink, const std::string& password) {
  ArchiverResult result;
  Channel channel;
  std::vector<std::string> environment;
  if (channel.make()) environment = channel.environment();
  PasswordPipe secret;
  if (!password.empty()) {
    if (!secret.make()) {
      result.reason = "the password could not be handed to vantor.exe (no pipe)";
      return result;
    }
    environment.push_back(secret.environment());
  }
  ProgramId program = run_program_with_environment(
      archiver_program_path(program_folder), password.empty() ? parameters : with_switch(parameters, "-pw"), "",
      PROGRAM_HIDE | PROGRAM_OPEN | PROGRAM_READ | PROGRAM_ERROR | PROGRAM_KILL_WITH_US, environment);
  channel.started();
  if (!password.empty()) secret.hand_over(password);
  if (program == 0) {
    result.reason = "vantor.exe could not be started from " + program_folder;
    return result;
  }
  result.started = true;
  HCURSOR previous_cursor = GetCursor();
  HCURSOR previous_busy_cursor = window_busy_cursor(0, LoadCursorA(nullptr, IDC_APPSTARTING));
  // A run without a window of its own keeps the main window still, and past a second shows
  // the busy window, whose Cancel stops it like a mode window's exit button.
  bool own_window = view.window < 0;
  if (own_window) window_disable(0, 1);
  RunView active = view;
  std::string errors;
  std::vector<HeldEvent> held;
  bool cancel_asked = follow_run(program, channel, own_window, active, result, errors, held, sink);
  if (own_window) {
    window_disable(0, 0);  // first, so activation returns to it when the busy window goes
    if (active.window >= 0) close_busy_window();
  }
  errors += read_program_errors(program);
  take_output(read_program_output(program), sink, result);
  result.exit_code = static_cast<int>(program_exit_code(program));
  close_program(program);
  window_busy_cursor(0, previous_busy_cursor);
  SetCursor(previous_cursor);
  release_held_events(held);
  result.cancelled = cancel_asked && result.exit_code == EXIT_CANCELLED;
  result.reason = last_line(errors);
  result.problems = problem_lines(errors);
  return result;
}

std::string archiver_failure_text(const std::string& what, const ArchiverResult& result) {
  std::string text = what;
  if (!result.started)
    text += ": " + result.reason + ".";
  else if (!result.reason.empty())
    text += ": " + result.reason;
  else
    text += ": the archiver ended with code " + std::to_string(result.exit_code) + ".";
  return text;
}

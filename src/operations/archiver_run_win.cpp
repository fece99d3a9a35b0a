#include <windows.h>

#include "operations/archiver_contract.h"
#include "operations/archiver_run.h"
#include "operations/operation_texts.h"
#include "process/process_runner.h"

namespace {

// Keeps the archiver's last line of complaint; earlier lines are usually the same story.
std::string last_line(const std::string& text) {
  size_t end = text.find_last_not_of("\r\n");
  if (end == std::string::npos) return std::string();
  size_t start = text.find_last_of("\r\n", end);
  return text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1) + 1);
}

}  // namespace

ArchiverResult run_archiver(const std::string& program_folder, const std::string& parameters) {
  ArchiverResult result;
  ProgramId program = run_program(archiver_program_path(program_folder), parameters, "",
                                  PROGRAM_HIDE | PROGRAM_OPEN | PROGRAM_READ | PROGRAM_ERROR);
  if (program == 0) {
    result.reason = "vantor.exe could not be started from " + program_folder;
    return result;
  }
  result.started = true;
  std::string errors;
  // Both pipes are emptied while the archiver runs so it can never block on a full pipe.
  while (program_running(program)) {
    bool idle = true;
    if (program_output_available(program) > 0) {
      read_program_line(program);
      idle = false;
    }
    std::string more = read_program_errors(program);
    if (!more.empty()) {
      errors += more;
      if (errors.size() > 65536) errors.erase(0, errors.size() - 16384);
      idle = false;
    }
    if (idle) Sleep(5);
  }
  errors += read_program_errors(program);
  result.exit_code = static_cast<int>(program_exit_code(program));
  close_program(program);
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

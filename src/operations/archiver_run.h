// Runs vantor.exe hidden, waits for it and tells how it ended.
#pragma once
#include <string>
#include <vector>

struct ArchiverResult {
  bool started = false;
  int exit_code = -1;
  std::string reason;  // the archiver's last words on standard error, when it failed
  std::vector<std::string> problems;  // every complaint it made, one per line
  bool ok() const { return started && exit_code == 0; }
};

// Starts program_folder\vantor.exe with the parameters, no working folder, hidden, and waits for
// its end; its output is drained so the pipe can never block it.
ArchiverResult run_archiver(const std::string& program_folder, const std::string& parameters);

// One sentence for a warning box: what failed and why.
std::string archiver_failure_text(const std::string& what, const ArchiverResult& result);

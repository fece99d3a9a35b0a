// Runs vantor.exe hidden and tells how it ended. The window stays alive meanwhile: messages are
// handled while the run goes on, its progress arrives on a channel of its own (named in the
// child's environment, beside the unchanged parameter string) and a cancel is a request the
// archiver honours between blocks. The archiver cannot outlive the front end.
#pragma once
#include <functional>
#include <string>
#include <vector>

struct ArchiverResult {
  bool started = false;
  bool cancelled = false;  // the user asked to stop and the archiver stopped
  int exit_code = -1;
  std::string reason;  // the archiver's last words on standard error, when it failed
  std::vector<std::string> problems;  // every complaint it made, one per line
  std::string output;  // its standard output (the last 64 KB): the summary of a test run
  bool ok() const { return started && exit_code == 0; }
};

// Where a run shows itself: a window of ours whose close box and `stop_gadget` ask to cancel,
// and the gadget numbers a progress bar and a status line are created under for the run.
// window -1: no window of its own (messages are still handled, nothing can be cancelled).
struct PlacedGadget {
  int number = -1, x = 0, y = 0, w = 0, h = 0;
};
struct RunView {
  int window = -1;
  int stop_gadget = -1;
  PlacedGadget bar, status;
  std::string busy_what = "extracting";  // window -1: what the busy window says the run does
};

// Creates the run's bar (moving without a position at first) and its status line in the view's
// window, which must be the target of new gadgets.
void show_run_gadgets(const RunView& view, const std::string& status);

// Takes the archiver's standard output piece by piece as it arrives, all of it.
using OutputSink = std::function<void(const std::string& piece)>;

// Starts program_folder\vantor.exe with the parameters, no working folder, hidden, and returns
// when it has ended; its output is drained so the pipe can never block it. Without a sink only
// the last 64 KB of the output are kept in the result. With a password the parameters get -pw
// and the password goes through a pipe of its own, whose handle the child's environment names.
ArchiverResult run_archiver(const std::string& program_folder, const std::string& parameters,
                            const RunView& view = RunView(), const OutputSink& sink = OutputSink(),
                            const std::string& password = std::string());

// Overwrites the text's bytes before letting it go: a password must not linger in freed memory.
void wipe_secret(std::string& text);

// One sentence for a warning box: what failed and why.
std::string archiver_failure_text(const std::string& what, const ArchiverResult& result);

// The progress channel beside the command line. A caller that wants live progress and a way to
// stop the run names them in the environment:
//   VANTOR_PROGRESS  a pipe's write end (a handle on Windows, a descriptor elsewhere); every
//                    100 ms it gets one line "progress <done> <total> <member>" (total -1 until
//                    known, bytes read when adding, bytes written when extracting or tested)
//   VANTOR_CANCEL    an event (Windows) or a pipe's read end: set, readable or closed, it asks
//                    the run to stop; the run then cleans up and exits with EXIT_CANCELLED
// Without them nothing changes.
#pragma once
#include <string>

#include "run_control.h"

constexpr int EXIT_CANCELLED = 3;

// The progress line for the figures in `control`.
std::string progress_line(const RunControl& control);

class RunChannel {
 public:
  RunChannel() = default;
  ~RunChannel() { stop(); }
  RunChannel(const RunChannel&) = delete;
  RunChannel& operator=(const RunChannel&) = delete;
  // Starts a reporter thread when the environment asks for progress or cancelling.
  void start(RunControl& control);
  // A last report, then the thread ends.
  void stop();

 private:
  struct Thread;
  Thread* thread_ = nullptr;
};

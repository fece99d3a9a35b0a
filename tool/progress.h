// One updating line of progress on standard error, shown only when it is a console: the front
// end and scripts read the archiver's output from pipes and files, where it would be noise.
#pragma once
#include <chrono>
#include <cstdint>

class ProgressLine {
 public:
  ProgressLine();
  ~ProgressLine();
  bool active() const { return active_; }
  // Redraws at most a few times a second.
  void update(int64_t done, int64_t total);
  // Removes the line, so that what follows starts on a clean one.
  void clear();

 private:
  bool active_ = false;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point start_, last_;
};

// What a run shares with whoever watches it: how far it has got, which member it is on, and
// whether it has been asked to stop. The engines update it from their worker threads between
// blocks of data; a reporter reads it. Lock-free, so the self-extracting stub can carry it.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

struct RunControl {
  std::atomic<int64_t> done{0};
  std::atomic<int64_t> total{-1};  // -1 until known
  std::atomic<const std::string*> member{nullptr};  // points into data that outlives the run
  std::atomic<bool> cancel{false};

  bool cancelled() const { return cancel.load(std::memory_order_relaxed); }
  void add(int64_t bytes) { done.fetch_add(bytes, std::memory_order_relaxed); }
  void working_on(const std::string* name) { member.store(name, std::memory_order_relaxed); }
};

// The problem text of a member whose work was cut short by a cancel; never shown on its own.
constexpr const char* CANCELLED_PROBLEM = "cancelled";

// The member names an engine points to die with its run: it forgets them on the way out.
struct ForgetMemberOnExit {
  RunControl* control;
  ~ForgetMemberOnExit() {
    if (control) control->working_on(nullptr);
  }
};

inline bool cancelled(const RunControl* control) { return control && control->cancelled(); }
inline void add_progress(RunControl* control, int64_t bytes) {
  if (control) control->add(bytes);
}

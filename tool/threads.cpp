// The thread pool of the reading side, kept apart so the self-extracting stub can do without it.
#include <algorithm>
#include <thread>
#include <vector>

#include "engine.h"

int resolve_thread_count(int requested) {
  if (requested > 0) return requested;
  unsigned n = std::thread::hardware_concurrency();
  return n ? static_cast<int>(std::min(n, 64u)) : 1;
}

namespace {

void run_on_threads(int count, void (*work)(void*, int), void* context) {
  std::vector<std::thread> pool;
  for (int i = 1; i < count; ++i) pool.emplace_back(work, context, i);
  work(context, 0);
  for (std::thread& t : pool) t.join();
}

}  // namespace

RunResult read_archive(const ReadJob& job) {
  ReadJob resolved = job;
  resolved.threads = resolve_thread_count(job.threads);
  return read_archive_with(resolved, run_on_threads);
}

// The thread pool of the reading side, kept apart so the self-extracting stub can do without it:
// the runner, the member writers and the thread count.
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "engine.h"

int resolve_thread_count(int requested) {
  if (requested > 0) return requested;
  unsigned n = std::thread::hardware_concurrency();
  return n ? static_cast<int>(std::min(n, 64u)) : 1;
}

void run_on_threads(int count, void (*work)(void*, int), void* context) {
  std::vector<std::thread> pool;
  for (int i = 1; i < count; ++i) pool.emplace_back(work, context, i);
  work(context, 0);
  for (std::thread& t : pool) t.join();
}

namespace {

// The buffers of decoded members waiting for a writer take up to this much memory.
constexpr size_t WRITERS_HOLD = 8 << 20;

class ThreadWriters : public MemberWriters {
 public:
  explicit ThreadWriters(int count) {
    for (int i = 0; i < count; ++i) threads_.emplace_back([this, i] { loop(i); });
  }
  ~ThreadWriters() override {
    {
      std::lock_guard<std::mutex> guard(lock_);
      stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
  }
  int count() const override { return static_cast<int>(threads_.size()); }
  void post(size_t bytes, std::function<void(int)> task) override {
    std::unique_lock<std::mutex> guard(lock_);
    room_.wait(guard, [&] { return held_ == 0 || held_ + bytes <= WRITERS_HOLD; });
    held_ += bytes;
    ++pending_;
    tasks_.push_back(Task{bytes, std::move(task)});
    wake_.notify_one();
  }
  void drain() override {
    std::unique_lock<std::mutex> guard(lock_);
    room_.wait(guard, [&] { return pending_ == 0; });
  }
  std::vector<uint8_t> take_buffer() override {
    std::lock_guard<std::mutex> guard(lock_);
    if (spare_.empty()) return {};
    std::vector<uint8_t> buffer = std::move(spare_.back());
    spare_.pop_back();
    spare_bytes_ -= buffer.capacity();
    return buffer;
  }
  void give_back(std::vector<uint8_t> buffer) override {
    buffer.clear();
    std::lock_guard<std::mutex> guard(lock_);
    // No more spare than the writers may hold: what was in flight at the busiest moment.
    if (spare_bytes_ + buffer.capacity() > WRITERS_HOLD) return;
    spare_bytes_ += buffer.capacity();
    spare_.push_back(std::move(buffer));
  }

 private:
  struct Task {
    size_t bytes = 0;
    std::function<void(int)> run;
  };
  void loop(int slot) {
    for (;;) {
      Task task;
      {
        std::unique_lock<std::mutex> guard(lock_);
        wake_.wait(guard, [&] { return stop_ || !tasks_.empty(); });
        if (tasks_.empty()) return;
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task.run(slot);
      {
        std::lock_guard<std::mutex> guard(lock_);
        held_ -= task.bytes;
        --pending_;
      }
      room_.notify_all();
    }
  }

  std::vector<std::thread> threads_;
  std::mutex lock_;
  std::condition_variable wake_, room_;
  std::deque<Task> tasks_;
  size_t held_ = 0, pending_ = 0;
  std::vector<std::vector<uint8_t>> spare_;
  size_t spare_bytes_ = 0;
  bool stop_ = false;
};

}  // namespace

std::unique_ptr<MemberWriters> start_member_writers(int count) { return std::make_unique<ThreadWriters>(count); }

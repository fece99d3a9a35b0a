#include "forward_io.h"

#include <sodium.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {
constexpr size_t STRETCH = 1 << 20;
}  // namespace

ForwardReader::~ForwardReader() {
  if (thread_.joinable()) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  // The plain archive's bytes do not stay behind in freed memory.
  sodium_memzero(current_.bytes.data(), current_.bytes.size());
  sodium_memzero(next_.bytes.data(), next_.bytes.size());
}

bool ForwardReader::open(const std::string& path) {
  if (!direct_.open_read(path) || !ahead_file_.open_read(path)) return false;
  length_ = direct_.length();
  current_.bytes.resize(STRETCH);
  next_.bytes.resize(STRETCH);
  ask(0);
  return true;
}

void ForwardReader::ask(int64_t at) {
  if (at >= length_) return;
  {
    std::lock_guard<std::mutex> hold(lock_);
    next_.at = at;
    next_.size = static_cast<size_t>(std::min<int64_t>(STRETCH, length_ - at));
    next_.ok = false;
    asked_ = true;
    done_ = false;
  }
  if (thread_.joinable()) wake_.notify_all();
  else thread_ = std::thread([this] { run(); });
}

void ForwardReader::run() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    wake_.wait(hold, [this] { return quit_ || (asked_ && !done_); });
    if (quit_) return;
    hold.unlock();
    bool ok = ahead_file_.read_at(next_.at, next_.bytes.data(), next_.size);
    hold.lock();
    next_.ok = ok;
    done_ = true;
    finished_.notify_all();
  }
}

bool ForwardReader::read_at(int64_t offset, void* buffer, size_t size) {
  uint8_t* out = static_cast<uint8_t*>(buffer);
  while (size > 0) {
    if (current_.holds(offset)) {
      size_t n = std::min(size, static_cast<size_t>(current_.at + static_cast<int64_t>(current_.size) - offset));
      std::memcpy(out, current_.bytes.data() + (offset - current_.at), n);
      out += n;
      offset += static_cast<int64_t>(n);
      size -= n;
      continue;
    }
    bool ready = false;
    {
      std::unique_lock<std::mutex> hold(lock_);
      if (asked_) {
        finished_.wait(hold, [this] { return done_; });
        asked_ = false;
        ready = next_.holds(offset);
      }
    }
    if (ready) {
      std::swap(current_, next_);
      ask(current_.at + static_cast<int64_t>(current_.size));
      continue;
    }
    // Not where the reading went: read here, and read on from its end.
    if (!direct_.read_at(offset, out, size)) return false;
    ask(offset + static_cast<int64_t>(size));
    return true;
  }
  return true;
}

WriteBehind::WriteBehind(File& file) : file_(file) {
  filling_.reserve(STRETCH);
  writing_.reserve(STRETCH);
}

WriteBehind::~WriteBehind() {
  if (!thread_.joinable()) return;
  {
    std::unique_lock<std::mutex> hold(lock_);
    wait_idle(hold);
    quit_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void WriteBehind::wait_idle(std::unique_lock<std::mutex>& hold) {
  finished_.wait(hold, [this] { return !pending_; });
}

void WriteBehind::hand_over() {
  if (filling_.empty()) return;
  {
    std::unique_lock<std::mutex> hold(lock_);
    wait_idle(hold);
    std::swap(filling_, writing_);
    pending_ = true;
  }
  filling_.clear();
  if (thread_.joinable()) wake_.notify_all();
  else thread_ = std::thread([this] { run(); });
}

void WriteBehind::run() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    wake_.wait(hold, [this] { return quit_ || pending_; });
    if (quit_ && !pending_) return;
    hold.unlock();
    bool ok = file_.write(writing_.data(), writing_.size());
    std::string why = ok ? std::string() : last_error_text();
    hold.lock();
    failed(ok, why);
    pending_ = false;
    finished_.notify_all();
  }
}

void WriteBehind::write(const uint8_t* p, size_t n) {
  if (filling_.size() + n > filling_.capacity()) hand_over();
  if (n < filling_.capacity()) {
    filling_.insert(filling_.end(), p, p + n);
    return;
  }
  std::unique_lock<std::mutex> hold(lock_);
  wait_idle(hold);
  bool ok = file_.write(p, n);
  failed(ok, ok ? std::string() : last_error_text());
}

void WriteBehind::failed(bool ok, const std::string& why) {
  if (ok || !ok_) return;
  ok_ = false;
  error_ = why;
}

bool WriteBehind::flush() {
  hand_over();
  std::unique_lock<std::mutex> hold(lock_);
  wait_idle(hold);
  return ok_;
}

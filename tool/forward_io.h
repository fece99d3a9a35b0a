// A file read or written forward with the file's own work on a second thread: the next megabyte
// is read (and unmasked) while the caller works on this one, or the last one written while the
// caller fills the next.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive_source.h"
#include "file_io.h"

class ForwardReader : public ArchiveSource {
 public:
  ~ForwardReader() override;
  bool open(const std::string& path);
  // Reads going forward come from what the thread read; any other read goes to the file.
  bool read_at(int64_t offset, void* buffer, size_t size) override;
  int64_t length() override { return length_; }

 private:
  struct Stretch {
    int64_t at = 0;
    size_t size = 0;
    bool ok = false;
    std::vector<uint8_t> bytes;
    bool holds(int64_t offset) const { return ok && offset >= at && offset < at + static_cast<int64_t>(size); }
  };
  void ask(int64_t at);
  void run();

  File direct_, ahead_file_;
  int64_t length_ = 0;
  Stretch current_, next_;  // next_ belongs to the thread while asked_
  std::thread thread_;
  std::mutex lock_;
  std::condition_variable wake_, finished_;
  bool asked_ = false, done_ = false, quit_ = false;
};

class WriteBehind {
 public:
  explicit WriteBehind(File& file);
  ~WriteBehind();
  void write(const uint8_t* p, size_t n);
  // Waits for every byte to be written; false when one write failed.
  bool flush();
  // Why the first failed write failed.
  const std::string& error() const { return error_; }

 private:
  void hand_over();
  void failed(bool ok, const std::string& why);  // under the lock
  void wait_idle(std::unique_lock<std::mutex>& hold);
  void run();

  File& file_;
  std::vector<uint8_t> filling_, writing_;  // writing_ belongs to the thread while pending_
  bool ok_ = true, pending_ = false, quit_ = false;
  std::string error_;
  std::thread thread_;
  std::mutex lock_;
  std::condition_variable wake_, finished_;
};

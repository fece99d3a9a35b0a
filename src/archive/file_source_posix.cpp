// File-backed byte source for the native build (tests and tools on Linux), and why a file
// cannot be opened.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "archive/index_walk.h"
#include "archive/open_archive.h"

namespace {

class PosixFileSource : public ByteSource {
 public:
  PosixFileSource(int fd, bool writable) : fd_(fd), writable_(writable) {}
  ~PosixFileSource() override { close(fd_); }
  PosixFileSource(const PosixFileSource&) = delete;
  PosixFileSource& operator=(const PosixFileSource&) = delete;

  int64_t size() override {
    struct stat st;
    return fstat(fd_, &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
  }

  size_t read_at(int64_t offset, void* buffer, size_t n) override {
    if (offset < 0) return 0;
    size_t done = 0;
    while (done < n) {
      ssize_t got = pread(fd_, static_cast<char*>(buffer) + done, n - done, offset + done);
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    return done;
  }

  bool write_at(int64_t offset, uint8_t byte) override {
    return writable_ && offset >= 0 && pwrite(fd_, &byte, 1, offset) == 1;
  }

 private:
  int fd_;
  bool writable_;
};

bool is_folder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

// A folder is no source, as on Windows, where it cannot be opened as a file.
std::unique_ptr<ByteSource> open_file_source(const std::string& path, bool writable) {
  if (is_folder(path)) return nullptr;
  int fd = open(path.c_str(), writable ? O_RDWR : O_RDONLY);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixFileSource>(fd, writable);
}

std::string archive_open_problem(const std::string& path) {
  if (is_folder(path)) return "it is a folder";
  int fd = open(path.c_str(), O_RDONLY);
  if (fd >= 0) {
    close(fd);
    return std::string();
  }
  switch (errno) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG: return "it does not exist";
    case EACCES:
    case EPERM: return "access to it is denied";
    default: return "the system cannot read it (error " + std::to_string(errno) + ")";
  }
}

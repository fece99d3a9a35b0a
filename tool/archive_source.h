// What the reading engines read an archive through: the file itself, or the plain form of an
// encrypted one decrypted as it is read (seal.h).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "file_io.h"

class ArchiveSource {
 public:
  virtual ~ArchiveSource() = default;
  // Exactly `size` bytes at `offset`; false on error or short read.
  virtual bool read_at(int64_t offset, void* buffer, size_t size) = 0;
  virtual int64_t length() = 0;
  // Why the last read failed, as the end of a sentence about a member's data.
  virtual std::string read_problem() const { return "cannot read the archive"; }
};

class FileSource : public ArchiveSource {
 public:
  bool open(const std::string& path) { return file_.open_read(path); }
  bool read_at(int64_t offset, void* buffer, size_t size) override { return file_.read_at(offset, buffer, size); }
  int64_t length() override { return file_.length(); }

 private:
  File file_;
};

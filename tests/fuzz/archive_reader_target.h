// One fuzz input through the archiver's reader: the index walk, every method's decoder, solid
// streams and a shifted index start, listing and then decoding every member into a memory
// sink. Shared by the libFuzzer harness and the native corpus replay.
#pragma once
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine.h"

// True when every invariant held. The first byte picks the index start: 0, or (high bit set)
// the low seven bits, as a self-extracting archive's index starts after its program.
inline bool archive_reader_fuzz_one(const uint8_t* data, size_t size) {
  if (size == 0) return true;
  int64_t start = (data[0] & 0x80) ? (data[0] & 0x7f) : 0;
  int fd = memfd_create("vantor-fuzz", MFD_CLOEXEC);
  if (fd < 0) return false;
  bool written = size == 1 || write(fd, data + 1, size - 1) == static_cast<ssize_t>(size - 1);
  bool held = written;
  for (ReadMode mode : {ReadMode::LIST, ReadMode::TEST}) {
    ReadJob job;
    job.mode = mode;
    job.archive_path = "/proc/self/fd/" + std::to_string(fd);
    job.index_start = start;
    int64_t listed = 0, delivered = 0;
    job.on_entry = [&](const EntryHeader&) { ++listed; };
    job.on_data = [&](const uint8_t*, size_t n) { delivered += static_cast<int64_t>(n); };
    RunResult result = read_archive_with(job, nullptr);
    // A failure always says why; a success accounts for every member and every byte.
    if (!result.ok && result.problems.empty()) held = false;
    if (result.ok && mode == ReadMode::LIST && listed != result.members) held = false;
    if (result.ok && mode == ReadMode::TEST && delivered != result.bytes_in) held = false;
  }
  close(fd);
  return held;
}

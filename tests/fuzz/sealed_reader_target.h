// One fuzz input through the unsealing of an encrypted archive: the walk over sealed entries, the
// key parameters' checks, the secretstream and the plain entries it writes back, and the same
// archive read in place. The key is a fixed one in place of the Argon2id derivation (whose memory
// would make every input slow); the seeds are archives sealed with it. Shared by the libFuzzer
// harness and the native corpus replay.
#pragma once
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine.h"
#include "seal.h"

constexpr uint8_t SEALED_FUZZ_KEY_BYTE = 0x5A;

inline bool sealed_fuzz_key(SealKey& key, std::string&) {
  key.key.resize(32);
  for (size_t i = 0; i < 32; ++i) key.key.data()[i] = SEALED_FUZZ_KEY_BYTE;
  return true;
}

// True when every invariant held: a refusal says why, and what unseals is a plain archive that
// our own reader takes whole.
inline bool sealed_reader_fuzz_one(const uint8_t* data, size_t size) {
  int in = memfd_create("vantor-sealed", MFD_CLOEXEC), out = memfd_create("vantor-plain", MFD_CLOEXEC);
  if (in < 0 || out < 0) return false;
  bool held = size == 0 || write(in, data, size) == static_cast<ssize_t>(size);
  std::string plain = "/proc/self/fd/" + std::to_string(out);
  SealKey key;
  std::string problem;
  UnsealOutcome outcome = unseal_archive_with("/proc/self/fd/" + std::to_string(in), plain, sealed_fuzz_key, key, problem);
  if (outcome != UnsealOutcome::OK && problem.empty()) held = false;
  if (outcome == UnsealOutcome::OK) {
    ReadJob job;
    job.mode = ReadMode::TEST;
    job.archive_path = plain;
    job.index_start = 0;
    job.on_data = [](const uint8_t*, size_t) {};
    RunResult result = read_archive_with(job, nullptr);
    if (!result.ok && result.problems.empty()) held = false;
    // Read in place, decrypted as it is read, the same archive tests the same.
    SealKey again;
    std::shared_ptr<SealedLayout> layout;
    if (open_sealed_with("/proc/self/fd/" + std::to_string(in), sealed_fuzz_key, again, layout, problem) !=
        UnsealOutcome::OK) {
      held = false;
    } else {
      job.open_archive = [layout](bool for_index) { return sealed_source(layout, for_index); };
      RunResult in_place = read_archive_with(job, nullptr);
      if (in_place.ok != result.ok || in_place.members != result.members) held = false;
    }
  }
  close(in);
  close(out);
  return held;
}

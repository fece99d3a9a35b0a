// One fuzz input through the zstd decoder as the reader drives it: a run of frames, its output
// capped. Shared by the libFuzzer harness and the native corpus replay.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "codec.h"

// True when every invariant held: a refusal has a reason, and no success passes the cap.
inline bool zstd_frames_fuzz_one(const uint8_t* data, size_t size) {
  const size_t cap = 1 << 20;
  std::vector<uint8_t> out;
  std::string problem;
  if (!zstd_decode_buffer(data, size, cap, out, problem)) return !problem.empty();
  return out.size() <= cap;
}

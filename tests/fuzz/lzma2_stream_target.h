// One fuzz input through the LZMA2 decoder as the reader drives it: three bytes of the stream's
// recorded settings (filter, delta distance - 1, dictionary as a power of two), then the stream,
// its output capped. Shared by the libFuzzer harness and the native corpus replay.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "codec.h"

// True when every invariant held: a refusal has a reason, and no success passes the cap.
inline bool lzma2_stream_fuzz_one(const uint8_t* data, size_t size) {
  const size_t cap = 1 << 20;
  if (size < 3) return true;
  EntryHeader first;
  first.method = METHOD_LZMA2;
  first.filter = data[0] & 3;
  first.filter_distance = first.filter == FILTER_DELTA ? data[1] + 1 : 0;
  first.dictionary = data[2] >= 32 ? 0xffffffffu : uint32_t(1) << data[2];
  std::vector<uint8_t> out;
  std::string problem;
  if (!lzma2_decode_buffer(first, data + 3, size - 3, cap, out, problem)) return !problem.empty();
  return out.size() <= cap;
}

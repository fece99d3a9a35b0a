// One fuzz input through the PPMd decoder as the reader drives it: the model's order (1 byte, as
// recorded), its memory (1 byte: 64 KB steps up to 4 MB; 254 none, 255 beyond what a reader
// allocates), the stream's size (2 bytes), the stretch the input comes in (1 byte), then the
// stream. Shared by the libFuzzer harness and the native corpus replay.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "codec.h"

// True when every invariant held: a refusal has a reason, and a success gives the stream's size.
inline bool ppmd_stream_fuzz_one(const uint8_t* data, size_t size) {
  if (size < 5) return true;
  EntryHeader first;
  first.method = METHOD_PPMD;
  first.ppmd_order = data[0];
  first.ppmd_memory = data[1] == 255 ? 0xffffffffu : data[1] == 254 ? 0 : ((data[1] % 64u) + 1) << 16;
  uint64_t stream_size = data[2] | data[3] << 8;
  size_t stretch = data[4] + 1u;
  std::vector<uint8_t> out;
  std::string problem;
  if (!ppmd_decode_buffer(first, stream_size, data + 5, size - 5, stretch, out, problem)) return !problem.empty();
  return out.size() == stream_size;
}

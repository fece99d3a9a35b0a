// libFuzzer harness; the invariants live in zstd_frames_target.h, shared with the native replay.
#include <cstdlib>

#include "zstd_frames_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!zstd_frames_fuzz_one(data, size)) std::abort();
  return 0;
}

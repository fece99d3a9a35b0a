// libFuzzer harness; the invariants live in ppmd_stream_target.h, shared with the native replay.
#include <cstdlib>

#include "ppmd_stream_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!ppmd_stream_fuzz_one(data, size)) std::abort();
  return 0;
}

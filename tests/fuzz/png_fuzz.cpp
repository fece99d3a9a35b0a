// libFuzzer harness; the invariants live in png_target.h, shared with the native replay.
#include <cstdlib>

#include "png_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!png_fuzz_one(data, size)) std::abort();
  return 0;
}

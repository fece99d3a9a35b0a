// libFuzzer harness; the invariants live in options_target.h, shared with the native replay.
#include <cstdlib>

#include "options_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!options_fuzz_one(data, size)) std::abort();
  return 0;
}

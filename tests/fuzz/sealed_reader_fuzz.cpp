// libFuzzer harness; the invariants live in sealed_reader_target.h, shared with the native replay.
#include <cstdlib>

#include "sealed_reader_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!sealed_reader_fuzz_one(data, size)) std::abort();
  return 0;
}

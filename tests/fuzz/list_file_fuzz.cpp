// libFuzzer harness; the invariants live in list_file_target.h, shared with the native replay.
#include <cstdlib>

#include "list_file_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!list_file_fuzz_one(data, size)) std::abort();
  return 0;
}

// libFuzzer harness for the index walk: any bytes must walk without leaving the buffer, end, and
// leave the file untouched unless the chain is sound.
#include <cstdlib>

#include "index_walk_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!index_walk_fuzz_one(data, size)) std::abort();
  return 0;
}

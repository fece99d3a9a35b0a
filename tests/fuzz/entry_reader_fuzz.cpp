// libFuzzer harness for the entry reader: the front end's walk and the archiver's reading must
// agree on every entry both accept.
#include <cstdlib>

#include "entry_reader_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!entry_reader_fuzz_one(data, size)) std::abort();
  return 0;
}

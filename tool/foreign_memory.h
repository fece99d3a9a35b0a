// How much memory one allocation may take while libarchive decodes: a member may ask for
// dictionaries, windows and PPMd models of up to 4 GB, which a 32-bit process cannot hold. Where
// the program is linked with the allocator wrapped (VANTOR_WRAP_MALLOC), a larger request is
// refused as the system would refuse it, and remembered, so the member's message names the need;
// so is a smaller one the system refuses.
#pragma once
#include <cstddef>
#include <cstdint>

// While one lives, allocations larger than `cap` bytes fail (0: none is refused).
class ForeignMemoryCap {
 public:
  explicit ForeignMemoryCap(int64_t cap);
  ~ForeignMemoryCap();
  ForeignMemoryCap(const ForeignMemoryCap&) = delete;
  ForeignMemoryCap& operator=(const ForeignMemoryCap&) = delete;
  // The largest request refused (by the cap or the system) since the last call, 0 when none;
  // forgets it.
  static int64_t take_refused();
  static int64_t cap();
};

// The cap for this process: half of what a 32-bit process may take, far more on 64-bit.
int64_t foreign_memory_cap();

#include "foreign_memory.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "codec.h"

namespace {

// Plain atomics, not thread-local storage: where that is emulated, its first use allocates.
std::atomic<size_t> g_cap{0};
std::atomic<size_t> g_refused{0};

void note_refused(size_t size) {
  size_t seen = g_refused.load(std::memory_order_relaxed);
  while (size > seen && !g_refused.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
  }
}

bool over_cap(size_t size) {
  size_t cap = g_cap.load(std::memory_order_relaxed);
  if (cap == 0 || size <= cap) return false;
  note_refused(size);
  errno = ENOMEM;
  return true;
}

// A request the system refused while a cap is set is remembered too: its size is the need.
void* noted(void* block, size_t size) {
  if (!block && size != 0 && g_cap.load(std::memory_order_relaxed) != 0) note_refused(size);
  return block;
}

}  // namespace

ForeignMemoryCap::ForeignMemoryCap(int64_t cap) {
  g_refused.store(0);
  g_cap.store(cap > 0 && static_cast<uint64_t>(cap) < SIZE_MAX ? static_cast<size_t>(cap) : 0);
}

ForeignMemoryCap::~ForeignMemoryCap() { g_cap.store(0); }

int64_t ForeignMemoryCap::take_refused() { return static_cast<int64_t>(g_refused.exchange(0)); }

int64_t ForeignMemoryCap::cap() { return static_cast<int64_t>(g_cap.load()); }

int64_t foreign_memory_cap() { return sizeof(void*) == 4 ? ADDRESS_SPACE_32_BIT / 2 : int64_t(1) << 39; }

#ifdef VANTOR_WRAP_MALLOC
// The linker sends every call of these here (-Wl,--wrap=...); __real_* are the C library's.
extern "C" {
void* __real_malloc(size_t size);
void* __real_calloc(size_t count, size_t size);
void* __real_realloc(void* block, size_t size);

void* __wrap_malloc(size_t size) { return over_cap(size) ? nullptr : noted(__real_malloc(size), size); }

void* __wrap_calloc(size_t count, size_t size) {
  if (size != 0 && count > SIZE_MAX / size) return __real_calloc(count, size);  // fails as it should
  return over_cap(count * size) ? nullptr : noted(__real_calloc(count, size), count * size);
}

void* __wrap_realloc(void* block, size_t size) {
  return over_cap(size) ? nullptr : noted(__real_realloc(block, size), size);
}
}
#endif

// Size trims for the self-extracting stub, which must fit a 155,648-byte slot. The C++ runtime's
// own versions of these pull in exception classes, copy-on-write strings and the demangler
// (tens of kilobytes). The stub has no handler for any of these failures, so ending the process
// loses nothing.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

namespace std {
void __throw_bad_alloc() { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
void __throw_bad_function_call() { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_out_of_range(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
void __throw_invalid_argument(const char*) { std::abort(); }
}  // namespace std

// The library's operator new throws on failure, which links the whole unwinder and the thread
// library behind it (about 50 KB on i686).
void* operator new(std::size_t size) {
  if (void* block = std::malloc(size ? size : 1)) return block;
  std::abort();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

// The library's prebuilt std::string instantiation comes as one block; instantiated here, in
// function sections, only the members the stub calls are kept.
#include <string>
template class std::basic_string<char>;

#include "runtime/text.h"

#include <algorithm>

namespace {

int fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

}  // namespace

// UTF-8 bytes sort in code point order, so a byte comparison orders whole characters.
int compare_names(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int d = fold(static_cast<unsigned char>(a[i])) - fold(static_cast<unsigned char>(b[i]));
    if (d != 0) return d < 0 ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool same_name_ignoring_case(const std::string& a, const std::string& b) { return compare_names(a, b) == 0; }

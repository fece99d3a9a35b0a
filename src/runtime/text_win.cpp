#include "runtime/text.h"

#include <windows.h>

#include <vector>

namespace {

// The text as UTF-16 through the process's code page, the same conversion the "A" functions
// make (UTF-8 under the programs' manifest).
std::vector<wchar_t> wide(const std::string& text) {
  int n = text.empty() ? 0 : MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::vector<wchar_t> out(static_cast<size_t>(n) + 1, L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  out.resize(static_cast<size_t>(n));
  return out;
}

}  // namespace

int compare_names(const std::string& a, const std::string& b) {
  std::vector<wchar_t> wa = wide(a), wb = wide(b);
  int r = CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, wa.data(), static_cast<int>(wa.size()), wb.data(),
                         static_cast<int>(wb.size()));
  if (r == 0) return a < b ? -1 : (b < a ? 1 : 0);
  return r - CSTR_EQUAL;
}

bool same_name_ignoring_case(const std::string& a, const std::string& b) {
  std::vector<wchar_t> wa = wide(a), wb = wide(b);
  return CompareStringOrdinal(wa.data(), static_cast<int>(wa.size()), wb.data(), static_cast<int>(wb.size()),
                              TRUE) == CSTR_EQUAL;
}

#include "format/utf8_text.h"

#include <windows.h>

#include <cstdlib>
#include <vector>

namespace {

UINT console_code_page = 0;

void restore_console_code_page() { SetConsoleOutputCP(console_code_page); }

}  // namespace

// Windows before 10 version 1903 ignore the manifest's code page and keep the system's.
bool system_text_is_utf8() { return GetACP() == CP_UTF8; }

// The console's code page belongs to the console, not to this process: it is put back at exit.
void console_text_utf8() {
  if (!system_text_is_utf8()) return;
  console_code_page = GetConsoleOutputCP();
  if (console_code_page == 0 || console_code_page == CP_UTF8) return;
  if (SetConsoleOutputCP(CP_UTF8)) std::atexit(restore_console_code_page);
}

// Through UTF-16, where the table applies; the key is the upper-cased UTF-16 units' bytes.
std::string name_case_key(const std::string& text) {
  int n = text.empty() ? 0 : MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return text;
  std::vector<wchar_t> wide(static_cast<size_t>(n)), upper(static_cast<size_t>(n));
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, wide.data(), n, upper.data(), n) != n) upper = wide;
  return std::string(reinterpret_cast<const char*>(upper.data()), upper.size() * sizeof(wchar_t));
}

#include "format/utf8_text.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
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
  std::string key;
  name_case_key_into(text, key);
  return key;
}

void name_case_key_into(const std::string& text, std::string& key) {
  // ASCII, as most names are, is the same in every ANSI code page, and the invariant table
  // upper-cases its letters alone: the key is made without a call to the system.
  key.resize(text.size() * sizeof(wchar_t));
  const char* in = text.data();
  char* out = key.data();
  size_t i = 0;
  for (; i < text.size() && static_cast<unsigned char>(in[i]) < 0x80; ++i) {
    wchar_t c = in[i] >= 'a' && in[i] <= 'z' ? static_cast<wchar_t>(in[i] - 32) : static_cast<wchar_t>(in[i]);
    std::memcpy(out + i * sizeof(wchar_t), &c, sizeof c);
  }
  if (i == text.size()) return;
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) {
    key = text;
    return;
  }
  std::vector<wchar_t> wide(static_cast<size_t>(n)), upper(static_cast<size_t>(n));
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, wide.data(), n, upper.data(), n) != n) upper = wide;
  key.assign(reinterpret_cast<const char*>(upper.data()), upper.size() * sizeof(wchar_t));
}

#include "utf8_text.h"

#include <windows.h>

#include <cstdlib>

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

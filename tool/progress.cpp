#include "progress.h"

#include <cstdio>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

bool stderr_is_console() {
#ifdef _WIN32
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
#else
  return isatty(2) == 1;
#endif
}

}  // namespace

ProgressLine::ProgressLine() : active_(stderr_is_console()) {
  start_ = last_ = std::chrono::steady_clock::now();
}

ProgressLine::~ProgressLine() { clear(); }

void ProgressLine::clear() {
  if (drawn_) std::fputs("\r                         \r", stderr);
  drawn_ = false;
}

void ProgressLine::update(int64_t done, int64_t total) {
  if (!active_) return;
  auto now = std::chrono::steady_clock::now();
  if (now - last_ < std::chrono::milliseconds(250)) return;
  last_ = now;
  double seconds = std::chrono::duration<double>(now - start_).count();
  double rate = seconds > 0 ? static_cast<double>(done) / seconds / 1e6 : 0;
  int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
  std::fprintf(stderr, "\r%3d %%  %.1f MB/s   ", percent, rate);
  std::fflush(stderr);
  drawn_ = true;
}

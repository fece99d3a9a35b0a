#include "password.h"

#include <sodium.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#endif

Secret::Secret(size_t capacity) : capacity_(capacity) {
  // sodium_malloc would guard the pages, but costs three pages a secret; plain memory is wiped.
  bytes_ = new uint8_t[capacity + 1];
}

Secret::~Secret() {
  wipe();
  delete[] bytes_;
}

void Secret::wipe() {
  sodium_memzero(bytes_, capacity_ + 1);
  size_ = 0;
}

bool Secret::equals(const Secret& other) const {
  return size_ == other.size_ && (size_ == 0 || sodium_memcmp(bytes_, other.bytes_, size_) == 0);
}

bool sodium_ready() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

namespace {

// Reads until the end, refusing more than the secret holds. 1 done, 0 too long, -1 a read failed.
#ifdef _WIN32
using Source = HANDLE;
int read_all(Source from, Secret& out) {
  size_t have = 0;
  for (;;) {
    DWORD got = 0;
    DWORD room = static_cast<DWORD>(out.capacity() + 1 - have);  // one more, to see it is too long
    if (!ReadFile(from, out.data() + have, room, &got, nullptr)) {
      if (GetLastError() == ERROR_BROKEN_PIPE) break;  // the writer closed its end
      return -1;
    }
    if (got == 0) break;
    have += got;
    if (have > out.capacity()) return 0;
  }
  out.resize(have);
  return 1;
}
#else
using Source = int;
int read_all(Source from, Secret& out) {
  size_t have = 0;
  for (;;) {
    ssize_t got = read(from, out.data() + have, out.capacity() + 1 - have);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    have += static_cast<size_t>(got);
    if (have > out.capacity()) return 0;
  }
  out.resize(have);
  return 1;
}
#endif

bool take(int result, Secret& out, const char* where, std::string& problem) {
  if (result < 0) problem = std::string("cannot read the password from ") + where;
  else if (result == 0) problem = "the password is longer than " + std::to_string(PASSWORD_MAX) + " bytes";
  else if (out.size() == 0) problem = "an empty password";
  return result == 1 && out.size() > 0;
}

// One line typed on the console without echo; false when there is no console.
#ifdef _WIN32
bool ask(const char* prompt, Secret& out, std::string& problem) {
  HANDLE in = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
  DWORD mode = 0;
  if (in == INVALID_HANDLE_VALUE || !GetConsoleMode(in, &mode)) {
    if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
    problem = "no console to ask the password on (give it through -pw:<handle> or VANTOR_PASSWORD_HANDLE)";
    return false;
  }
  std::fputs(prompt, stderr);
  std::fflush(stderr);
  SetConsoleMode(in, (mode | ENABLE_LINE_INPUT) & ~ENABLE_ECHO_INPUT);
  Secret wide(PASSWORD_MAX * sizeof(wchar_t));
  wchar_t* text = reinterpret_cast<wchar_t*>(wide.data());
  DWORD got = 0;
  BOOL ok = ReadConsoleW(in, text, PASSWORD_MAX - 1, &got, nullptr);
  SetConsoleMode(in, mode);
  CloseHandle(in);
  std::fputs("\n", stderr);
  while (got > 0 && (text[got - 1] == L'\n' || text[got - 1] == L'\r')) --got;
  int bytes = got == 0 ? 0 : WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(got),
                                                 reinterpret_cast<char*>(out.data()), static_cast<int>(out.capacity()),
                                                 nullptr, nullptr);
  if (!ok || (got > 0 && bytes <= 0)) {
    problem = "cannot read the password from the console";
    return false;
  }
  out.resize(static_cast<size_t>(bytes));
  return take(1, out, "the console", problem);
}
#else
bool ask(const char* prompt, Secret& out, std::string& problem) {
  int tty = open("/dev/tty", O_RDWR | O_CLOEXEC);
  termios saved;
  if (tty < 0 || tcgetattr(tty, &saved) != 0) {
    if (tty >= 0) close(tty);
    problem = "no console to ask the password on (give it through -pw:<fd> or VANTOR_PASSWORD_HANDLE)";
    return false;
  }
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  quiet.c_lflag |= ICANON;
  if (write(tty, prompt, std::strlen(prompt)) < 0) {}
  tcsetattr(tty, TCSAFLUSH, &quiet);
  size_t have = 0;
  bool line_done = false;
  while (!line_done && have <= out.capacity()) {
    ssize_t got = read(tty, out.data() + have, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (out.data()[have] == '\n') line_done = true;
    else have += 1;
  }
  tcsetattr(tty, TCSAFLUSH, &saved);
  if (write(tty, "\n", 1) < 0) {}
  close(tty);
  if (have > 0 && out.data()[have - 1] == '\r') --have;
  out.resize(have);
  return take(have > out.capacity() ? 0 : 1, out, "the console", problem);
}
#endif

}  // namespace

bool read_password(int fd, bool twice, Secret& out, std::string& problem) {
  const char* handle = std::getenv("VANTOR_PASSWORD_HANDLE");
  if (fd < 0 && handle && *handle) {
    char* end = nullptr;
    unsigned long long value = std::strtoull(handle, &end, 10);
#ifdef _WIN32
    HANDLE h = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
    // Only a pipe: a console or a file named here is not the caller's channel.
    bool pipe = *end == '\0' && value != 0 && GetFileType(h) == FILE_TYPE_PIPE;
    if (pipe) SetHandleInformation(h, HANDLE_FLAG_INHERIT, 0);
#else
    int h = static_cast<int>(value);
    struct stat st;
    bool pipe = *end == '\0' && value <= 65535 && fstat(h, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
#endif
    if (!pipe) {
      problem = "VANTOR_PASSWORD_HANDLE does not name an open pipe";
      return false;
    }
    bool ok = take(read_all(h, out), out, "the pipe of VANTOR_PASSWORD_HANDLE", problem);
#ifdef _WIN32
    CloseHandle(h);
#else
    close(h);
#endif
    return ok;
  }
  if (fd >= 0) {
#ifdef _WIN32
    // 0 to 2 are the standard handles, as on other systems; other numbers are handle values.
    HANDLE h = fd == 0 ? GetStdHandle(STD_INPUT_HANDLE) : reinterpret_cast<HANDLE>(static_cast<uintptr_t>(fd));
#else
    int h = fd;
#endif
    return take(read_all(h, out), out, ("descriptor " + std::to_string(fd)).c_str(), problem);
  }
  if (!ask("password: ", out, problem)) return false;
  if (!twice) return true;
  Secret again;
  if (!ask("password again: ", again, problem)) return false;
  if (!out.equals(again)) {
    problem = "the two passwords differ";
    return false;
  }
  return true;
}

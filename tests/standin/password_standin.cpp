// Stands in for vantor.exe in the front end's password tests: reads the pipe its environment
// names (to its end: a write end the front end let it inherit would hang it here), appends its
// command line and what came through to VANTOR_STANDIN_LOG, and answers as the archiver would:
// "wrong" is a wrong password, l lists docs/a.txt and b.txt, x writes b.txt, t finds all intact.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main() {
  std::string line = GetCommandLineA(), password;
  const char* handle = std::getenv("VANTOR_PASSWORD_HANDLE");
  if (handle) {
    HANDLE pipe = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(handle, nullptr, 10)));
    char buffer[256];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) password.append(buffer, got);
  }
  const char* log_path = std::getenv("VANTOR_STANDIN_LOG");
  if (FILE* log = log_path ? std::fopen(log_path, "ab") : nullptr) {
    std::fprintf(log, "%s\t%s\n", line.c_str(), handle ? ("password=" + password).c_str() : "no password");
    std::fclose(log);
  }
  std::string last = line.substr(line.find_last_of('"') + 1);  // the front end leaves it open
  size_t at = line.find(' ', line.find('"', 1)) + 1;
  char command = line[line.find_first_not_of(' ', at)];
  if (password == "wrong") return std::fprintf(stderr, "vantor: wrong password for %s\n", last.c_str()), 1;
  if (command == 'l') std::printf("vantor-listing\t1\tvnr\nf\t7\t7\t0\t20\t-\tdocs/a.txt\nf\t5\t5\t0\t20\t-\tb.txt\nend\t2\n");
  if (command == 't') std::printf("2 files, 12 bytes tested\n");
  if (command == 'x') {
    CreateDirectoryA(last.c_str(), nullptr);
    if (FILE* f = std::fopen((last + "b.txt").c_str(), "wb")) {
      std::fputs("bravo", f);
      std::fclose(f);
    }
  }
  return 0;
}

// Stands in for vantor.exe where the front end's password hand-off is tested: it reads the pipe
// its environment names, notes its command line and what came through the pipe in the file
// VANTOR_STANDIN_LOG names (one line per run), and answers as the archiver would: "wrong" is a
// wrong password, l prints a listing of two members, x writes b.txt into its destination.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string read_pipe(const char* handle_text) {
  HANDLE pipe = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(handle_text, nullptr, 10)));
  std::string text;
  char buffer[256];
  DWORD got = 0;
  // To the end of the pipe: had the front end let the child inherit the write end, this would
  // wait for ever, and the test would time out.
  while (text.size() <= 2048 && ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0)
    text.append(buffer, got);
  CloseHandle(pipe);
  return text;
}

// The last argument: what follows the last double quote (the front end leaves it open).
std::string last_argument(const std::string& line) { return line.substr(line.find_last_of('"') + 1); }

// The first argument after the program's quoted path: the command.
std::string command_of(const std::string& line) {
  size_t end = line[0] == '"' ? line.find('"', 1) + 1 : line.find(' ');
  size_t start = line.find_first_not_of(' ', end);
  return start == std::string::npos ? std::string() : line.substr(start, line.find(' ', start) - start);
}

}  // namespace

int main() {
  std::string line = GetCommandLineA();
  const char* handle = std::getenv("VANTOR_PASSWORD_HANDLE");
  std::string password = handle ? read_pipe(handle) : std::string();
  if (const char* log = std::getenv("VANTOR_STANDIN_LOG")) {
    if (FILE* f = std::fopen(log, "ab")) {
      std::fprintf(f, "%s\t%s\n", line.c_str(), handle ? ("password=" + password).c_str() : "no password");
      std::fclose(f);
    }
  }
  std::string command = command_of(line);
  if (password == "wrong") {
    std::fprintf(stderr, "vantor: wrong password for %s\n", last_argument(line).c_str());
    return 1;
  }
  if (command == "l") {
    std::printf("vantor-listing\t1\tvnr\nf\t7\t7\t0\t20\t-\tdocs/a.txt\nf\t5\t5\t0\t20\t-\tb.txt\nend\t2\n");
    return 0;
  }
  if (command == "x") {
    std::string folder = last_argument(line);
    CreateDirectoryA(folder.c_str(), nullptr);
    if (FILE* f = std::fopen((folder + "b.txt").c_str(), "wb")) {
      std::fputs("bravo", f);
      std::fclose(f);
    }
  }
  if (command == "t") std::printf("2 files, 12 bytes tested\n");
  return 0;
}

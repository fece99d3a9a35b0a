#include "process/line_splitter.h"

namespace {

constexpr size_t WORK_BUFFER = 4096;
constexpr size_t MIN_FREE = 512;

}  // namespace

std::string program_command_line(const std::string& program_path, const std::string& parameters) {
  std::string line = (!program_path.empty() && program_path[0] == '"') ? program_path
                                                                        : "\"" + program_path + "\"";
  if (!parameters.empty()) line += " " + parameters;
  return line;
}

std::string fallback_folder(const std::string& program_path, const std::string& working_folder) {
  if (!working_folder.empty()) return working_folder;
  size_t last = program_path.rfind('\\');
  if (last == std::string::npos || last == 0) return std::string();
  return program_path.substr(0, last + 1);
}

std::string read_line(std::string& pending, const ReadBytes& read) {
  std::string held;
  held.swap(pending);
  size_t capacity = held.size() > WORK_BUFFER ? held.size() + WORK_BUFFER : WORK_BUFFER;
  size_t scan = 0;
  for (;;) {
    for (; scan < held.size(); ++scan) {
      char c = held[scan];
      if (c != '\n' && c != '\r') continue;
      size_t rest = scan + 1;
      if (c == '\r') {
        if (scan + 1 == held.size()) break;  // its LF may still be on the way
        if (held[scan + 1] == '\n') rest = scan + 2;
      }
      if (rest < held.size()) pending = held.substr(rest);
      held.resize(scan);
      return held;
    }
    if (capacity - held.size() < MIN_FREE) capacity = held.size() + WORK_BUFFER;
    size_t free_part = capacity - held.size();
    size_t old = held.size();
    held.resize(old + free_part);
    int64_t got = read ? read(&held[old], free_part) : 0;
    held.resize(old + (got > 0 ? static_cast<size_t>(got) : 0));
    if (got <= 0) return held;
  }
}

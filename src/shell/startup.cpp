#include "shell/startup.h"

#include <cstdio>

#include "archive/foreign_listing.h"
#include "runtime/text.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The program name has no escapes: quotes only switch quoting on and off until a blank outside them.
size_t after_program_name(const std::string& line) {
  size_t i = 0;
  bool quoted = false;
  for (; i < line.size() && (quoted || !is_blank(line[i])); ++i)
    if (line[i] == '"') quoted = !quoted;
  while (i < line.size() && is_blank(line[i])) ++i;
  return i;
}

bool is_drive_path(const std::string& p) {
  return p.size() >= 2 && p[1] == ':' && ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'));
}

bool is_separator(char c) { return c == '\\' || c == '/'; }

}  // namespace

// 2n backslashes before a quote give n and the quote toggles quoting; 2n+1 give n and a literal
// quote; "" inside quotes is a literal quote; other backslashes stand for themselves.
std::vector<std::string> command_arguments(const std::string& command_line) {
  std::vector<std::string> args;
  std::string arg;
  bool quoted = false, in_argument = false;
  for (size_t i = after_program_name(command_line); i < command_line.size();) {
    char c = command_line[i];
    if (!quoted && is_blank(c)) {
      if (in_argument) args.push_back(arg);
      arg.clear();
      in_argument = false;
      ++i;
      continue;
    }
    in_argument = true;
    size_t slashes = 0;
    while (i + slashes < command_line.size() && command_line[i + slashes] == '\\') ++slashes;
    if (slashes > 0) {
      i += slashes;
      bool before_quote = i < command_line.size() && command_line[i] == '"';
      arg.append(before_quote ? slashes / 2 : slashes, '\\');
      if (before_quote && slashes % 2) {
        arg += '"';
        ++i;
      }
    } else if (c == '"') {
      if (quoted && i + 1 < command_line.size() && command_line[i + 1] == '"') {
        arg += '"';
        i += 2;
      } else {
        quoted = !quoted;
        ++i;
      }
    } else {
      arg += c;
      ++i;
    }
  }
  if (in_argument) args.push_back(arg);
  return args;
}

std::string first_argument(const std::string& command_line) {
  std::vector<std::string> args = command_arguments(command_line);
  return args.empty() ? std::string() : args[0];
}

bool job_arguments(const std::string& command_line, std::string& verb, std::vector<std::string>& paths) {
  std::vector<std::string> args = command_arguments(command_line);
  if (args.empty() || args[0].compare(0, 5, "/job:") != 0) return false;
  verb = args[0].substr(5);
  paths.assign(args.begin() + 1, args.end());
  return true;
}

std::string startup_document_from(const std::string& current_directory, const std::string& command_line) {
  std::string arg = first_argument(command_line);
  if (arg.empty() || is_drive_path(arg) || (is_separator(arg[0]) && arg.size() > 1 && is_separator(arg[1])))
    return arg;
  // Rooted without a drive: on the current directory's drive.
  if (is_separator(arg[0])) return is_drive_path(current_directory) ? current_directory.substr(0, 2) + arg : arg;
  return with_trailing_backslash(current_directory) + arg;
}

bool is_archive_name(const std::string& path) {
  return file_extension(path) == "vnr" || is_foreign_archive_name(path);
}

std::string memory_text(uint64_t free_bytes) {
  char number[64];
  std::snprintf(number, sizeof(number), "%.1f", static_cast<double>(free_bytes) / 1048576.0);
  return std::string("System free Mem:") + number + " MB ";
}

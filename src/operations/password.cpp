#include "operations/password.h"

#include "archive/index_walk.h"
#include "format/archive_format.h"

std::string with_switch(const std::string& parameters, const std::string& switch_text) {
  size_t command = parameters.find_first_not_of(' ');
  if (command == std::string::npos) return parameters + " " + switch_text;
  size_t after = parameters.find(' ', command);
  if (after == std::string::npos) return parameters + " " + switch_text;
  return parameters.substr(0, after) + " " + switch_text + parameters.substr(after);
}

std::string asked_password_problem(const std::string& password) {
  if (password.empty()) return "Please type the password.";
  if (password.size() > PASSWORD_MOST_BYTES)
    return "The password is longer than " + std::to_string(PASSWORD_MOST_BYTES) + " bytes.";
  return std::string();
}

std::string new_password_problem(const std::string& first, const std::string& second) {
  std::string problem = asked_password_problem(first);
  if (!problem.empty()) return problem;
  if (first != second) return "The two passwords differ: please type the same password twice.";
  return std::string();
}

std::string wrong_password_line(const std::vector<std::string>& problems) {
  static const std::string HEAD = "wrong password for ";
  for (const std::string& line : problems)
    if (line.compare(0, HEAD.size(), HEAD) == 0) return line;
  return std::string();
}

Protection protection_of(uint8_t signature, uint8_t flags) {
  // Only our archiver writes these bits; an entry of another writer may have anything there.
  if (signature != ENTRY_SIGNATURE || !(flags & ENTRY_FLAG_ENCRYPTED)) return Protection::none;
  return (flags & ENTRY_FLAG_SEALED_INDEX) ? Protection::sealed : Protection::encrypted;
}

Protection archive_protection(const std::string& path) {
  std::unique_ptr<ByteSource> source = open_file_source(path, false);
  uint8_t head[2] = {0, 0};
  if (!source || source->read_at(index_start(path) + ENTRY_SIGNATURE_OFFSET, head, 2) != 2) return Protection::none;
  return protection_of(head[0], head[1]);
}

#include "operations/operation_texts.h"

#include "runtime/text.h"

std::string method_label(int position) { return "method " + str(position); }
std::string task_label(int position) { return "task " + str(position); }
std::string buffer_label(int position) { return "buffer " + str(4 * position) + " MB"; }
std::string dictionary_label(int position) { return "Dictionary size " + str(int64_t(1) << (position + 1)); }

float elapsed_seconds_between(uint32_t start_ticks, uint32_t end_ticks) {
  // The difference is taken modulo 2^32 so that a tick count wrapping during the run still
  // gives the true duration.
  int32_t ticks = static_cast<int32_t>(end_ticks - start_ticks);
  return static_cast<float>((ticks + 0.0) / 1000.0);
}

int64_t whole_seconds(float seconds) { return round_half_even(seconds); }

std::string cancelled_compression_text(const std::string& archive_path, float seconds) {
  return "Compression was cancelled after " + std::to_string(whole_seconds(seconds)) + " sec.: " + archive_path +
         " was not written; an archive that was there before is unchanged.";
}

std::string cancelled_extraction_text(const std::string& archive_path, const std::string& destination,
                                      float seconds) {
  return "Extraction from " + archive_path + " was cancelled after " + std::to_string(whole_seconds(seconds)) +
         " sec.: the members finished before then are in " + destination +
         ", the one in progress was removed.";
}

std::string cancelled_placed_extraction_text(const std::string& archive_path, const std::string& destination,
                                             float seconds) {
  return "Extraction from " + archive_path + " was cancelled after " + std::to_string(whole_seconds(seconds)) +
         " sec.: nothing of it was left in " + destination + ".";
}

std::string added_text(const std::string& archive_path, float seconds) {
  return "archive=" + archive_path + " in " + str(whole_seconds(seconds)) + " sec.";
}

std::string notice_text(const std::string& archive_path, float seconds) {
  return "Archive =" + archive_path + " in " + str(whole_seconds(seconds)) + " sec.";
}

std::string damaged_index_text(const std::string& archive_path, int64_t offset) {
  return "The index of " + archive_path + " is damaged at offset " + str(offset) +
         ": the members from there on cannot be extracted; the ones before it were marked as chosen.";
}

std::string removed_not_reread_text(const std::string& archive_path) {
  return "The members were removed from " + archive_path +
         ", but the archive was not read again: open it to see what it holds now.";
}

std::vector<std::string> problem_lines(const std::string& errors) {
  static const std::string PREFIX = "vantor: ";
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < errors.size()) {
    size_t end = errors.find_first_of("\r\n", start);
    if (end == std::string::npos) end = errors.size();
    std::string line = errors.substr(start, end - start);
    if (line.compare(0, PREFIX.size(), PREFIX) == 0) line.erase(0, PREFIX.size());
    if (!line.empty()) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::string failed_beside_program_text(const std::string& program, const std::vector<std::string>& problems) {
  constexpr size_t NAMED = 5;  // a message box holds one line; the rest are counted
  std::string text = program + " is started, but other members of the archive were not extracted beside it: ";
  for (size_t i = 0; i < problems.size() && i < NAMED; ++i) text += (i ? "; " : "") + problems[i];
  if (problems.empty()) text += "the archiver reported a failure";
  if (problems.size() > NAMED) text += "; and " + str(static_cast<int64_t>(problems.size() - NAMED)) + " more";
  return text + ".";
}

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

std::string added_text(const std::string& archive_path, float seconds) {
  return "archive=" + archive_path + " in " + str(whole_seconds(seconds)) + " sec.";
}

std::string notice_text(const std::string& archive_path, float seconds) {
  return "Archive =" + archive_path + " in " + str(whole_seconds(seconds)) + " sec.";
}

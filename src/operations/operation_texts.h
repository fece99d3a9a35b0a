// Texts and figures of the compression and extraction windows, free of any window.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

std::string method_label(int position);      // "method 3"
std::string task_label(int position);        // "task 1"
std::string buffer_label(int position);      // "buffer 16 MB": four megabytes a step
std::string dictionary_label(int position);  // "Dictionary size 256": 2 to the power position + 1

// Seconds between two millisecond tick counts read as signed 32-bit values.
float elapsed_seconds_between(uint32_t start_ticks, uint32_t end_ticks);
// Whole seconds, halves to even.
int64_t whole_seconds(float seconds);

std::string added_text(const std::string& archive_path, float seconds);   // "archive=... in N sec."
std::string notice_text(const std::string& archive_path, float seconds);  // "Archive =... in N sec."

// A run stopped by the user, after so many seconds: what was and was not done.
std::string cancelled_compression_text(const std::string& archive_path, float seconds);
std::string cancelled_extraction_text(const std::string& archive_path, const std::string& destination, float seconds);
// The same into a folder made for the run, which went with the cancel.
std::string cancelled_placed_extraction_text(const std::string& archive_path, const std::string& destination,
                                             float seconds);

// The marking pass on a broken index: what can still be extracted.
std::string damaged_index_text(const std::string& archive_path, int64_t offset);

// Members were removed, then the opening of the changed archive was cancelled.
std::string removed_not_reread_text(const std::string& archive_path);

// The archiver's complaints, one per line, without its "vantor: " prefix and without empty lines.
std::vector<std::string> problem_lines(const std::string& errors);
// A program member is started although other members could not be extracted beside it: names
// the first few complaints and counts the rest.
std::string failed_beside_program_text(const std::string& program, const std::vector<std::string>& problems);

// Texts and figures of the compression and extraction windows, free of any window.
#pragma once
#include <cstdint>
#include <string>

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

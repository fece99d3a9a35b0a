// Text rules shared by every subsystem: 8-bit text, byte-exact comparisons, folder paths ending in "\".
#pragma once
#include <cstdint>
#include <string>

// Text after the last "." of the last path component ("" when there is none).
std::string file_extension(const std::string& path);
// Everything up to and including the last "\" or "/".
std::string path_part(const std::string& path);
// Everything after the last "\" or "/".
std::string file_part(const std::string& path);
// Appends "\" unless the text already ends with one (empty text stays empty).
std::string with_trailing_backslash(const std::string& folder);
std::string to_lower_ascii(std::string text);
std::string to_upper_ascii(std::string text);
// Decimal text of a number.
std::string str(int64_t value);
// Rounds to the nearest whole number with halves to even.
int64_t round_half_even(double value);

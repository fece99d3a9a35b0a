// Text rules shared by every subsystem: UTF-8 text (the programs' code page), byte-exact path
// comparisons, folder paths ending in "\".
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
// Upper-cases a leading drive letter (a-z); any other first character, a multi-byte one
// included, is left as it is.
std::string upper_first_letter(std::string text);
// Order of two names without regard to case, by the system's rules for the whole name
// (-1, 0, 1); outside Windows, by code point with ASCII letters folded.
int compare_names(const std::string& a, const std::string& b);
// Equal without regard to case the way the file system matches names.
bool same_name_ignoring_case(const std::string& a, const std::string& b);
// Decimal text of a number.
std::string str(int64_t value);
// Rounds to the nearest whole number with halves to even.
int64_t round_half_even(double value);

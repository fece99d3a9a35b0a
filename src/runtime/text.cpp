#include "runtime/text.h"

#include <cmath>

std::string file_extension(const std::string& path) {
  size_t start = path.find_last_of("\\/");
  start = (start == std::string::npos) ? 0 : start + 1;
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot < start) return std::string();
  return path.substr(dot + 1);
}

std::string path_part(const std::string& path) {
  size_t sep = path.find_last_of("\\/");
  return sep == std::string::npos ? std::string() : path.substr(0, sep + 1);
}

std::string file_part(const std::string& path) {
  size_t sep = path.find_last_of("\\/");
  return sep == std::string::npos ? path : path.substr(sep + 1);
}

std::string with_trailing_backslash(const std::string& folder) {
  if (folder.empty() || folder.back() == '\\') return folder;
  return folder + "\\";
}

std::string to_lower_ascii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return text;
}

std::string to_upper_ascii(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return text;
}

std::string upper_first_letter(std::string text) {
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 32);
  return text;
}

std::string str(int64_t value) { return std::to_string(value); }

int64_t round_half_even(double value) { return static_cast<int64_t>(std::nearbyint(value)); }

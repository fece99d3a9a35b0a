#include "format/path_safety.h"

#include <cstring>
#include <string_view>

#include "format/utf8_text.h"

namespace {

bool is_separator(char c) { return c == '/' || c == '\\'; }

std::vector<std::string> split_components(const std::string& path) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : path) {
    if (is_separator(c)) {
      parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  parts.push_back(current);
  return parts;
}

std::string upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}

enum class Fault { none, empty, relative, too_long, control, colon, not_allowed, dot_or_blank, device };

// What makes a single component unusable, without building any text: the opening asks this of
// every member's name.
Fault component_fault(std::string_view part) {
  if (part.empty()) return Fault::empty;
  if (part == "." || part == "..") return Fault::relative;
  // The file system counts UTF-16 units: 255 of them can take up to 765 bytes of UTF-8 (never
  // more units than bytes, so a shorter part cannot be too long).
  if (part.size() > 255 && utf16_length(std::string(part)) > 255) return Fault::too_long;
  for (unsigned char c : part) {
    if (c < 0x20 || c == 0x7F) return Fault::control;
    if (c == ':') return Fault::colon;
    if (c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*') return Fault::not_allowed;
  }
  char last = part.back();
  if (last == '.' || last == ' ') return Fault::dot_or_blank;
  if (is_device_name(std::string(part))) return Fault::device;
  return Fault::none;
}

// Returns the reason a single component is unusable, or "" when it is fine.
std::string component_problem(const std::string& part) {
  switch (component_fault(part)) {
    case Fault::none: return std::string();
    case Fault::empty: return "empty path component";
    case Fault::relative: return "relative component \"" + part + "\"";
    case Fault::too_long: return "path component longer than 255 characters";
    case Fault::control: return "control character in name";
    case Fault::colon: return "colon in name (drive or alternate stream)";
    case Fault::not_allowed: return "character not allowed in Windows names";
    case Fault::dot_or_blank: return "name ends in a dot or a blank";
    case Fault::device: return "reserved device name \"" + part + "\"";
  }
  return std::string();
}

// The refusals of a whole path that come before its components are looked at.
bool path_shape_ok(const std::string& path, const std::string& name, std::string* reason) {
  const char* why = nullptr;
  if (name.empty()) why = "member has no name";
  else if (path.find('\0') != std::string::npos) why = "zero byte in name";
  else if (is_separator(path[0])) why = "absolute or network path";
  else if (is_separator(name.back())) why = "member name ends in a separator";
  if (why && reason) *reason = why;
  return !why;
}

}  // namespace

bool is_device_name(const std::string& component) {
  // Every device name starts with one of these letters: most names are passed at once.
  if (component.empty() || !std::strchr("CPANLcpanl", component[0]) || component[0] == '\0') return false;
  // Windows ignores everything from the first dot and trailing blanks when matching devices.
  std::string base = component.substr(0, component.find('.'));
  while (!base.empty() && (base.back() == ' ')) base.pop_back();
  base = upper(base);
  static const char* const plain[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : plain)
    if (base == device) return true;
  bool port = base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0;
  if (base.size() < 4 || !port) return false;
  std::string digit = base.substr(3);
  if (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') return true;
  // The superscript digits 1, 2, 3: one byte in code page 1252, two in UTF-8.
  for (const char* superscript : {"\xB9", "\xB2", "\xB3", "\xC2\xB9", "\xC2\xB2", "\xC2\xB3"})
    if (digit == superscript) return true;
  return false;
}

MemberPathCheck check_member_path(const std::string& folder, const std::string& name) {
  MemberPathCheck result;
  std::string path = folder + name;
  if (!path_shape_ok(path, name, &result.reason)) return result;
  for (const std::string& part : split_components(path)) {
    std::string problem = component_problem(part);
    if (!problem.empty()) {
      result.reason = problem;
      result.components.clear();
      return result;
    }
    result.components.push_back(part);
  }
  result.ok = true;
  return result;
}

bool member_path_safe(const std::string& folder, const std::string& name) {
  std::string path = folder + name;
  if (!path_shape_ok(path, name, nullptr)) return false;
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && !is_separator(path[i])) continue;
    if (component_fault(std::string_view(path).substr(start, i - start)) != Fault::none) return false;
    start = i + 1;
  }
  return true;
}

bool path_within(const std::string& root, const std::string& candidate) {
  std::vector<std::string> r = split_components(root);
  std::vector<std::string> c = split_components(candidate);
  while (r.size() > 1 && r.back().empty()) r.pop_back();
  while (c.size() > 1 && c.back().empty()) c.pop_back();
  if (c.size() < r.size()) return false;
  for (size_t i = 0; i < r.size(); ++i)
    if (r[i] != c[i]) return false;
  for (size_t i = r.size(); i < c.size(); ++i)
    if (c[i] == ".." || c[i] == "." || c[i].empty()) return false;
  return true;
}

std::string printable(const std::string& text) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += digits[c >> 4];
      out += digits[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

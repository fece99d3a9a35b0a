#include "format/path_safety.h"

#include <cstdint>
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

enum class Fault { none, empty, relative, too_long, control, colon, not_allowed, dot_or_blank, device };

// What each byte is: most are plain, "/" and "\\" part components, and the rest are control
// characters and those Windows keeps for itself, which no component may hold.
enum ByteKind : uint8_t { PLAIN, SEPARATOR, CONTROL, COLON, NOT_ALLOWED };
struct ByteKinds {
  ByteKind kind[256] = {};
  constexpr ByteKinds() {
    for (int c = 0; c < 0x20; ++c) kind[c] = CONTROL;
    kind[0x7F] = CONTROL;
    kind[static_cast<unsigned char>(':')] = COLON;
    for (char c : {'<', '>', '"', '|', '?', '*'}) kind[static_cast<unsigned char>(c)] = NOT_ALLOWED;
    kind[static_cast<unsigned char>('/')] = SEPARATOR;
    kind[static_cast<unsigned char>('\\')] = SEPARATOR;
  }
};
constexpr ByteKinds BYTES;

bool device_name(std::string_view component);

// What a component's shape alone makes unusable: all but the bytes it holds.
Fault shape_fault(std::string_view part) {
  if (part.empty()) return Fault::empty;
  if (part == "." || part == "..") return Fault::relative;
  // The file system counts UTF-16 units: 255 of them can take up to 765 bytes of UTF-8 (never
  // more units than bytes, so a shorter part cannot be too long).
  if (part.size() > 255 && utf16_length(std::string(part)) > 255) return Fault::too_long;
  return Fault::none;
}

// What makes a single component unusable, without building any text.
// What the end of a non-empty component or its whole as a device name makes unusable.
Fault ending_fault(std::string_view part) {
  if (part.back() == '.' || part.back() == ' ') return Fault::dot_or_blank;
  if (device_name(part)) return Fault::device;
  return Fault::none;
}

Fault component_fault(std::string_view part) {
  if (Fault shape = shape_fault(part); shape != Fault::none) return shape;
  for (unsigned char c : part) {
    if (BYTES.kind[c] == CONTROL) return Fault::control;
    if (BYTES.kind[c] == COLON) return Fault::colon;
    if (BYTES.kind[c] == NOT_ALLOWED) return Fault::not_allowed;
  }
  return ending_fault(part);
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

namespace {

bool same_letters(std::string_view text, const char* upper_case) {
  if (text.size() != std::strlen(upper_case)) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i] >= 'a' && text[i] <= 'z' ? static_cast<char>(text[i] - 32) : text[i];
    if (c != upper_case[i]) return false;
  }
  return true;
}

bool device_name(std::string_view component) {
  // Every device name starts with one of these letters: most names are passed at once.
  if (component.empty()) return false;
  switch (component[0] | 0x20) {
    case 'c': case 'p': case 'a': case 'n': case 'l': break;
    default: return false;
  }
  // Windows ignores everything from the first dot and trailing blanks when matching devices.
  std::string_view base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (same_letters(base, device)) return true;
  if (base.size() < 4 || !(same_letters(base.substr(0, 3), "COM") || same_letters(base.substr(0, 3), "LPT")))
    return false;
  std::string_view digit = base.substr(3);
  if (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') return true;
  // The superscript digits 1, 2, 3: one byte in code page 1252, two in UTF-8.
  for (const char* superscript : {"\xB9", "\xB2", "\xB3", "\xC2\xB9", "\xC2\xB2", "\xC2\xB3"})
    if (digit == superscript) return true;
  return false;
}

// Whether every component of `path` is usable, in one pass over its bytes: the opening asks this
// of every member's name.
bool components_safe(std::string_view path) {
  size_t start = 0;
  for (size_t i = 0;; ++i) {
    if (i < path.size()) {
      ByteKind kind = BYTES.kind[static_cast<unsigned char>(path[i])];
      if (kind == PLAIN) continue;
      if (kind != SEPARATOR) return false;
    }
    std::string_view part = path.substr(start, i - start);
    if (shape_fault(part) != Fault::none || ending_fault(part) != Fault::none) return false;
    if (i == path.size()) return true;
    start = i + 1;
  }
}

}  // namespace

bool is_device_name(const std::string& component) { return device_name(component); }

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
  // A folder ending in a separator splits where the name starts: each is checked where it lies,
  // without a copy of the path. A zero byte is refused with the other control characters.
  if (folder.empty() || is_separator(folder.back())) {
    if (name.empty() || is_separator(name.back()) || is_separator(folder.empty() ? name[0] : folder[0])) return false;
    if (!folder.empty() && !components_safe(std::string_view(folder).substr(0, folder.size() - 1))) return false;
    return components_safe(name);
  }
  std::string path = folder + name;
  return path_shape_ok(path, name, nullptr) && components_safe(path);
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

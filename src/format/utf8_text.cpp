#include "format/utf8_text.h"

#include <cstdint>
#include <cstring>

namespace {

// Bytes in the sequence led by `lead`, 0 for a byte that cannot lead one.
size_t sequence_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the well-formed sequence at `i`, 0 when it is not one.
size_t valid_sequence_at(const std::string& text, size_t i) {
  unsigned char lead = static_cast<unsigned char>(text[i]);
  size_t n = sequence_length(lead);
  if (n == 0 || i + n > text.size()) return 0;
  for (size_t k = 1; k < n; ++k)
    if (!is_continuation(static_cast<unsigned char>(text[i + k]))) return 0;
  unsigned char second = static_cast<unsigned char>(text[i + 1 < text.size() ? i + 1 : i]);
  if (lead == 0xE0 && second < 0xA0) return 0;   // overlong
  if (lead == 0xED && second > 0x9F) return 0;   // surrogate
  if (lead == 0xF0 && second < 0x90) return 0;   // overlong
  if (lead == 0xF4 && second > 0x8F) return 0;   // above U+10FFFF
  return n;
}

const uint16_t CP1252_HIGH[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void append_code_point(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

bool utf8_valid(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    // Most names are ASCII: eight bytes are passed at once, and no call is made per byte.
    uint64_t eight;
    if (i + 8 <= text.size() && (std::memcpy(&eight, text.data() + i, 8), (eight & 0x8080808080808080ULL) == 0)) {
      i += 8;
      continue;
    }
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    size_t n = valid_sequence_at(text, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

size_t utf16_length(const std::string& text) {
  if (!utf8_valid(text)) return text.size();
  size_t units = 0;
  for (unsigned char c : text) {
    if (is_continuation(c)) continue;
    units += c >= 0xF0 ? 2 : 1;  // a four-byte character is a surrogate pair
  }
  return units;
}

size_t utf8_cut(const std::string& text, size_t max_bytes) {
  if (max_bytes >= text.size()) return text.size();
  size_t n = max_bytes;
  // Back up over at most three continuation bytes to the start of their character.
  for (int k = 0; k < 3 && n > 0 && is_continuation(static_cast<unsigned char>(text[n])); ++k) --n;
  return is_continuation(static_cast<unsigned char>(text[n])) ? max_bytes : n;
}

std::string utf8_from_1252(const std::string& text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (unsigned char c : text) {
    uint32_t cp = (c >= 0x80 && c < 0xA0) ? CP1252_HIGH[c - 0x80] : c;
    append_code_point(out, cp);
  }
  return out;
}

std::string name_for_system(std::string text, bool system_utf8) {
  if (!system_utf8 || utf8_valid(text)) return text;
  return utf8_from_1252(text);
}

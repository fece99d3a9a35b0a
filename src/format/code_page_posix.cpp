#include "format/utf8_text.h"

#include <locale.h>
#include <wctype.h>

// File names here are bytes, taken as UTF-8 like the programs' own code page.
bool system_text_is_utf8() { return true; }

void console_text_utf8() {}

namespace {

void append_utf8(std::string& out, unsigned long c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::string name_case_key(const std::string& text) {
  std::string key;
  name_case_key_into(text, key);
  return key;
}

void name_case_key_into(const std::string& text, std::string& key) {
  static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  key.resize(text.size());
  // ASCII, as most names are: the locale's table would say the same.
  const char* in = text.data();
  char* out = key.data();
  size_t i = 0;
  for (; i < text.size() && static_cast<unsigned char>(in[i]) < 0x80; ++i)
    out[i] = in[i] >= 'a' && in[i] <= 'z' ? static_cast<char>(in[i] - 32) : in[i];
  if (i == text.size()) return;
  key.resize(i);
  if (!utf8 || !utf8_valid(text)) {
    for (; i < text.size(); ++i) key += (text[i] >= 'a' && text[i] <= 'z') ? static_cast<char>(text[i] - 32) : text[i];
    return;
  }
  while (i < text.size()) {
    unsigned char lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      key += (lead >= 'a' && lead <= 'z') ? static_cast<char>(lead - 32) : static_cast<char>(lead);
      ++i;
      continue;
    }
    size_t length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    unsigned long c = lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    append_utf8(key, static_cast<unsigned long>(towupper_l(static_cast<wint_t>(c), utf8)));
    i += length;
  }
}

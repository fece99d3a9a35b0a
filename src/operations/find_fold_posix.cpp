#include "operations/find_search.h"
#include "format/utf8_text.h"

// The case key is UTF-8 here (or the name with ASCII letters folded when it is not valid UTF-8,
// whose other bytes are taken one by one).
std::u32string fold_name(const std::string& name) {
  std::string key = name_case_key(name);
  std::u32string out;
  out.reserve(key.size());
  bool valid = utf8_valid(key);
  for (size_t i = 0; i < key.size();) {
    unsigned char lead = static_cast<unsigned char>(key[i]);
    size_t length = !valid || lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(key[i + k]) & 0x3F);
    out.push_back(c);
    i += length;
  }
  return out;
}

std::string path_sort_key(const std::string& path) {
  std::string key = path;
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return key;
}

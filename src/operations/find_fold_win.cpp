#include <windows.h>

#include "operations/find_search.h"
#include "format/utf8_text.h"

// The case key is the name's UTF-16 units upper-cased by the system's invariant table, as bytes:
// surrogate pairs are joined into one code point.
std::u32string fold_name(const std::string& name) {
  std::string key = name_case_key(name);
  std::u32string out;
  if (key.size() % 2 != 0) {  // the key could not be made: the bytes as they are
    for (char c : key) out.push_back(static_cast<unsigned char>(c));
    return out;
  }
  out.reserve(key.size() / 2);
  auto unit = [&](size_t i) {
    return static_cast<char32_t>(static_cast<unsigned char>(key[2 * i]) | (static_cast<unsigned char>(key[2 * i + 1]) << 8));
  };
  size_t units = key.size() / 2;
  for (size_t i = 0; i < units; ++i) {
    char32_t u = unit(i);
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < units && unit(i + 1) >= 0xDC00 && unit(i + 1) < 0xE000) {
      out.push_back(0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
      ++i;
    } else {
      out.push_back(u);
    }
  }
  return out;
}

// Sort keys compare byte by byte as CompareStringW compares the strings they were made from.
std::string path_sort_key(const std::string& path) {
  int units = MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(units > 0 ? units : 0), L'\0');
  if (units > 0) MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), &wide[0], units);
  DWORD flags = LCMAP_SORTKEY | NORM_IGNORECASE;
  int bytes = units > 0 ? LCMapStringW(LOCALE_USER_DEFAULT, flags, wide.c_str(), units, nullptr, 0) : 0;
  if (bytes <= 0) return path;
  std::string key(static_cast<size_t>(bytes), '\0');
  LCMapStringW(LOCALE_USER_DEFAULT, flags, wide.c_str(), units, reinterpret_cast<LPWSTR>(&key[0]), bytes);
  key.pop_back();  // the closing zero
  return key;
}

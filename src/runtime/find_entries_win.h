// Folder searches through the system's UTF-16 calls: a name of up to 255 characters can take
// 765 bytes of UTF-8, more than the "A" search record's 260, which would cut or lose it.
#pragma once
#include <windows.h>

#include <string>

struct FoundEntry {
  WIN32_FIND_DATAW data;
  std::string name;  // UTF-8 (the process's code page), whole
  bool is_folder() const { return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
  bool is_dots() const { return name == "." || name == ".."; }
};

inline std::wstring wide_text(const std::string& text) {
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

inline std::string narrow_text(const wchar_t* text) {
  int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 1 ? n : 1), '\0');
  if (n > 1) WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], n, nullptr, nullptr);
  out.resize(out.size() - 1);
  return out;
}

// Calls visit(entry) for every entry the system finds for the search pattern, in its order,
// until visit returns false; false when the search found nothing to begin with.
template <typename Visit>
bool find_entries(const std::string& search, Visit visit) {
  FoundEntry entry;
  HANDLE find = FindFirstFileW(wide_text(search).c_str(), &entry.data);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    entry.name = narrow_text(entry.data.cFileName);
    if (!visit(static_cast<const FoundEntry&>(entry))) break;
  } while (FindNextFileW(find, &entry.data));
  FindClose(find);
  return true;
}

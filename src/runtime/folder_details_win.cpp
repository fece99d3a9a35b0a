#include <windows.h>

#include "runtime/find_entries_win.h"
#include "runtime/folder_details.h"

namespace {

int64_t ticks(const FILETIME& t) { return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime); }

}  // namespace

// The basic search skips short names, and the large fetch asks for many entries per call: both
// matter over folders of thousands of entries.
bool enumerate_folder_details(const std::string& folder, const DetailVisitor& visit) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileExW(wide_text(folder + "*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                 nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) return false;
  FolderDetail entry;
  do {
    const wchar_t* n = data.cFileName;
    if (n[0] == L'.' && (!n[1] || (n[1] == L'.' && !n[2]))) continue;
    entry.name = narrow_text(n);
    entry.is_folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.is_link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entry.size = static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    entry.write_time = ticks(data.ftLastWriteTime);
    entry.creation_time = ticks(data.ftCreationTime);
    entry.access_time = ticks(data.ftLastAccessTime);
    if (!visit(entry)) break;
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return true;
}

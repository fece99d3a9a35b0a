#include <windows.h>

#include "operations/archiver_contract.h"
#include "operations/foreign_members.h"

std::string write_temporary_list(const std::string& archive_path, const std::vector<std::string>& members,
                                 const std::string& kind) {
  char folder[MAX_PATH + 1];
  DWORD length = GetTempPathA(sizeof folder, folder);
  if (length == 0 || length > MAX_PATH) return std::string();
  std::vector<std::string> slots(1);
  slots.insert(slots.end(), members.begin(), members.end());
  std::string bytes = list_file_bytes(archive_path, slots, static_cast<int>(members.size()));
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string path = std::string(folder) + "vantor-" + kind + "-" + std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(GetTickCount() + attempt) + ".lis";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (file == INVALID_HANDLE_VALUE) continue;
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    CloseHandle(file);
    if (ok) return path;
    DeleteFileA(path.c_str());
    return std::string();
  }
  return std::string();
}

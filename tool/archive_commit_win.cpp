#include "archive_commit.h"

#include <windows.h>

#include <vector>

ArchiveLock::~ArchiveLock() { release(); }

ArchiveLock::Outcome ArchiveLock::take(const std::string& archive_path, int wait_ms) {
  release();
  path_ = archive_path + ".vantor-lock";
  DWORD start = GetTickCount();
  bool held_by_another = false;
  int denied = 0;
  for (;;) {
    // Shared with nobody and deleted by the system when the handle goes, however the run ends;
    // a link planted at the name is opened itself, never followed.
    HANDLE h = CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      handle_ = h;
      return Outcome::TAKEN;
    }
    DWORD error = GetLastError();
    // Access is denied, too, for the moment the file of a run that just let go is being
    // deleted; for longer, it is denied for good.
    if (error == ERROR_SHARING_VIOLATION) held_by_another = true, denied = 0;
    else if (error != ERROR_ACCESS_DENIED || ++denied > 10) return Outcome::FAILED;
    if (GetTickCount() - start >= static_cast<DWORD>(wait_ms)) {
      SetLastError(error);
      return held_by_another ? Outcome::BUSY : Outcome::FAILED;
    }
    Sleep(50);
  }
}

void ArchiveLock::release() {
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
}

namespace {

bool set_delete_disposition(void* handle, bool gone) {
  FILE_DISPOSITION_INFO info = {static_cast<BOOLEAN>(gone)};
  return SetFileInformationByHandle(static_cast<HANDLE>(handle), FileDispositionInfo, &info, sizeof info) != 0;
}

}  // namespace

Replacement::~Replacement() { discard(); }

bool Replacement::create(const std::string& target, const std::string& token) {
  discard();
  target_ = target;
  temp_ = target + ".vantor-" + token + ".tmp";
  HANDLE h = CreateFileA(temp_.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  file_.handle_ = h;
  named_ = true;
  // Deleted by the system if the run dies before commit; where that cannot be set, the next
  // run's sweep removes the file.
  set_delete_disposition(h, true);
  return true;
}

bool Replacement::commit(std::string& problem) {
  if (!set_delete_disposition(file_.handle_, false)) {
    problem = "cannot keep the new archive: " + last_error_text();
    return false;
  }
  if (!FlushFileBuffers(static_cast<HANDLE>(file_.handle_))) {
    problem = "cannot flush the new archive to the disk: " + last_error_text();
    return false;
  }
  file_.close();
  // A read-only archive refuses to be replaced; the new one has its own attributes.
  DWORD old = GetFileAttributesA(target_.c_str());
  if (old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY) && !(old & FILE_ATTRIBUTE_DIRECTORY))
    SetFileAttributesA(target_.c_str(), old & ~FILE_ATTRIBUTE_READONLY);
  // Write-through: the call returns once the rename is on the disk.
  if (!MoveFileExA(temp_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    problem = "cannot rename the finished archive to " + target_ + ": " + last_error_text();
    return false;
  }
  named_ = false;
  return true;
}

void Replacement::discard() {
  file_.close();
  if (named_) remove_file(temp_);
  named_ = false;
}

bool remove_tree(const std::string& path) {
  // Held without FILE_SHARE_DELETE while its content goes: it cannot be swapped for a link.
  HANDLE h = CreateFileA(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  bool folder = GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
  bool ok = folder;
  std::vector<std::string> names;
  if (folder && list_directory(path, names)) {
    for (const std::string& name : names) {
      std::string child = path + "\\" + name;
      DWORD attributes = GetFileAttributesA(child.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) ok = false;
      else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)  // the link goes, not what it names
        ok = ((attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryA(child.c_str()) : DeleteFileA(child.c_str())) && ok;
      else if (attributes & FILE_ATTRIBUTE_DIRECTORY) ok = remove_tree(child) && ok;
      else ok = remove_file(child) && ok;
    }
  }
  CloseHandle(h);
  return ok && RemoveDirectoryA(path.c_str()) != 0;
}

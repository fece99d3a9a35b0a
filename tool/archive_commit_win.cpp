#include "archive_commit.h"

#include <windows.h>

#include <vector>

#include "format/utf8_text.h"

ArchiveLock::~ArchiveLock() { release(); }

namespace {

// Whether the handle holds a plain file of this name alone, which a run may take as its lock and
// delete: not a folder, device or link, and no second name (a hard link to somebody's file).
bool plain_file_named(HANDLE h, const std::string& path) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) &&
         !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) &&
         info.nNumberOfLinks == 1 && handle_is_named(h, path);
}

}  // namespace

ArchiveLock::Outcome ArchiveLock::take(const std::string& archive_path, int wait_ms) {
  release();
  path_ = archive_path + ".vantor-lock";
  DWORD start = GetTickCount();
  bool held_by_another = false;
  int denied = 0;
  for (;;) {
    // First opened for its attributes alone, which conflicts with no holder, to see what the
    // name holds: under Wine a Unix link opens as the file it names, and a handle deleted on
    // close would delete that file.
    HANDLE probe = CreateFileA(path_.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    HANDLE h = INVALID_HANDLE_VALUE;
    if (probe != INVALID_HANDLE_VALUE) {
      if (!plain_file_named(probe, path_)) {
        CloseHandle(probe);
        return Outcome::NOT_PLAIN;
      }
      // The same file again, never the name: shared with nobody and deleted by the system when
      // the handle goes, however the run ends.
      h = ReOpenFile(probe, GENERIC_READ | GENERIC_WRITE | DELETE, 0, FILE_FLAG_DELETE_ON_CLOSE);
      DWORD error = GetLastError();
      CloseHandle(probe);
      SetLastError(error);
    }
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
  file_.take_mask(temp_, true);
  if (!file_.is_open()) {
    DeleteFileA(temp_.c_str());
    return false;
  }
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
  // A masked file is a working copy, removed when the run ends: nothing of it needs the disk.
  const bool durable = !file_.mask_;
  if (durable && !FlushFileBuffers(static_cast<HANDLE>(file_.handle_))) {
    problem = "cannot flush the new archive to the disk: " + last_error_text();
    return false;
  }
  file_.close();
  // A read-only archive refuses to be replaced; the new one has its own attributes.
  DWORD old = GetFileAttributesA(target_.c_str());
  if (old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY) && !(old & FILE_ATTRIBUTE_DIRECTORY))
    SetFileAttributesA(target_.c_str(), old & ~FILE_ATTRIBUTE_READONLY);
  // Write-through: the call returns once the rename is on the disk.
  if (!MoveFileExA(temp_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | (durable ? MOVEFILE_WRITE_THROUGH : 0))) {
    problem = "cannot rename the finished archive to " + target_ + ": " + last_error_text();
    return false;
  }
  named_ = false;
  return true;
}

void Replacement::discard() {
  // Through the handle while there is one: once it is closed, the name may hold something else.
  if (named_ && file_.is_open()) set_delete_disposition(file_.handle_, true);
  else if (named_) remove_file(temp_);
  file_.close();
  named_ = false;
}

namespace {

struct Entry {
  HANDLE handle = INVALID_HANDLE_VALUE;
  BY_HANDLE_FILE_INFORMATION info = {};
  ~Entry() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

// Opens `path` itself, never what a link there names, and checks that its final path is its own
// name in the folder whose final path is `folder_final`: under Wine a Unix link opens as what it
// names, with no reparse attribute, and only the final path tells. Held without
// FILE_SHARE_DELETE, so it cannot be renamed or swapped for a link meanwhile.
bool open_entry(const std::string& path, const std::string& folder_final, DWORD access, Entry& entry) {
  entry.handle = CreateFileA(path.c_str(), access | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (entry.handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(entry.handle, &entry.info)) return false;
  std::string expected = folder_final;
  if (expected.back() != '\\') expected += '\\';
  expected += path.substr(path.find_last_of("\\/") + 1);
  std::string reached = final_path_of(entry.handle);
  return !reached.empty() && name_case_key(reached) == name_case_key(expected);
}

bool remove_entry(const std::string& path, const std::string& folder_final) {
  bool ok = true;
  BY_HANDLE_FILE_INFORMATION listed;
  {
    // Listing by name wants a handle that does not ask for deletion.
    Entry entry;
    if (!open_entry(path, folder_final, FILE_LIST_DIRECTORY, entry)) return false;
    listed = entry.info;
    if ((listed.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(listed.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      std::vector<std::string> names;
      std::string own_final = final_path_of(entry.handle);
      ok = list_directory(path, names);
      for (const std::string& name : names) ok = remove_entry(path + "\\" + name, own_final) && ok;
    }
  }
  // A link itself (a reparse point opened as itself) goes like a file, never what it names.
  Entry entry;
  return ok && open_entry(path, folder_final, DELETE | FILE_WRITE_ATTRIBUTES, entry) &&
         entry.info.dwVolumeSerialNumber == listed.dwVolumeSerialNumber &&
         entry.info.nFileIndexHigh == listed.nFileIndexHigh && entry.info.nFileIndexLow == listed.nFileIndexLow &&
         delete_through(entry.handle, path);
}

}  // namespace

bool remove_tree(const std::string& path) {
  std::string name, folder_final = folder_final_path(path, name);
  return !folder_final.empty() && !name.empty() && remove_entry(path, folder_final);
}

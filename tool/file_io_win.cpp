// rand_s, the C runtime's interface to the system's random source, needs this before any header.
#define _CRT_RAND_S
#include <stdlib.h>

#include "file_io.h"
#include "file_mask.h"

#include <windows.h>

#include "format/utf8_text.h"


namespace {

constexpr int64_t EPOCH_DIFFERENCE_100NS = 116444736000000000LL;  // 1601 to 1970

HANDLE as_handle(void* h) { return h ? static_cast<HANDLE>(h) : INVALID_HANDLE_VALUE; }

void* open_handle(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
  HANDLE h = CreateFileA(path.c_str(), access, share, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

// A NUL inside a path would cut it short at the system call (see the POSIX side).
bool whole(const std::string& path) { return path.find('\0') == std::string::npos; }

// "\\.\" names reach devices, not files.
bool device_path(const std::string& path) {
  return path.size() >= 4 && (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/') &&
         path[2] == '.' && (path[3] == '\\' || path[3] == '/');
}

int64_t filetime_to_ns(const FILETIME& ft) {
  int64_t t = (static_cast<int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return (t - EPOCH_DIFFERENCE_100NS) * 100;
}

}  // namespace

std::string final_path_of(void* handle) {
  HANDLE h = static_cast<HANDLE>(handle);
  char buffer[MAX_PATH * 4];
  DWORD n = GetFinalPathNameByHandleA(h, buffer, sizeof buffer, FILE_NAME_NORMALIZED);
  if (n == 0 || n >= sizeof buffer) n = GetFinalPathNameByHandleA(h, buffer, sizeof buffer, FILE_NAME_OPENED);
  return (n > 0 && n < sizeof buffer) ? std::string(buffer, n) : std::string();
}

namespace {

// The folder `path` lies in, and its last component.
void split_path(const std::string& path, std::string& folder, std::string& name) {
  size_t cut = path.find_last_of("\\/:");
  if (cut == std::string::npos) folder = ".", name = path;
  else if (path[cut] == ':') folder = path.substr(0, cut + 1) + ".", name = path.substr(cut + 1);
  else folder = path.substr(0, cut == 0 || (cut == 2 && path[1] == ':') ? cut + 1 : cut), name = path.substr(cut + 1);
}

}  // namespace

std::string folder_final_path(const std::string& path, std::string& name) {
  std::string folder;
  split_path(path, folder, name);
  HANDLE h = CreateFileA(folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::string();
  std::string final_name = final_path_of(h);
  CloseHandle(h);
  return final_name;
}

bool handle_is_named(void* handle, const std::string& path) {
  std::string name, expected = folder_final_path(path, name);
  if (expected.empty() || name.empty()) return false;
  if (expected.back() != '\\') expected += '\\';
  expected += name;
  std::string reached = final_path_of(static_cast<HANDLE>(handle));
  return !reached.empty() && name_case_key(reached) == name_case_key(expected);
}

bool delete_through(void* handle, const std::string& path) {
  HANDLE h = static_cast<HANDLE>(handle);
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) return false;
  if (!handle_is_named(h, path)) {
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return false;
  }
  if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = info.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    if (!basic.FileAttributes) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic);
  }
  FILE_DISPOSITION_INFO gone = {TRUE};
  return SetFileInformationByHandle(h, FileDispositionInfo, &gone, sizeof gone) != 0;
}

File::File(File&& other) noexcept : handle_(other.handle_), mask_(std::move(other.mask_)) { other.handle_ = nullptr; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    mask_ = std::move(other.mask_);
    other.handle_ = nullptr;
  }
  return *this;
}

File::~File() { close(); }

bool File::open_read(const std::string& path) {
  close();
  if (!whole(path)) return false;
  handle_ = open_handle(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  take_mask(path, false);
  return handle_ != nullptr;
}

bool File::open_source(const std::string& path, std::string& problem) {
  close();
  if (!whole(path) || device_path(path)) {
    problem = "refused " + path + ": not a regular file (a device path)";
    return false;
  }
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    problem = "cannot open " + path + ": " + last_error_text();
    return false;
  }
  handle_ = h;
  // Names such as CON or NUL open devices in any folder; only a disk file is read.
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    problem = "refused " + path + ": not a regular file (a device, pipe or folder)";
    close();
    return false;
  }
  return true;
}

bool File::create(const std::string& path, uint32_t) {
  close();
  if (!whole(path)) return false;
  handle_ = open_handle(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);
  take_mask(path, true);
  return handle_ != nullptr;
}

bool File::create_new(const std::string& path) {
  close();
  if (!whole(path)) return false;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  handle_ = h == INVALID_HANDLE_VALUE ? nullptr : h;
  take_mask(path, true);
  return handle_ != nullptr;
}

bool File::open_read_write(const std::string& path) {
  close();
  if (!whole(path)) return false;
  handle_ = open_handle(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
  take_mask(path, false);
  return handle_ != nullptr;
}

bool File::is_open() const { return handle_ != nullptr; }

int64_t File::read(void* buffer, size_t size) {
  int64_t at = mask_ ? position() : 0;
  DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
  DWORD got = 0;
  if (!ReadFile(as_handle(handle_), buffer, chunk, &got, nullptr)) return -1;
  if (mask_ && got > 0) apply_mask(*mask_, at, static_cast<uint8_t*>(buffer), got);
  return got;
}

bool File::read_at(int64_t offset, void* buffer, size_t size) {
  if (!seek(offset)) return false;
  char* p = static_cast<char*>(buffer);
  while (size > 0) {
    int64_t n = read(p, size);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

#ifdef VANTOR_READING_ONLY
// The self-extracting stub meets no masked folder and links no cipher.
void File::take_mask(const std::string&, bool) {}
bool File::write(const void* buffer, size_t size) { return write_plain(buffer, size); }
void apply_mask(const FileMask&, int64_t, uint8_t*, size_t) {}
#endif

int64_t File::position() const {
  LARGE_INTEGER zero = {}, at = {};
  return SetFilePointerEx(as_handle(handle_), zero, &at, FILE_CURRENT) ? at.QuadPart : -1;
}

FileIdentity File::handle_identity() const {
  FileIdentity id;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(as_handle(handle_), &info)) return id;
  id.known = true;
  id.volume = info.dwVolumeSerialNumber;
  id.number = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return id;
}

bool File::write_plain(const void* buffer, size_t size) {
  const char* p = static_cast<const char*>(buffer);
  while (size > 0) {
    DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD done = 0;
    if (!WriteFile(as_handle(handle_), p, chunk, &done, nullptr) || done == 0) return false;
    p += done;
    size -= done;
  }
  return true;
}

bool File::seek(int64_t offset) {
  LARGE_INTEGER to;
  to.QuadPart = offset;
  return SetFilePointerEx(as_handle(handle_), to, nullptr, FILE_BEGIN) != 0;
}

int64_t File::length() {
  LARGE_INTEGER size;
  return GetFileSizeEx(as_handle(handle_), &size) ? size.QuadPart : -1;
}

bool File::set_length(int64_t size) { return seek(size) && SetEndOfFile(as_handle(handle_)) != 0; }

void File::set_metadata(int64_t mtime_ns, uint32_t attributes) {
  FILE_BASIC_INFO info = {};
  info.LastWriteTime.QuadPart = mtime_ns / 100 + EPOCH_DIFFERENCE_100NS;
  DWORD keep = attributes & (ATTRIBUTE_READONLY | ATTRIBUTE_HIDDEN | ATTRIBUTE_SYSTEM |
                             ATTRIBUTE_ARCHIVE);
  info.FileAttributes = keep ? keep : FILE_ATTRIBUTE_NORMAL;
  SetFileInformationByHandle(as_handle(handle_), FileBasicInfo, &info, sizeof info);
}

bool File::close() {
  mask_.reset();
  if (!handle_) return true;
  BOOL ok = CloseHandle(as_handle(handle_));
  handle_ = nullptr;
  return ok != 0;
}

FileInfo file_info(const std::string& path) {
  FileInfo info;
  if (device_path(path)) {
    info.exists = true;  // a device: there, but never a file to read
    return info;
  }
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return info;
  info.exists = true;
  info.is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info.is_regular = !info.is_directory && !(data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) && !device_path(path);
  info.is_link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  info.size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  info.mtime_ns = filetime_to_ns(data.ftLastWriteTime);
  info.attributes = data.dwFileAttributes &
                    (ATTRIBUTE_READONLY | ATTRIBUTE_HIDDEN | ATTRIBUTE_SYSTEM | ATTRIBUTE_ARCHIVE);
  return info;
}

bool make_directory(const std::string& path) {
  if (CreateDirectoryA(path.c_str(), nullptr)) return true;
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

FolderStatus create_folder(const std::string& path) {
  if (CreateDirectoryA(path.c_str(), nullptr)) return FolderStatus::CREATED;
  DWORD error = GetLastError();
  if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return FolderStatus::FAILED;
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FolderStatus::FAILED;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FolderStatus::LINK;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? FolderStatus::EXISTS : FolderStatus::NOT_FOLDER;
}

bool remove_file(const std::string& path) {
  if (!whole(path)) return false;
  HANDLE h = CreateFileA(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = delete_through(h, path);
  CloseHandle(h);
  return ok;
}

bool remove_folder(const std::string& path) { return whole(path) && RemoveDirectoryA(path.c_str()) != 0; }

bool replace_file(const std::string& from, const std::string& to) {
  if (!whole(from) || !whole(to)) return false;
  // A read-only target refuses to be replaced; its attributes come from the new file anyway.
  DWORD old = GetFileAttributesA(to.c_str());
  if (old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY) &&
      !(old & FILE_ATTRIBUTE_DIRECTORY))
    SetFileAttributesA(to.c_str(), old & ~FILE_ATTRIBUTE_READONLY);
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void apply_file_metadata(const std::string& path, int64_t mtime_ns, uint32_t attributes) {
  HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    int64_t t = mtime_ns / 100 + EPOCH_DIFFERENCE_100NS;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(t);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
    SetFileTime(h, nullptr, nullptr, &ft);
    CloseHandle(h);
  }
  DWORD keep = attributes & (ATTRIBUTE_READONLY | ATTRIBUTE_HIDDEN | ATTRIBUTE_SYSTEM |
                             ATTRIBUTE_ARCHIVE);
  SetFileAttributesA(path.c_str(), keep ? keep : FILE_ATTRIBUTE_NORMAL);
}

bool list_directory(const std::string& path, std::vector<std::string>& names) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    std::string name = data.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(find, &data));
  DWORD error = GetLastError();
  FindClose(find);
  SetLastError(error);
  return error == ERROR_NO_MORE_FILES;
}

std::string current_directory() {
  char buffer[MAX_PATH * 4];
  DWORD n = GetCurrentDirectoryA(sizeof buffer, buffer);
  return (n > 0 && n < sizeof buffer) ? std::string(buffer, n) : std::string(".");
}

bool is_absolute_path(const std::string& path) {
  if (path.size() >= 2 && (path[0] == '\\' || path[0] == '/')) return true;
  return path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

int process_id() { return static_cast<int>(GetCurrentProcessId()); }

char native_separator() { return '\\'; }

FileInfo source_info(const std::string& path) {
  FileInfo info = file_info(path);
  info.is_link = false;
  return info;
}

FileIdentity file_identity(const std::string& path) {
  FileIdentity id;
  if (device_path(path)) return id;
  // No data access, so a file another handle shares with nobody (the lock) still answers.
  HANDLE h = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return id;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(h, &info)) {
    id.known = true;
    id.volume = info.dwVolumeSerialNumber;
    id.number = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  }
  CloseHandle(h);
  return id;
}

uint32_t creation_mode(uint32_t, uint32_t) { return 0; }

std::string last_error_text() {
  DWORD error = GetLastError();
  char text[256] = "";
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                           sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.' || text[n - 1] == ' ')) --n;
  return n > 0 ? std::string(text, n) : "error " + std::to_string(error);
}

std::string random_token() {
  unsigned int parts[2] = {0, 0};
  for (unsigned int& part : parts)
    if (rand_s(&part) != 0) part = GetTickCount() ^ (GetCurrentThreadId() << 16) ^ reinterpret_cast<uintptr_t>(&part);
  // Digits by hand: printf would pull a formatter into the self-extracting program's slot.
  std::string text;
  for (unsigned int part : parts)
    for (int shift = 28; shift >= 0; shift -= 4) text += "0123456789abcdef"[(part >> shift) & 15];
  return text;
}

bool names_ignore_case() { return true; }

std::string read_zone_mark(const std::string& path) {
  HANDLE h = CreateFileA((path + ":Zone.Identifier").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::string();
  std::string mark(64 << 10, '\0');
  DWORD got = 0;
  LARGE_INTEGER size;
  bool ok = GetFileSizeEx(h, &size) && size.QuadPart <= static_cast<LONGLONG>(mark.size()) &&
            ReadFile(h, &mark[0], static_cast<DWORD>(mark.size()), &got, nullptr);
  CloseHandle(h);
  mark.resize(ok ? got : 0);
  return mark;
}

void write_zone_mark(const std::string& path, const std::string& mark) {
  if (mark.empty()) return;
  HANDLE h = CreateFileA((path + ":Zone.Identifier").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD done = 0;
  WriteFile(h, mark.data(), static_cast<DWORD>(mark.size()), &done, nullptr);
  CloseHandle(h);
}

namespace {

constexpr DWORD FOLDER_OPEN_FLAGS = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

// Held without FILE_SHARE_DELETE: while extraction has a folder open, nobody can rename or
// delete it, so it cannot be swapped for a link under our feet.
HANDLE open_folder_handle(const std::string& path) {
  return CreateFileA(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FOLDER_OPEN_FLAGS, nullptr);
}

bool below(const std::string& root, const std::string& path) {
  if (root.empty() || path.size() <= root.size() + 1) return false;
  std::string prefix = root;
  if (prefix.back() != '\\') prefix += '\\';
  return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, prefix.data(), static_cast<int>(prefix.size()),
                        path.data(), static_cast<int>(prefix.size())) == CSTR_EQUAL;
}

// The name the system gives what a handle reached: the last component of its final path.
std::string last_component(const std::string& path) {
  size_t cut = path.find_last_of('\\');
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// A name may reach a file of another name: a short 8.3 name (LONGFI~1.TXT) is a second name of
// a long one. Letter case alone makes no other name here.
bool final_name_is(const std::string& final, const std::string& name) {
  return name_case_key(last_component(final)) == name_case_key(name);
}

std::string child_path(const std::string& folder, const std::string& name) {
  return folder + (folder.empty() || folder.back() == '\\' || folder.back() == '/' ? "" : "\\") + name;
}

}  // namespace

Folder::Folder(Folder&& other) noexcept
    : path_(std::move(other.path_)), handle_(other.handle_), final_root_(std::move(other.final_root_)) {
  other.handle_ = nullptr;
}

Folder& Folder::operator=(Folder&& other) noexcept {
  if (this != &other) {
    close();
    path_ = std::move(other.path_);
    final_root_ = std::move(other.final_root_);
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

Folder::~Folder() { close(); }

void Folder::close() {
  if (handle_) CloseHandle(as_handle(handle_));
  handle_ = nullptr;
}

bool Folder::open_root(const std::string& path) {
  close();
  path_ = path;
  HANDLE h = CreateFileA(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = h;
  final_root_ = final_path_of(h);
  return !final_root_.empty();
}

// Windows has no call that refuses reparse points along a whole path: the caller walks.
bool Folder::open_existing(const std::vector<std::string>&, size_t, Folder&) const { return false; }

FolderStatus Folder::open_child(const std::string& name, Folder& child) const {
  std::string path = child_path(path_, name);
  // Most members go to folders that exist by then: open first, create only what is missing.
  bool created = false;
  HANDLE h = open_folder_handle(path);
  if (h == INVALID_HANDLE_VALUE) {
    if (GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND) return FolderStatus::FAILED;
    created = CreateDirectoryA(path.c_str(), nullptr) != 0;
    if (!created && GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS)
      return FolderStatus::FAILED;
    h = open_folder_handle(path);
    if (h == INVALID_HANDLE_VALUE) return FolderStatus::FAILED;
  }
  BY_HANDLE_FILE_INFORMATION info;
  std::string final = final_path_of(h);
  FolderStatus status = !GetFileInformationByHandle(h, &info)                           ? FolderStatus::FAILED
                        : (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)         ? FolderStatus::LINK
                        : !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)            ? FolderStatus::NOT_FOLDER
                        : !below(final_root_, final)                                     ? FolderStatus::LINK
                        : !final_name_is(final, name)                                    ? FolderStatus::ALIAS
                        : created                                                        ? FolderStatus::CREATED
                                                                                         : FolderStatus::EXISTS;
  if (status != FolderStatus::CREATED && status != FolderStatus::EXISTS) {
    CloseHandle(h);
    return status;
  }
  child.close();
  child.handle_ = h;
  child.path_ = path;
  child.final_root_ = final_root_;
  return status;
}

bool Folder::create_file(const std::string& name, uint32_t, File& file) const {
  file.close();
  HANDLE h = CreateFileA(child_path(path_, name).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                         nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN |
                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  std::string final = final_path_of(h);
  if (!below(final_root_, final) || !final_name_is(final, name)) {
    FILE_DISPOSITION_INFO gone = {TRUE};
    SetFileInformationByHandle(h, FileDispositionInfo, &gone, sizeof gone);
    CloseHandle(h);
    return false;
  }
  file.handle_ = h;
  file.take_mask(child_path(path_, name), true);
  return file.is_open();
}

bool Folder::commit(File& file, const std::string&, const std::string& to) const {
  std::string target = child_path(path_, to);
  // A read-only target refuses to be replaced; its attributes come from the new file anyway.
  DWORD old = GetFileAttributesA(target.c_str());
  if (old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY) && !(old & FILE_ATTRIBUTE_DIRECTORY))
    SetFileAttributesA(target.c_str(), old & ~FILE_ATTRIBUTE_READONLY);
  // Renamed through the open handle: the file written is the file placed, whatever happened
  // to its temporary name.
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + (target.size() + 1) * sizeof(WCHAR));
  FILE_RENAME_INFO* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  int n = MultiByteToWideChar(CP_ACP, 0, target.c_str(), static_cast<int>(target.size()), info->FileName,
                              static_cast<int>(target.size()) + 1);
  info->FileNameLength = static_cast<DWORD>(n * sizeof(WCHAR));
  // The old file goes only for content that is on the disk (see the POSIX side).
  // (A masked file is a working file of the run: it need not reach the disk.)
  bool ok = n > 0 && (file.mask_ || FlushFileBuffers(as_handle(file.handle_))) &&
            SetFileInformationByHandle(as_handle(file.handle_), FileRenameInfo, info,
                                       static_cast<DWORD>(buffer.size())) != 0;
  // Checked before, but the folder may have changed since: say so rather than report success.
  ok = ok && final_name_is(final_path_of(as_handle(file.handle_)), to);
  return file.close() && ok;
}

std::string Folder::other_name(const std::string& name) const {
  HANDLE h = CreateFileA(child_path(path_, name).c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::string();
  // A link there is replaced itself, never what it names: it is no second name.
  BY_HANDLE_FILE_INFORMATION info;
  std::string final = final_path_of(h);
  bool link = !GetFileInformationByHandle(h, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
              !below(final_root_, final);
  std::string other = link || final_name_is(final, name) ? std::string() : last_component(final);
  CloseHandle(h);
  return other;
}

bool Folder::remove(const std::string& name) const { return remove_file(child_path(path_, name)); }

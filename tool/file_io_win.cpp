#include "file_io.h"

#include <windows.h>

namespace {

constexpr int64_t EPOCH_DIFFERENCE_100NS = 116444736000000000LL;  // 1601 to 1970

HANDLE as_handle(void* h) { return h ? static_cast<HANDLE>(h) : INVALID_HANDLE_VALUE; }

void* open_handle(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
  HANDLE h = CreateFileA(path.c_str(), access, share, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

int64_t filetime_to_ns(const FILETIME& ft) {
  int64_t t = (static_cast<int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return (t - EPOCH_DIFFERENCE_100NS) * 100;
}

}  // namespace

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

File::~File() { close(); }

bool File::open_read(const std::string& path) {
  close();
  handle_ = open_handle(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  return handle_ != nullptr;
}

bool File::create(const std::string& path, uint32_t) {
  close();
  handle_ = open_handle(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);
  return handle_ != nullptr;
}

bool File::open_read_write(const std::string& path) {
  close();
  handle_ = open_handle(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
  return handle_ != nullptr;
}

bool File::is_open() const { return handle_ != nullptr; }

int64_t File::read(void* buffer, size_t size) {
  DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
  DWORD got = 0;
  if (!ReadFile(as_handle(handle_), buffer, chunk, &got, nullptr)) return -1;
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

bool File::write(const void* buffer, size_t size) {
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

void File::set_metadata(int64_t mtime_ns, uint32_t attributes) {
  FILE_BASIC_INFO info = {};
  info.LastWriteTime.QuadPart = mtime_ns / 100 + EPOCH_DIFFERENCE_100NS;
  DWORD keep = attributes & (ATTRIBUTE_READONLY | ATTRIBUTE_HIDDEN | ATTRIBUTE_SYSTEM |
                             ATTRIBUTE_ARCHIVE);
  info.FileAttributes = keep ? keep : FILE_ATTRIBUTE_NORMAL;
  SetFileInformationByHandle(as_handle(handle_), FileBasicInfo, &info, sizeof info);
}

bool File::close() {
  if (!handle_) return true;
  BOOL ok = CloseHandle(as_handle(handle_));
  handle_ = nullptr;
  return ok != 0;
}

FileInfo file_info(const std::string& path) {
  FileInfo info;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return info;
  info.exists = true;
  info.is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
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
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return DeleteFileA(path.c_str()) != 0;
}

bool replace_file(const std::string& from, const std::string& to) {
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
  FindClose(find);
  return true;
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

uint32_t creation_mode(uint32_t, uint32_t) { return 0; }

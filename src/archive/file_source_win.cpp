// File-backed byte source: listing opens shared for reading, the marking pass for reading and
// writing. Every access is an absolute seek followed by the read or write. Why a file cannot be
// opened is asked the same way.
#include <windows.h>

#include <string>

#include "archive/index_walk.h"
#include "archive/open_archive.h"

namespace {

class WinFileSource : public ByteSource {
 public:
  WinFileSource(HANDLE file, bool writable) : file_(file), writable_(writable) {}
  ~WinFileSource() override { CloseHandle(file_); }
  WinFileSource(const WinFileSource&) = delete;
  WinFileSource& operator=(const WinFileSource&) = delete;

  int64_t size() override {
    LARGE_INTEGER length;
    return GetFileSizeEx(file_, &length) ? length.QuadPart : 0;
  }

  size_t read_at(int64_t offset, void* buffer, size_t n) override {
    if (offset < 0 || !seek(offset)) return 0;
    DWORD got = 0;
    if (!ReadFile(file_, buffer, static_cast<DWORD>(n), &got, nullptr)) return 0;
    return got;
  }

  bool write_at(int64_t offset, uint8_t byte) override {
    DWORD put = 0;
    return writable_ && offset >= 0 && seek(offset) && WriteFile(file_, &byte, 1, &put, nullptr) &&
           put == 1;
  }

 private:
  bool seek(int64_t offset) {
    LARGE_INTEGER to;
    to.QuadPart = offset;
    return SetFilePointerEx(file_, to, nullptr, FILE_BEGIN) != 0;
  }

  HANDLE file_;
  bool writable_;
};

std::string open_problem(const std::string& path, DWORD error) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return "it is a folder";
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: return "it does not exist";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return "another program holds it locked";
    case ERROR_ACCESS_DENIED: return "access to it is denied";
    default: return "the system cannot read it (error " + std::to_string(error) + ")";
  }
}

}  // namespace

std::unique_ptr<ByteSource> open_file_source(const std::string& path, bool writable) {
  DWORD access = writable ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_READ;
  HANDLE file = CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<WinFileSource>(file, writable);
}

// Opened exactly as the walk opens it, so the answer holds for the walk.
std::string archive_open_problem(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return open_problem(path, GetLastError());
  CloseHandle(file);
  return std::string();
}

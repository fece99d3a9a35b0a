// File-backed byte source: listing opens shared for reading, the marking pass for reading and
// writing. Every access is an absolute seek followed by the read or write.
#include <windows.h>

#include "archive/index_walk.h"

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

}  // namespace

std::unique_ptr<ByteSource> open_file_source(const std::string& path, bool writable) {
  DWORD access = writable ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_READ;
  HANDLE file = CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<WinFileSource>(file, writable);
}

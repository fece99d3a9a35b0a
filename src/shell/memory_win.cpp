// Free physical memory, asked of the kernel library loaded by name at every query.
#include <windows.h>

#include <cstring>

#include "shell/shell.h"

namespace {

// The system's version code: 50 for 2000, 60 for XP, 70 for Vista, 80 for 7, 100 otherwise.
int os_version_code() {
  OSVERSIONINFOEXA v = {};
  v.dwOSVersionInfoSize = sizeof(v);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&v))) return 100;
#pragma GCC diagnostic pop
  bool server = v.wProductType != VER_NT_WORKSTATION;
  if (v.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
    if (v.dwMinorVersion == 0) return 10;
    return v.dwMinorVersion < 90 ? 30 : 40;
  }
  if (v.dwMajorVersion < 4) return 5;
  if (v.dwMajorVersion == 4) return 20;
  if (v.dwMajorVersion == 5) return v.dwMinorVersion == 0 ? 50 : (v.dwMinorVersion == 2 && server) ? 65 : 60;
  if (v.dwMajorVersion == 6 && v.dwMinorVersion <= 1) {
    if (server) return 75;
    return v.dwMinorVersion == 0 ? 70 : 80;
  }
  return 100;
}

}  // namespace

uint64_t free_physical_memory() {
  uint64_t result = 0;
  HMODULE kernel = LoadLibraryA("kernel32.dll");
  if (!kernel) return 0;
  if (os_version_code() >= 50) {
    using StatusEx = BOOL(WINAPI*)(void*);
    auto query = reinterpret_cast<StatusEx>(reinterpret_cast<void*>(GetProcAddress(kernel, "GlobalMemoryStatusEx")));
    alignas(8) unsigned char record[64] = {};
    uint32_t length = 64;
    std::memcpy(record, &length, 4);
    if (query && query(record)) std::memcpy(&result, record + 16, 8);
  } else {
    using Status = void(WINAPI*)(void*);
    auto query = reinterpret_cast<Status>(reinterpret_cast<void*>(GetProcAddress(kernel, "GlobalMemoryStatus")));
    alignas(8) unsigned char record[32] = {};
    uint32_t length = 32, available = 0;
    std::memcpy(record, &length, 4);
    if (query) {
      query(record);
      std::memcpy(&available, record + 12, 4);
      result = available;
    }
  }
  FreeLibrary(kernel);
  return result;
}

// Helpers for the watcher, combo and tree tests: a private temp folder and an event pump.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "runtime/folders.h"
#include "ui/ui.h"

// A folder of its own under the temp directory, removed with everything in it.
class TempFolder {
 public:
  explicit TempFolder(const std::string& name) {
    char temp[MAX_PATH] = "";
    GetTempPathA(sizeof temp, temp);
    path_ = std::string(temp) + "vantor_" + name + "_" + std::to_string(GetCurrentProcessId()) + "\\";
    delete_folder_tree(path_);
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~TempFolder() { delete_folder_tree(path_); }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  // Creates a folder below this one; returns its path with the final "\".
  std::string folder(const std::string& relative) const {
    std::string p = path_ + relative;
    CreateDirectoryA(p.c_str(), nullptr);
    return p + "\\";
  }
  std::string file(const std::string& relative, const std::string& content = "x") const {
    std::string p = path_ + relative;
    HANDLE h = CreateFileA(p.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (h != INVALID_HANDLE_VALUE) {
      WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
      CloseHandle(h);
    }
    return p;
  }

 private:
  std::string path_;
};

// Takes events until `done` holds or `limit_ms` has passed; returns whether it held.
inline bool pump_until(const std::function<bool()>& done, DWORD limit_ms = 4000) {
  DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > limit_ms) return false;
    wait_event(10);
  }
  return true;
}

// Takes every event that arrives within `ms`.
inline void pump_for(DWORD ms) {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < ms) wait_event(10);
}

#include <windows.h>
#include <shobjidl.h>

#include "ui/taskbar.h"
#include "ui/ui.h"

namespace {

// Created on first use on the main thread and kept for the program's life.
ITaskbarList3* taskbar_list() {
  static ITaskbarList3* list = [] {
    ITaskbarList3* made = nullptr;
    // S_FALSE (already initialised) is fine; a thread in another apartment model still works.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                reinterpret_cast<void**>(&made))) ||
        FAILED(made->HrInit())) {
      if (made) made->Release();
      made = nullptr;
    }
    return made;
  }();
  return list;
}

}  // namespace

void taskbar_progress(int window, int position) {
  HWND hwnd = window_handle(window);
  ITaskbarList3* list = hwnd ? taskbar_list() : nullptr;
  if (!list) return;
  if (position == TASKBAR_NO_PROGRESS) {
    list->SetProgressState(hwnd, TBPF_NOPROGRESS);
  } else if (position == PROGRESS_MARQUEE) {
    list->SetProgressState(hwnd, TBPF_INDETERMINATE);
  } else {
    list->SetProgressState(hwnd, TBPF_NORMAL);
    list->SetProgressValue(hwnd, static_cast<ULONGLONG>(position), PROGRESS_RANGE);
  }
}

// Times how long the explorer list takes to list a folder of 10,000 files, unsorted and sorted
// by name. Run under Wine:  scripts/wine-run.sh build/<dir>/bench/list_bench.exe [files]
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "explorer/explorer_list.h"
#include "ui/ui.h"

namespace {

const char* const EXTENSIONS[] = {".txt", ".log", ".dat", ".vnr", ".c", ".h", ".png", ".html"};

std::string make_folder(int files) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string dir = std::string(temp) + "vantor_list_bench\\";
  CreateDirectoryA(dir.c_str(), nullptr);
  for (int i = 0; i < files; ++i) {
    std::string path = dir + "file" + std::to_string(i) + EXTENSIONS[i % 8];
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) continue;  // left from an earlier run
    DWORD put = 0;
    WriteFile(f, "data", static_cast<DWORD>(i % 5), &put, nullptr);
    CloseHandle(f);
  }
  return dir;
}

void remove_folder(const std::string& dir) {
  WIN32_FIND_DATAA f;
  HANDLE h = FindFirstFileA((dir + "*").c_str(), &f);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      if (!(f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileA((dir + f.cFileName).c_str());
    } while (FindNextFileA(h, &f));
    FindClose(h);
  }
  RemoveDirectoryA(dir.c_str());
}

double now_ms() {
  LARGE_INTEGER t, f;
  QueryPerformanceCounter(&t);
  QueryPerformanceFrequency(&f);
  return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

// Median of `runs` listings of the folder.
double time_listing(int list, const std::string& dir, int runs) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    double start = now_ms();
    gadget_set_text(list, dir);
    ms.push_back(now_ms() - start);
    while (wait_event(0) != 0) {
    }
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int files = argc > 1 ? std::atoi(argv[1]) : 10000;
  std::string dir = make_folder(files);
  ui_init();
  if (!window_open(0, 0, 0, 800, 600, "list bench", 0xCF0000)) {
    std::fprintf(stderr, "list_bench: the window could not be opened\n");
    return 1;
  }
  explorer_list_create(1, 1, 95, 795, 465, "*.*", 0x200000);

  double first_start = now_ms();
  gadget_set_text(1, dir);
  double first = now_ms() - first_start;
  int items = gadget_count_items(1);
  double unsorted = time_listing(1, dir, 5);
  // A click on the Name header: every later listing ends with a sort by name.
  HWND header = reinterpret_cast<HWND>(SendMessageA(gadget_handle(1), LVM_GETHEADER, 0, 0));
  RECT r = {};
  SendMessageA(header, HDM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&r));
  LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  SendMessageA(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageA(header, WM_LBUTTONUP, 0, at);
  double sorted = time_listing(1, dir, 5);

  std::printf("explorer list, folder of %d files (%d items listed)\n", files, items);
  std::printf("  first listing (type cache cold): %8.1f ms\n", first);
  std::printf("  listing, median of 5:            %8.1f ms\n", unsorted);
  std::printf("  listing sorted by name, median:  %8.1f ms\n", sorted);
  std::fflush(stdout);
  window_close(0);
  ui_shutdown();
  remove_folder(dir);
  return 0;
}

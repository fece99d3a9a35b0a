// Opening large archives in the front end: the index walk with the mirror tree, the first listing
// step, and one listing step per folder change. Prints figures; run under Wine.
#include <windows.h>

#include <cstdio>
#include <string>

#include "archive/open_archive.h"
#include "foreign_index.h"
#include "shell/browsing.h"
#include "shell/dispatch.h"
#include "shell/globals.h"
#include "shell/shell.h"
#include "ui/ui.h"

namespace {

double seconds_since(LARGE_INTEGER start) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return double(now.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

LARGE_INTEGER now() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return t;
}

// What creating the same empty files costs a Windows program here, without any archive logic.
double empty_files_floor(const std::string& work, int members, int folders) {
  std::string root = work + "vantor_floor\\";
  LARGE_INTEGER t = now();
  CreateDirectoryA(root.c_str(), nullptr);
  for (int f = 0; f < folders; ++f) CreateDirectoryA((root + "folder" + std::to_string(f)).c_str(), nullptr);
  for (int i = 0; i < members; ++i) {
    std::string path = root + "folder" + std::to_string(i % folders) + "\\member" + std::to_string(i) + ".dat";
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  double seconds = seconds_since(t);
  std::string saved = shell.operation.temp_root;
  shell.operation.temp_root = root;  // reuse the program's own tree removal
  reset_temp_folders();
  shell.operation.temp_root = saved;
  return seconds;
}

void measure(const std::string& work, int members, int folders) {
  std::string archive = work + "bench" + std::to_string(members) + ".vnr";
  bench::write_archive(archive, members, folders);
  shell.operation.archive_path = archive;
  double floor = empty_files_floor(work, members, folders);
  reset_temp_folders();  // an earlier mirror tree is not part of this archive's cost
  LARGE_INTEGER t0 = now();
  // As the program opens it: one pending event taken per entry.
  open_archive(archive, shell.operation.temp_root, shell.entries, [](int64_t, int64_t, int) {
    wait_event(0);
    return true;
  });
  double mirror = seconds_since(t0);
  LARGE_INTEGER t1 = now();
  gadget_set_text(FILE_LIST, shell.operation.temp_root);
  listing_step();
  double first = seconds_since(t1);
  LARGE_INTEGER t2 = now();
  gadget_set_text(FILE_LIST, shell.operation.temp_root + "folder7\\");
  double list_folder = seconds_since(t2);
  LARGE_INTEGER t3 = now();
  listing_step();
  double step = seconds_since(t3);
  std::printf("%-9d %8d %10.2f %10.2f %12.3f %12.3f %12.3f %8d\n", members, folders, mirror, floor, first, list_folder,
              step, gadget_count_items(FILE_LIST) - 1);
  DeleteFileA(archive.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (!open_main_window()) return 1;
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string work = std::string(temp);
  std::printf("open archive in the front end (seconds)\n");
  std::printf("%-9s %8s %10s %10s %12s %12s %12s %8s\n", "members", "folders", "walk+tree", "files only",
              "first list", "enter folder", "list step", "rows");
  if (argc > 1) {
    measure(work, std::atoi(argv[1]), argc > 2 ? std::atoi(argv[2]) : 1000);
  } else {
    measure(work, 10000, 100);
    measure(work, 100000, 1000);
  }
  gadget_set_text(FILE_LIST, "");
  std::fflush(stdout);
  end_program_now();
}

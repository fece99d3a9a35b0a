// Opening large archives in the front end: the index walk with the mirror tree against the same
// empty files created by a plain loop (the two taking turns, medians of three), then the first
// listing step and one listing step per folder change. Every turn writes a tree of its own and
// all are removed after the last turn: a file system that skips inodes freed a moment ago (ext4
// does, for a minute) would otherwise slow whichever side comes after a removal. Dated members
// (as real archives have them) get their times in the plain loop too. Prints figures; run under
// Wine.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/open_archive.h"
#include "operations/foreign_members.h"
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

// Removes a tree with the program's own removal.
void remove_tree(const std::string& root) {
  std::string saved = shell.operation.temp_root;
  shell.operation.temp_root = root;
  reset_temp_folders();
  shell.operation.temp_root = saved;
}

std::string floor_root(const std::string& work, int turn) { return work + "vantor_floor" + std::to_string(turn) + "\\"; }

// Writes out what the file system still holds of earlier work: a flushed file commits it.
void settle(const std::string& work) {
  HANDLE h = CreateFileA((work + "vantor_settle").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(h, "s", 1, &written, nullptr);
  FlushFileBuffers(h);
  CloseHandle(h);
  DeleteFileA((work + "vantor_settle").c_str());
}

// What creating the same empty files costs a Windows program here, without any archive logic.
double empty_files_floor(const std::string& root, int members, int folders, bool dated) {
  LARGE_INTEGER t = now();
  CreateDirectoryA(root.c_str(), nullptr);
  for (int f = 0; f < folders; ++f) CreateDirectoryA((root + bench::folder_of(f, folders)).c_str(), nullptr);
  for (int i = 0; i < members; ++i) {
    std::string path = root + bench::folder_of(i, folders) + "\\" + bench::name_of(i);
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) continue;
    if (dated) {
      // 100 ns steps since 1601
      uint64_t ticks = static_cast<uint64_t>(bench::time_of(i) / 100) + 116444736000000000ULL;
      FILETIME ft = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
      SetFileTime(h, nullptr, nullptr, &ft);
    }
    CloseHandle(h);
  }
  return seconds_since(t);
}

// As the program opens it: pending events are taken fifty times a second, as its busy window does.
double walk_and_tree(const std::string& archive) {
  DWORD last = GetTickCount();
  LARGE_INTEGER t = now();
  open_archive(archive, shell.operation.temp_root, shell.entries, [&](int64_t, int64_t, int) {
    if (GetTickCount() - last >= 20) {
      last = GetTickCount();
      wait_event(0);
    }
    return true;
  });
  return seconds_since(t);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void measure(const std::string& work, int members, int folders, bool dated, int rounds) {
  std::string archive = work + "bench" + std::to_string(members) + ".vnr";
  bench::write_archive(archive, members, folders, dated);
  shell.operation.archive_path = archive;
  std::vector<double> floor, mirror;
  std::string mirror_base = shell.operation.temp_root;
  auto mirror_root = [&](int turn) { return mirror_base.substr(0, mirror_base.size() - 1) + std::to_string(turn) + "\\"; };
  settle(work);
  // Turns alternate which side goes first, so a change in the machine's load hits both; the
  // mirror tree of the last turn stays for the listing.
  for (int r = 0; r < rounds; ++r) {
    for (int side : r % 2 ? std::vector<int>{1, 0} : std::vector<int>{0, 1}) {
      if (side == 0) floor.push_back(empty_files_floor(floor_root(work, r), members, folders, dated));
      if (side != 1) continue;
      shell.operation.temp_root = mirror_root(r);
      mirror.push_back(walk_and_tree(archive));
    }
  }
  for (int r = 0; r < rounds; ++r) {
    remove_tree(floor_root(work, r));
    if (r != rounds - 1) remove_tree(mirror_root(r));
  }
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
  double m = median(mirror), f = median(floor);
  std::printf("%-9d %8d %-6s %10.2f %10.2f %7.2fx %12.3f %12.3f %12.3f %8d\n", members, folders, dated ? "yes" : "no",
              m, f, m / f, first, list_folder, step, gadget_count_items(FILE_LIST) - 1);
  DeleteFileA(archive.c_str());
  reset_temp_folders();
  shell.operation.temp_root = mirror_base;
}

// The same members opened from another program's archive (the archiver lists it, the listing
// becomes the mirror) and from one of ours, taking turns.
void measure_foreign(const std::string& work, const std::string& program_folder, const std::string& foreign, const std::string& own,
                     int rounds) {
  std::vector<double> theirs, ours;
  int members = 0;
  for (int r = 0; r < rounds; ++r) {
    for (int side = 0; side < 2; ++side) {
      bool foreign_turn = (side == 0) == (r % 2 == 0);
      reset_temp_folders();
      settle(work);
      LARGE_INTEGER t = now();
      if (foreign_turn) {
        ArchiveSession s = open_foreign_archive_busy(program_folder, foreign, shell.operation.temp_root, shell.entries);
        theirs.push_back(seconds_since(t));
        members = static_cast<int>(s.entries);
      } else {
        ours.push_back(walk_and_tree(own));
      }
    }
  }
  double f = median(theirs), o = median(ours);
  std::printf("%-24s %9d %10.2f %10.2f %7.2fx\n", foreign.substr(foreign.find_last_of("\\/") + 1).c_str(), members,
              f, o, f / o);
}

}  // namespace

int main(int argc, char** argv) {
  if (!open_main_window()) return 1;
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string work = std::string(temp);
  // VANTOR_BENCH_DIR (a Windows path ending in "\\") puts the trees elsewhere, e.g. on a memory
  // file system (bench/run.sh).
  if (const char* dir = std::getenv("VANTOR_BENCH_DIR"); dir && *dir) {
    work = dir;
    shell.operation.temp_root = work + "tempvantor\\";
  }
  int rounds = std::getenv("ROUNDS") ? std::max(1, std::atoi(std::getenv("ROUNDS"))) : 3;
  if (argc == 5 && std::string(argv[1]) == "foreign") {
    std::printf("open another program's archive against ours with the same members (seconds, medians of %d)\n",
                rounds);
    std::printf("%-24s %9s %10s %10s %8s\n", "archive", "members", "theirs", "as .vnr", "ratio");
    measure_foreign(work, argv[2], argv[3], argv[4], rounds);
    gadget_set_text(FILE_LIST, "");
    std::fflush(stdout);
    end_program_now();
  }
  std::printf("open archive in the front end (seconds, medians of %d, taking turns)\n", rounds);
  std::printf("%-9s %8s %-6s %10s %10s %8s %12s %12s %12s %8s\n", "members", "folders", "dated", "walk+tree",
              "files only", "ratio", "first list", "enter folder", "list step", "rows");
  if (argc > 1) {
    measure(work, std::atoi(argv[1]), argc > 2 ? std::atoi(argv[2]) : 1000, argc > 3 && std::string(argv[3]) == "dated",
            rounds);
  } else {
    for (bool dated : {false, true}) {
      measure(work, 10000, 100, dated, rounds);
      measure(work, 100000, 1000, dated, rounds);
    }
  }
  gadget_set_text(FILE_LIST, "");
  std::fflush(stdout);
  end_program_now();
}

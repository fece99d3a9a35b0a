// Opening a large archive natively against its floor: the walk and mirror tree (open_archive)
// against the same empty files created by a plain loop, the two taking turns, medians of three.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/open_archive.h"
#include "foreign_index.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double plain_loop(const std::string& root, int files, int folders) {
  auto start = Clock::now();
  mkdir(root.c_str(), 0755);
  for (int f = 0; f < folders; ++f) mkdir((root + "folder" + std::to_string(f)).c_str(), 0755);
  for (int i = 0; i < files; ++i) {
    std::string path = root + "folder" + std::to_string(i % folders) + "/member" + std::to_string(i) + ".dat";
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) close(fd);
  }
  return seconds_since(start);
}

// The mirror root is named as the program names it, with "\" before the members' paths.
double walk_and_tree(const std::string& archive, const std::string& root, EntryTable& table) {
  auto start = Clock::now();
  open_archive(archive, root.substr(0, root.size() - 1) + "\\", table, [](int64_t, int64_t, int) { return true; });
  return seconds_since(start);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void measure(const std::string& work, int files, int folders, int rounds, EntryTable& table) {
  std::string archive = work + "bench.vnr", floor_root = work + "floor/", mirror_root = work + "mirror/";
  bench::write_archive(archive, files, folders);
  std::vector<double> floor, tree;
  for (int r = 0; r < rounds; ++r) {
    // Turns alternate which side goes first, so a change in the machine's load hits both.
    for (int side : r % 2 ? std::vector<int>{1, 0} : std::vector<int>{0, 1}) {
      if (side == 0) floor.push_back(plain_loop(floor_root, files, folders));
      if (side == 1) tree.push_back(walk_and_tree(archive, mirror_root, table));
      std::filesystem::remove_all(side == 0 ? floor_root : mirror_root);
    }
  }
  double t = median(tree), f = median(floor);
  std::printf("%-9d %8d %10.2f %10.2f %7.2fx\n", files, folders, t, f, t / f);
  std::filesystem::remove(archive);
}

}  // namespace

int main(int argc, char** argv) {
  std::string work = std::filesystem::temp_directory_path().string() + "/vantor_open_bench/";
  std::filesystem::remove_all(work);
  std::filesystem::create_directories(work);
  int rounds = std::getenv("ROUNDS") ? std::max(1, std::atoi(std::getenv("ROUNDS"))) : 3;
  static EntryTable table;
  allocate_entry_table(table);
  std::printf("open archive natively (seconds, medians of %d, taking turns)\n", rounds);
  std::printf("%-9s %8s %10s %10s %8s\n", "members", "folders", "walk+tree", "files only", "ratio");
  if (argc > 1) {
    measure(work, std::atoi(argv[1]), argc > 2 ? std::atoi(argv[2]) : 1000, rounds, table);
  } else {
    measure(work, 10000, 100, rounds, table);
    measure(work, 100000, 1000, rounds, table);
  }
  std::filesystem::remove_all(work);
  return 0;
}

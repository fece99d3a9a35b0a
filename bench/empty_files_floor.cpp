// Opening a large archive natively against its floor: the walk and mirror tree (open_archive)
// against the same empty files created by a plain loop, the two taking turns, medians of three.
// Every turn writes a tree of its own and all are removed after the last turn: a file system
// that skips inodes freed a moment ago (ext4 does, for a minute) would otherwise slow whichever
// side comes after a removal. Dated members (as real archives have
// them) get their times in the plain loop too.
#include <fcntl.h>
#include <sys/resource.h>
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

// Wall time, and the processor time of this process (user and system) over the same span: on a
// busy machine the second is the steadier of the two.
struct Span {
  Clock::time_point wall = Clock::now();
  double cpu = cpu_seconds();
  static double cpu_seconds() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
  }
};
struct Seconds {
  double wall, cpu;
};
Seconds seconds_since(const Span& start) {
  return {std::chrono::duration<double>(Clock::now() - start.wall).count(), Span::cpu_seconds() - start.cpu};
}

Seconds plain_loop(const std::string& root, int files, int folders, bool dated) {
  Span start;
  mkdir(root.c_str(), 0755);
  for (int f = 0; f < folders; ++f) mkdir((root + bench::folder_of(f, folders)).c_str(), 0755);
  for (int i = 0; i < files; ++i) {
    std::string path = root + bench::folder_of(i, folders) + "/" + bench::name_of(i);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) continue;
    if (dated) {
      int64_t ns = bench::time_of(i);
      const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(ns / 1000000000), 0}};
      futimens(fd, times);
    }
    close(fd);
  }
  return seconds_since(start);
}

// The mirror root is named as the program names it, with "\" before the members' paths.
Seconds walk_and_tree(const std::string& archive, const std::string& root, EntryTable& table) {
  Span start;
  open_archive(archive, root.substr(0, root.size() - 1) + "\\", table, [](int64_t, int64_t, int) { return true; });
  return seconds_since(start);
}

double median(const std::vector<Seconds>& spans, double Seconds::*part) {
  std::vector<double> v;
  for (const Seconds& s : spans) v.push_back(s.*part);
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void measure(const std::string& work, int files, int folders, bool dated, int rounds, EntryTable& table) {
  std::string archive = work + "bench.vnr";
  bench::write_archive(archive, files, folders, dated);
  std::vector<Seconds> floor, tree;
  sync();
  for (int r = 0; r < rounds; ++r) {
    // Turns alternate which side goes first, so a change in the machine's load hits both.
    for (int side : r % 2 ? std::vector<int>{1, 0} : std::vector<int>{0, 1}) {
      std::string root = work + (side == 0 ? "floor" : "mirror") + std::to_string(r) + "/";
      if (side == 0) floor.push_back(plain_loop(root, files, folders, dated));
      if (side == 1) tree.push_back(walk_and_tree(archive, root, table));
    }
  }
  for (int r = 0; r < rounds; ++r) {
    std::filesystem::remove_all(work + "floor" + std::to_string(r));
    std::filesystem::remove_all(work + "mirror" + std::to_string(r));
  }
  double t = median(tree, &Seconds::wall), f = median(floor, &Seconds::wall);
  double tc = median(tree, &Seconds::cpu), fc = median(floor, &Seconds::cpu);
  std::printf("%-9d %8d %-6s %10.2f %10.2f %7.2fx %10.2f %10.2f %7.2fx\n", files, folders, dated ? "yes" : "no", t, f,
              t / f, tc, fc, tc / fc);
  std::filesystem::remove(archive);
}

}  // namespace

int main(int argc, char** argv) {
  // VANTOR_BENCH_DIR puts the trees elsewhere, e.g. on a memory file system (bench/run.sh).
  const char* dir = std::getenv("VANTOR_BENCH_DIR");
  std::string work = (dir && *dir ? std::string(dir) : std::filesystem::temp_directory_path().string()) + "/vantor_open_bench/";
  std::filesystem::remove_all(work);
  std::filesystem::create_directories(work);
  int rounds = std::getenv("ROUNDS") ? std::max(1, std::atoi(std::getenv("ROUNDS"))) : 3;
  static EntryTable table;
  allocate_entry_table(table);
  std::printf("open archive natively (seconds, medians of %d, taking turns)\n", rounds);
  std::printf("%-9s %8s %-6s %10s %10s %8s %10s %10s %8s\n", "members", "folders", "dated", "walk+tree", "files only",
              "ratio", "cpu: tree", "cpu: files", "ratio");
  if (argc > 1) {
    measure(work, std::atoi(argv[1]), argc > 2 ? std::atoi(argv[2]) : 1000, argc > 3 && std::string(argv[3]) == "dated",
            rounds, table);
  } else {
    for (bool dated : {false, true}) {
      measure(work, 10000, 100, dated, rounds, table);
      measure(work, 100000, 1000, dated, rounds, table);
    }
  }
  std::filesystem::remove_all(work);
  return 0;
}

// Finding files by name over a large tree: the search core the Find window runs (worker thread,
// batches handed over, the window's side polling every millisecond), timed to its first result and
// to its end, beside a plain recursive listing of the same tree through the runtime's folder
// enumeration. Builds natively and for Windows; under Wine it also searches the mirror tree of an
// opened archive. Prints figures only.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "operations/find_search.h"
#include "runtime/folders.h"
#ifdef _WIN32
#include <windows.h>

#include "archive/open_archive.h"
#include "foreign_index.h"
#endif

namespace {

#ifdef _WIN32
const char SEP = '\\';
#else
const char SEP = '/';
#endif

using Clock = std::chrono::steady_clock;
double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

std::string temp_root() {
#ifdef _WIN32
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  return temp;
#else
  const char* t = std::getenv("TMPDIR");
  return std::string(t && *t ? t : "/tmp") + "/";
#endif
}

void make_tree(const std::string& root, int files, int folders) {
  create_one_folder(root);
  for (int f = 0; f < folders; ++f) create_one_folder(root + "folder" + std::to_string(f));
  for (int i = 0; i < files; ++i) {
    std::string path = root + "folder" + std::to_string(i % folders) + SEP + "member" + std::to_string(i) + ".dat";
    if (FILE* f = std::fopen(path.c_str(), "wb")) std::fclose(f);
  }
}

// The plain listing: every entry of every folder, folders entered, nothing else.
int64_t list_tree(const std::string& folder) {
  int64_t n = 0;
  std::vector<std::string> below;
  enumerate_folder(folder, "*", [&](const FolderEntry& e) {
    if (e.name == "." || e.name == "..") return;
    ++n;
    if (e.is_folder && !e.is_link) below.push_back(folder + e.name + SEP);
  });
  for (const std::string& b : below) n += list_tree(b);
  return n;
}

void measure(const char* what, const std::string& root, const char* pattern) {
  auto t0 = Clock::now();
  int64_t entries = list_tree(root);
  double listing = since(t0);

  FindSearch search;
  std::vector<FindHit> hits;
  FindCounts counts;
  double first = -1;
  auto t1 = Clock::now();
  search.start(root, pattern);
  while (search.take(hits, counts)) {
    if (first < 0 && !hits.empty()) first = since(t1);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  search.take(hits, counts);
  double total = since(t1);
  if (first < 0 && !hits.empty()) first = total;
  std::printf("%-8s %-14s %9lld %8lld %9lld %10.3f %10.3f %10.3f %7.2fx\n", what, pattern, static_cast<long long>(entries),
              static_cast<long long>(counts.folders), static_cast<long long>(counts.found), first, total, listing,
              listing > 0 ? total / listing : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  int files = argc > 1 ? std::atoi(argv[1]) : 100000, folders = argc > 2 ? std::atoi(argv[2]) : 1000;
  std::string work = temp_root() + "vantor_find_bench" + SEP;
  delete_folder_tree(work);
  create_one_folder(work);
  std::string disk = work + "disk" + SEP;
  make_tree(disk, files, folders);
  std::printf("find over %d files in %d folders (seconds; goals: first result 0.2, end within 1.5x the listing)\n",
              files, folders);
  std::printf("%-8s %-14s %9s %8s %9s %10s %10s %10s %8s\n", "tree", "pattern", "entries", "folders", "found",
              "first", "end", "listing", "end/list");
  list_tree(disk);  // both sides start from a warm cache
  // A name near the end of the walk, a tenth of the names, and every name.
  std::string last = "member" + std::to_string(files - 1) + ".dat";
  for (const char* pattern : {last.c_str(), "*7.dat", "*"}) measure("disk", disk, pattern);
#ifdef _WIN32
  std::string archive = work + "find.vnr", mirror = work + "mirror\\";
  bench::write_archive(archive, files, folders);
  create_one_folder(mirror);
  EntryTable table;
  allocate_entry_table(table);
  auto t = Clock::now();
  ArchiveSession session = open_archive(archive, mirror, table, [](int64_t, int64_t, int) { return true; });
  std::printf("archive of %d members opened in %.2f s (%s)\n", session.entries, since(t),
              session.opened ? "mirror tree made" : session.problem.c_str());
  list_tree(mirror);
  for (const char* pattern : {last.c_str(), "*7.dat", "*"}) measure("archive", mirror, pattern);
#endif
  delete_folder_tree(work);
  return 0;
}

// Finding files by name: the pattern's wildcards and letter case in any script, and the walk
// below a folder (links listed but not entered, batches, folder counts, cancelling).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "operations/find_search.h"
#include "runtime/folders.h"

namespace {

bool match(const std::string& pattern, const std::string& name) { return NamePattern(pattern).matches(name); }

TEST(FindPattern, StarsAndQuestionMarks) {
  EXPECT_TRUE(match("*.txt", ".txt"));
  EXPECT_FALSE(match("*.txt", "notes.txt.bak"));
  EXPECT_TRUE(match("n?tes.*", "notes.txt"));
  EXPECT_FALSE(match("n?tes.*", "ntes.txt"));  // "?" takes exactly one
  EXPECT_TRUE(match("*a*b*c", "xxaxxbxxbxc"));   // a failed try goes back to the last star
  EXPECT_FALSE(match("*a*b*c", "xxaxxbxxbx"));
  EXPECT_TRUE(match("**", ""));
  EXPECT_TRUE(match("", "anything"));
  EXPECT_FALSE(match("notes", "notes.txt"));  // the whole name, not a part of it
  EXPECT_TRUE(match("?", "\xf0\x9f\x98\x80"));  // one character outside the BMP
}

TEST(FindPattern, WildcardsAmongOtherScripts) {
  const std::string name = "\xcf\x86\xcf\x89\xcf\x84\xce\xbf-\xe6\x97\xa5\xe6\x9c\xac.bin";  // φωτο-日本.bin
  EXPECT_TRUE(match("*\xe6\x97\xa5?.bin", name));                                     // *日?.bin
  EXPECT_TRUE(match("\xcf\x86??\xce\xbf-*", name));                                   // φ??ο-*
  EXPECT_FALSE(match("\xcf\x86?\xce\xbf-*", name));                                   // one "?" short
  EXPECT_TRUE(match("\xe6\x97\xa5\xe6\x9c\xac*", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e"));  // 日本* ~ 日本語
  EXPECT_FALSE(match("\xe6\x97\xa5\xe6\x9c\xac?", "\xe6\x97\xa5\xe6\x9c\xac"));
}

TEST(FindPattern, LetterCaseBeyondAscii) {
  EXPECT_TRUE(match("\xc3\x84RGER.TXT", "\xc3\xa4rger.txt"));                       // ÄRGER.TXT ~ ärger.txt
  EXPECT_TRUE(match("\xc3\xa4*.txt", "\xc3\x84RGER.TXT"));
  EXPECT_TRUE(match("\xce\xa6\xce\xa9\xce\xa4\xce\x9f.*", "\xcf\x86\xcf\x89\xcf\x84\xce\xbf.png"));  // ΦΩΤΟ ~ φωτο
  EXPECT_TRUE(match("\xd0\xbe\xd1\x82\xd1\x87\xd1\x91\xd1\x82*",
                    "\xd0\x9e\xd0\xa2\xd0\xa7\xd0\x81\xd0\xa2 2024.doc"));             // отчёт* ~ ОТЧЁТ 2024
  EXPECT_FALSE(match("\xc3\xa4rger.txt", "arger.txt"));                               // no accent folding
}

// A scratch folder tree, removed afterwards.
class FindWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vantor_find_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = std::string(pattern) + "/";
  }
  void TearDown() override { delete_folder_tree(root_); }
  void folder(const std::string& path) { ASSERT_EQ(mkdir((root_ + path).c_str(), 0755), 0) << path; }
  void file(const std::string& path) {
    FILE* f = std::fopen((root_ + path).c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fclose(f);
  }
  // The paths found below the root, sorted, and the counts of the last hand-over.
  std::vector<std::string> walk(const std::string& pattern, FindCounts* counts = nullptr, bool* ended = nullptr) {
    std::vector<std::string> found;
    std::atomic<bool> cancel{false};
    bool done = find_walk(root_, NamePattern(pattern), cancel, [&](std::vector<FindHit>& batch, const FindCounts& c) {
      for (const FindHit& h : batch) found.push_back(h.folder + h.name);
      if (counts) *counts = c;
    });
    if (ended) *ended = done;
    std::sort(found.begin(), found.end());
    return found;
  }
  std::string root_;
};

TEST_F(FindWalk, FindsNamesInEveryFolderBelowWithSizesAndCounts) {
  folder("docs");
  folder("docs/old");
  folder("empty");
  file("a.txt");
  file("docs/B.TXT");
  file("docs/old/c.txt");
  file("docs/old/c.bin");
  FindCounts counts;
  bool ended = false;
  EXPECT_EQ(walk("*.txt", &counts, &ended), (std::vector<std::string>{"a.txt", "docs/B.TXT", "docs/old/c.txt"}));
  EXPECT_TRUE(ended);
  EXPECT_EQ(counts.folders, 4);  // the root, docs, docs/old, empty
  EXPECT_EQ(counts.found, 3);
  EXPECT_EQ(walk("old"), std::vector<std::string>{"docs/old"});  // folders are found by name too
}

TEST_F(FindWalk, LinksAreListedButNeverEntered) {
  folder("tree");
  folder("tree/sub");
  file("tree/sub/own.txt");
  folder("outside");
  file("outside/keep.txt");
  ASSERT_EQ(symlink((root_ + "tree").c_str(), (root_ + "tree/sub/loop").c_str()), 0);  // a loop back up
  ASSERT_EQ(symlink((root_ + "outside").c_str(), (root_ + "tree/escape").c_str()), 0);
  std::string keep_root = root_;
  root_ += "tree/";
  FindCounts counts;
  EXPECT_EQ(walk("*", &counts), (std::vector<std::string>{"escape", "sub", "sub/loop", "sub/own.txt"}));
  EXPECT_EQ(counts.folders, 2);
  root_ = keep_root;
}

TEST_F(FindWalk, HandsTheFirstHitAtOnceThenBatchesAndCountsEveryFolder) {
  // A made-up tree of 30 folders of 20 files each, through an enumerator of our own.
  auto enumerate = [](const std::string& folder, const DetailVisitor& visit) {
    bool top = folder == "R/";
    for (int i = 0; i < (top ? 30 : 20); ++i) {
      FolderDetail e;
      e.name = top ? "f" + std::to_string(i) : "x" + std::to_string(i) + ".txt";
      e.is_folder = top;
      if (!visit(e)) return true;
    }
    return true;
  };
  std::vector<size_t> sizes;
  std::vector<int64_t> folders_seen;
  std::atomic<bool> cancel{false};
  FindLimits limits;
  limits.batch_hits = 100;
  limits.batch_interval_ms = 60000;
  EXPECT_TRUE(find_walk("R/", NamePattern("*.txt"), cancel,
                        [&](std::vector<FindHit>& batch, const FindCounts& c) {
                          sizes.push_back(batch.size());
                          folders_seen.push_back(c.folders);
                        },
                        enumerate, limits));
  ASSERT_GE(sizes.size(), 3u);
  EXPECT_EQ(sizes.front(), 1u);
  for (size_t i = 1; i + 1 < sizes.size(); ++i) EXPECT_EQ(sizes[i], 100u);
  size_t total = 0;
  for (size_t n : sizes) total += n;
  EXPECT_EQ(total, 600u);
  EXPECT_EQ(folders_seen.back(), 31);

  limits.most_hits = 50;  // a search that would run past the limit ends there
  total = 0;
  find_walk("R/", NamePattern("*"), cancel, [&](std::vector<FindHit>& b, const FindCounts&) { total += b.size(); },
            enumerate, limits);
  EXPECT_EQ(total, 50u);
}

TEST_F(FindWalk, AWalkEndsBeforeAMatchPastTheLimitAndSaysSo) {
  folder("a");
  folder("b");
  for (const char* name : {"a/1.txt", "a/2.txt", "b/3.txt", "b/4.txt"}) file(name);
  std::atomic<bool> cancel{false};
  auto walk_with_limit = [&](int64_t most, size_t* found) {
    FindLimits limits;
    limits.most_hits = most;
    FindCounts last;
    *found = 0;
    find_walk(root_, NamePattern("*.txt"), cancel,
              [&](std::vector<FindHit>& b, const FindCounts& c) { *found += b.size(), last = c; },
              enumerate_folder_details, limits);
    return last;
  };
  size_t found = 0;
  FindCounts c = walk_with_limit(3, &found);
  EXPECT_EQ(found, 3u);
  EXPECT_TRUE(c.limited);
  std::string status = find_status_text(c, false, false);
  EXPECT_EQ(status.rfind("Stopped at the limit: ", 0), 0u) << status;
  c = walk_with_limit(4, &found);  // exactly as many as there are: nothing was left out
  EXPECT_EQ(found, 4u);
  EXPECT_FALSE(c.limited);
  EXPECT_EQ(find_status_text(c, false, false), "Done: 3 folders looked at, 4 found");
}

TEST(FindFolderText, AFolderInsideAnArchiveIsNamedByTheArchive) {
  EXPECT_EQ(find_folder_text("C:\\t\\tempvantor\\docs\\", "C:\\a.vnr", "C:\\t\\tempvantor\\"), "C:\\a.vnr\\docs\\");
  EXPECT_EQ(find_folder_text("C:\\data\\", "C:\\a.vnr", "C:\\t\\tempvantor\\"), "C:\\data\\");
}

TEST(FindSort, FoldersHaveNoSizeAndRowsWithoutADateComeFirst) {
  FindRowKey folder{path_sort_key("docs"), true, 0, 300}, big{path_sort_key("B.txt"), false, 9000, 100},
      small{path_sort_key("a.txt"), false, 10, 0};
  EXPECT_TRUE(find_row_before(small, big, FIND_COLUMN_PATH, 1));  // letter case ignored
  EXPECT_TRUE(find_row_before(big, folder, FIND_COLUMN_SIZE, 1));
  EXPECT_TRUE(find_row_before(folder, big, FIND_COLUMN_SIZE, -1));
  EXPECT_TRUE(find_row_before(small, big, FIND_COLUMN_DATE, 1));
  EXPECT_FALSE(find_row_before(big, big, FIND_COLUMN_SIZE, 1));
}

// An endless tree: every folder holds one more. Only cancelling ends a walk of it.
bool endless(const std::string&, const DetailVisitor& visit) {
  FolderDetail e;
  e.name = "deeper";
  e.is_folder = true;
  visit(e);
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return true;
}

TEST(FindSearchWorker, StopCancelsAndJoinsPromptlyAndANewSearchReplacesTheOld) {
  FindSearch search;
  search.start("R/", "deeper", endless);
  std::vector<FindHit> hits;
  FindCounts counts;
  for (int i = 0; i < 200 && hits.empty(); ++i) {
    search.take(hits, counts);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_FALSE(hits.empty());  // results arrive while the walk goes on
  EXPECT_EQ(hits[0].folder, "");
  auto before = std::chrono::steady_clock::now();
  search.stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
  EXPECT_FALSE(search.take(hits, counts));

  // A second start while the first runs: the old walk's hits are gone, the new one's arrive.
  search.start("R/", "deeper", endless);
  search.start("S/", "*", [](const std::string& folder, const DetailVisitor& visit) {
    FolderDetail e;
    e.name = "only.txt";
    return folder == "S/" ? visit(e) || true : true;
  });
  std::vector<FindHit> second;
  for (int i = 0; i < 200 && search.take(second, counts); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  search.take(second, counts);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(second[0].name, "only.txt");
  EXPECT_EQ(counts.folders, 1);
}

}  // namespace

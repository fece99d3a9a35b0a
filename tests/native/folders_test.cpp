// Removing the temporary folders: everything inside goes, but links are removed as links and
// whatever they point at is left alone.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/folders.h"

namespace {

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

void touch(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  std::fputs("data", f);
  std::fclose(f);
}

}  // namespace

TEST(DeleteFolderTree, RemovesLinksButNeverWhatTheyPointAt) {
  char pattern[] = "/tmp/vantor_folders_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string base = pattern;
  std::string outside = base + "/outside", tree = base + "/tempvantor";
  ASSERT_EQ(mkdir(outside.c_str(), 0755), 0);
  touch(outside + "/keep.txt");
  ASSERT_EQ(mkdir(tree.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((tree + "/docs").c_str(), 0755), 0);
  touch(tree + "/docs/a.txt");
  ASSERT_EQ(symlink(outside.c_str(), (tree + "/docs/escape").c_str()), 0);
  ASSERT_EQ(symlink((outside + "/keep.txt").c_str(), (tree + "/file_link").c_str()), 0);

  delete_folder_tree(tree + "/");
  EXPECT_FALSE(exists(tree));
  EXPECT_TRUE(exists(outside + "/keep.txt"));

  delete_folder_tree(base + "/missing/");  // nothing there: nothing happens
  delete_folder_tree(outside + "/");
  rmdir(base.c_str());
}

TEST(CreateOneFolder, StripsTrailingSeparatorsAndBlanksAndReportsCreation) {
  char pattern[] = "/tmp/vantor_mkdir_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string base = pattern;
  EXPECT_TRUE(create_one_folder(base + "/made/ "));
  EXPECT_TRUE(exists(base + "/made"));
  EXPECT_FALSE(create_one_folder(base + "/made"));  // already there
  EXPECT_FALSE(create_one_folder(""));
  delete_folder_tree(base + "/");
  EXPECT_FALSE(exists(base));
}

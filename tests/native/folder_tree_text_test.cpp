// The folder tree's text rules: what a set text asks for, the folder names on the way, the order.
#include "explorer/folder_tree_text.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

TEST(FolderTreeTarget, EmptyOrLoneBackslashRebuildsWithNothingSelected) {
  for (const char* text : {"", "\\"}) {
    TreeTextTarget t = folder_tree_target(text);
    EXPECT_TRUE(t.rebuild) << text;
    EXPECT_FALSE(t.location_from_selection) << text;
    EXPECT_EQ(t.location, "") << text;
    EXPECT_FALSE(t.new_pattern) << text;
  }
}

TEST(FolderTreeTarget, APatternAloneRebuildsAroundTheSelection) {
  TreeTextTarget t = folder_tree_target("*.txt;*.log");
  EXPECT_TRUE(t.rebuild);
  EXPECT_TRUE(t.location_from_selection);
  EXPECT_TRUE(t.new_pattern);
  EXPECT_EQ(t.pattern, "*.txt;*.log");
}

TEST(FolderTreeTarget, AFolderIsWalkedToWithoutRebuilding) {
  TreeTextTarget t = folder_tree_target("c:\\temp\\");
  EXPECT_FALSE(t.rebuild);
  EXPECT_EQ(t.location, "C:\\temp\\");
  EXPECT_FALSE(t.new_pattern);
}

TEST(FolderTreeTarget, AFolderWithAPatternSetsBoth) {
  TreeTextTarget t = folder_tree_target("d:\\a\\b\\*.vnr");
  EXPECT_FALSE(t.rebuild);
  EXPECT_EQ(t.location, "D:\\a\\b\\");
  EXPECT_TRUE(t.new_pattern);
  EXPECT_EQ(t.pattern, "*.vnr");
}

TEST(FolderTreeLocation, NamesAfterTheDriveRoot) {
  EXPECT_EQ(location_folder_names("C:\\"), std::vector<std::string>{});
  EXPECT_EQ(location_folder_names("C:\\a\\Bb\\"), (std::vector<std::string>{"a", "Bb"}));
  EXPECT_EQ(location_folder_names("C:\\a\\\\b\\f.txt"), (std::vector<std::string>{"a", "b", "f.txt"}));
  EXPECT_EQ(location_drive("C:\\a\\"), 2);
  EXPECT_EQ(location_drive("Z:\\"), 25);
  for (const char* odd : {"", "c:\\", "\\\\server\\share\\", "1:\\", "C"}) EXPECT_EQ(location_drive(odd), -1) << odd;
}

TEST(FolderTreeOrder, FoldersFirstThenNamesRegardlessOfCase) {
  struct Child {
    int kind;
    std::string name;
  };
  std::vector<Child> children = {{NODE_FILE, "b.txt"}, {NODE_FOLDER, "Zeta"}, {NODE_FILE, "A.txt"},
                                 {NODE_FOLDER, "alpha"}, {NODE_FILE, "c.TXT"}};
  std::sort(children.begin(), children.end(), [](const Child& x, const Child& y) {
    return tree_child_before(x.kind, x.name, y.kind, y.name);
  });
  std::vector<std::string> names;
  for (const Child& c : children) names.push_back(c.name);
  EXPECT_EQ(names, (std::vector<std::string>{"alpha", "Zeta", "A.txt", "b.txt", "c.TXT"}));
  EXPECT_FALSE(tree_child_before(NODE_FILE, "x", NODE_FILE, "X"));
  EXPECT_FALSE(tree_child_before(NODE_FILE, "X", NODE_FILE, "x"));
}

}  // namespace

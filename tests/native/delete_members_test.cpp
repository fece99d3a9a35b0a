// What the Delete command tells the user and hands the archiver.
#include <gtest/gtest.h>

#include "operations/delete_members.h"

TEST(DeleteMembers, QuestionAndMemberPaths) {
  EXPECT_EQ(delete_question_text("C:\\a.vnr", 1, 0), "Remove 1 member from C:\\a.vnr? This cannot be undone.");
  EXPECT_EQ(delete_question_text("C:\\a.vnr", 12, 2),
            "Remove 12 members and 2 folders from C:\\a.vnr (a folder goes with everything below it)? "
            "This cannot be undone.");
  SelectionTable t;
  t.selection_list = {"", "C:\\T\\tempvantor\\docs\\a.txt", "C:\\T\\tempvantor\\b.txt", "C:\\T\\other\\c.txt",
                      "C:\\T\\tempvantor\\", "C:\\T\\tempvantor\\\xce\xb1\\\xe6\x97\xa5.txt"};
  t.selection_count = 5;
  EXPECT_EQ(member_paths(t, "C:\\T\\tempvantor\\"),
            (std::vector<std::string>{"docs\\a.txt", "b.txt", "\xce\xb1\\\xe6\x97\xa5.txt"}));
}

// The member launch, the extraction window's folder tree, the notes the loops raise and the
// creation of destination folders, driven through the real windows with the real vantor.exe.
#include <gtest/gtest.h>

#include "operations_fixture.h"

namespace {

using namespace operations_fixture;

TEST_F(Operations, DoubleClickedMembersLandInTheLaunchFolder) {
  std::string program = read_file(shell.operation.program_folder + "vantor.exe");
  write_file(work_ + "data\\run.exe", program);
  choose({"docs\\a.txt", "b.txt", "run.exe"});
  std::string archive = work_ + "out.vnr";
  compress_into(archive);
  // Downloaded: what is opened from it carries its Mark of the Web (under Wine a file of that name).
  write_file(archive + ":Zone.Identifier", "[ZoneTransfer]\r\nZoneId=3\r\n");
  bool text_member = false, whole_archive = false;
  run_script({[] {
                if (!archive_on_view()) return retry_step();
                select_rows({"b.txt"});
              },
              [] { queue_event(EVENT_GADGET, FILE_LIST, 0, EVENT_TYPE_LEFT_DOUBLE_CLICK); },
              // The text is there once its run has written it; docs, before it in the archive,
              // would be there by then had the whole archive been extracted.
              when([] { return exists(shell.operation.launch_root + "b.txt"); },
                   [&] {
                     const std::string& launch = shell.operation.launch_root;
                     text_member = exists(launch + "b.txt") && !exists(launch + "docs");
                     // Whatever the shell opened the text with is closed again.
                     if (HWND viewer = FindWindowA("Notepad", nullptr)) PostMessageA(viewer, WM_CLOSE, 0, 0);
                     select_rows({"run.exe"});
                   }),
              [] { queue_event(EVENT_GADGET, FILE_LIST, 0, EVENT_TYPE_LEFT_DOUBLE_CLICK); },
              when([] {
                     const std::string& launch = shell.operation.launch_root;
                     return exists(launch + "run.exe") && exists(launch + "docs\\a.txt");
                   },
                   [&] {
                     const std::string& launch = shell.operation.launch_root;
                     whole_archive = exists(launch + "run.exe") && exists(launch + "docs\\a.txt");
                     queue_event(EVENT_MENU, MENU_EXIT, 0, EVENT_TYPE_NONE);
                   })},
             [&] {
               shell.operation.archive_path = archive;
               browse_archive(archive);
             });
  EXPECT_TRUE(text_member);
  EXPECT_TRUE(whole_archive);
  EXPECT_EQ(shell.operation.launch_target, shell.operation.launch_root + "run.exe");
  EXPECT_EQ(read_file(shell.operation.launch_root + "b.txt:Zone.Identifier"), "[ZoneTransfer]\r\nZoneId=3\r\n");
}

// Another member that cannot be written beside a program (still held open by an earlier launch)
// is named in a note; the program itself was extracted and checked, and is started. (The name is
// its own: a program started by another test may still hold its file.)
TEST_F(Operations, AProgramIsLaunchedWhenAMemberBesideItFails) {
  write_file(work_ + "data\\starter.exe", read_file(shell.operation.program_folder + "vantor.exe"));
  choose({"b.txt", "starter.exe"});
  std::string archive = work_ + "out.vnr";
  compress_into(archive);
  HANDLE held = INVALID_HANDLE_VALUE;
  std::string box;
  run_script({[&] {
                if (!archive_on_view()) return retry_step();
                CreateDirectoryA(shell.operation.launch_root.c_str(), nullptr);
                write_file(shell.operation.launch_root + "b.txt", "held");
                held = CreateFileA((shell.operation.launch_root + "b.txt").c_str(), GENERIC_READ, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
                select_rows({"starter.exe"});
              },
              [] { queue_event(EVENT_GADGET, FILE_LIST, 0, EVENT_TYPE_LEFT_DOUBLE_CLICK); },
              answer_box("Note:", &box), exit_menu},
             [&] {
               shell.operation.archive_path = archive;
               browse_archive(archive);
             });
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  CloseHandle(held);
  EXPECT_EQ(box.rfind(shell.operation.launch_root + "starter.exe is started, but", 0), 0u) << box;
  EXPECT_NE(box.find("b.txt"), std::string::npos) << box;
  EXPECT_EQ(read_file(shell.operation.launch_root + "starter.exe"), read_file(work_ + "data\\starter.exe"));
}

TEST_F(Operations, TreeClicksFillTheFieldAndTypingOverridesThem) {
  std::string first_field, after_click, typed;
  std::string folder = work_ + "data\\";
  run_script({[&] {
               first_field = gadget_get_text(10);
               gadget_set_text(25, folder);  // the tree walks to the folder and selects it
               queue_event(EVENT_GADGET, 25, 2, EVENT_TYPE_LEFT_CLICK);
             },
              [&] {
                after_click = gadget_get_text(10);
                gadget_set_text(10, "C:\\typed\\");
                queue_event(EVENT_GADGET, 10, 2, EVENT_TYPE_CHANGE);
              },
              [&] {
                typed = shell.operation.destination_folder;
                PostMessageA(window_handle(2), WM_SYSCOMMAND, SC_CLOSE, 0);
              }},
             [&] { extraction_window(work_ + "none.vnr", operation_context()); });
  EXPECT_EQ(first_field, shell.operation.program_folder);
  EXPECT_EQ(to_upper(after_click), to_upper(folder));
  EXPECT_EQ(typed, "C:\\typed\\");
  EXPECT_EQ(window_handle(2), nullptr);
  EXPECT_TRUE(IsWindowEnabled(window_handle(0)));
  EXPECT_EQ(shell.selection.selection_count, 0);
}

// A message box as the user sees it: its title, its text and which system icon it shows.
struct Box {
  std::string title, text, icon;
  bool operator==(const Box& o) const { return title == o.title && text == o.text && icon == o.icon; }
};

std::ostream& operator<<(std::ostream& out, const Box& b) {
  return out << "[" << b.title << "] \"" << b.text << "\" icon " << b.icon;
}

std::string icon_of(HWND box) {
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    char kind[16] = {};
    GetClassNameA(child, kind, sizeof kind);
    if (lstrcmpiA(kind, "Static") != 0 || (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) continue;
    HICON shown = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
    if (!shown || !IsWindowVisible(child)) return "none";
    if (shown == LoadIconA(nullptr, IDI_WARNING)) return "warning";
    if (shown == LoadIconA(nullptr, IDI_INFORMATION)) return "information";
    return "another";
  }
  return "none";
}

// A step that waits for a message box, reads it and presses OK.
std::function<void()> read_box(Box* seen) {
  return [seen] {
    HWND box = FindWindowA("#32770", nullptr);
    char text[1024] = {}, title[256] = {};
    if (!box || GetDlgItemTextA(box, 0xFFFF, text, sizeof text) == 0) return retry_step();
    GetWindowTextA(box, title, sizeof title);
    *seen = {title, text, icon_of(box)};
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  };
}

// What the loops say when the user asks for what cannot be done, and the About box: raised by
// the user's own events, read off the boxes.
TEST_F(Operations, EveryNoteComesFromItsEventWithItsTextAndIcon) {
  std::vector<Box> disk(4), inside(2);
  run_script({[] {
                select_rows({});
                queue_event(EVENT_MENU, MENU_ADD, 0, EVENT_TYPE_NONE);
              },
              read_box(&disk[0]), [] { press(ADD_BUTTON, 0); }, read_box(&disk[1]),
              [] { press(EXTRACT_BUTTON, 0); }, read_box(&disk[2]), [] { press(INFO_BUTTON, 0); },
              read_box(&disk[3]), exit_menu},
             [] { run_disk_loop(); });
  const std::string pick = "Please select one file or one folder";
  EXPECT_EQ(disk[0], (Box{"Note:", pick, "none"})) << "Add from the menu";
  EXPECT_EQ(disk[1], (Box{"Note:", pick, "warning"})) << "the Add button";
  EXPECT_EQ(disk[2], (Box{"Note:", "Please select and open existing archive ", "warning"})) << "Extract, no archive";
  EXPECT_EQ(disk[3], (Box{"INFO", "Win Vantor Version 1.1.3 - archive manager for Windows", "information"}));

  choose({"b.txt"});
  std::string archive = work_ + "notes.vnr";
  compress_into(archive);
  run_script({[] {
                if (!archive_on_view()) return retry_step();
                select_rows({});
                queue_event(EVENT_MENU, MENU_ADD, 0, EVENT_TYPE_NONE);
              },
              read_box(&inside[0]), [] { press(EXTRACT_BUTTON, 0); }, read_box(&inside[1]), exit_menu},
             [&] {
               shell.operation.archive_path = archive;
               browse_archive(archive);
             });
  EXPECT_EQ(inside[0], (Box{"Info:", "Please, add file or folder require exit from the archive", "warning"}));
  EXPECT_EQ(inside[1], (Box{"Note:", "Please select file or folder ", "warning"})) << "Extract, nothing chosen";
}

TEST_F(Operations, DestinationFoldersAreCreatedOnePrefixAtATime) {
  std::string deep = work_ + "made\\one\\two\\";
  EXPECT_EQ(create_folder_chain(deep), 1);
  EXPECT_TRUE(exists(deep));
  EXPECT_EQ(create_folder_chain(deep), 0);  // already there
  // A path from the root of the current drive, where it would be made: the tests run on one other than C:.
  char root_folder[MAX_PATH];
  ASSERT_NE(GetFullPathNameA("\\vantor_not_made", MAX_PATH, root_folder, nullptr), 0u);
  EXPECT_EQ(create_folder_chain("\\vantor_not_made\\x\\"), 0);
  EXPECT_FALSE(exists(root_folder)) << root_folder;
  EXPECT_EQ(create_folder_chain(work_ + "gap\\\\after\\"), 1);
  EXPECT_FALSE(exists(work_ + "gap\\after"));
}

}  // namespace

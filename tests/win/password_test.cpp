// Passwords in the front end, against a stand-in archiver (tests/standin) that notes what reached
// it: the hand-off through the pipe, the password window, the compression window's run, and an
// encrypted archive asked for once per opening, its runs reusing the password, a wrong one refused.
#include <gtest/gtest.h>

#include "format/archive_format.h"
#include "operations/archiver_contract.h"
#include "operations/archiver_run.h"
#include "operations/password_window.h"
#include "operations/verify.h"
#include "operations_fixture.h"

namespace {

using namespace operations_fixture;

constexpr int PASSWORD_WINDOW = 5, PASSWORD_FIELD = 61, AGAIN_FIELD = 63, SHOW_CHECK = 64, NAMES_CHECK = 65;
constexpr int PASSWORD_OK = 66, PASSWORD_CANCEL = 67;

std::string windows_path(std::string unix_path) {
  for (char& c : unix_path)
    if (c == '/') c = '\\';
  return "Z:" + unix_path;
}

bool password_window_open() { return window_handle(PASSWORD_WINDOW) != nullptr; }

// Types the password into the open password window and presses OK.
std::function<void()> give_password(const std::string& password, int* asked = nullptr) {
  return when(password_window_open, [=] {
    if (asked) ++*asked;
    gadget_set_text(PASSWORD_FIELD, password);
    press(PASSWORD_OK, PASSWORD_WINDOW);
  });
}

// Two members, docs/a.txt and b.txt, every entry flagged; or one entry standing for sealed names.
std::string protected_index(bool sealed) {
  std::vector<std::pair<std::string, std::string>> members = {{"docs/", "a.txt"}, {"", "b.txt"}};
  if (sealed) members = {{"", "encrypted archive"}};
  std::string bytes;
  for (const auto& [folder, name] : members) {
    EntryHeader h;
    h.folder = folder;
    h.name = name;
    h.flags = ENTRY_FLAG_UTF8_NAMES | ENTRY_FLAG_ENCRYPTED | (sealed ? ENTRY_FLAG_SEALED_INDEX : 0);
    h.size = h.compressed_size = 5;
    h.method = METHOD_STORE;
    h.entry_length = header_size(h) + 5;
    std::vector<uint8_t> head = encode_header(h);
    bytes += std::string(head.begin(), head.end()) + "?????";
  }
  return bytes;
}

class Passwords : public Operations {
 protected:
  void SetUp() override {
    Operations::SetUp();
    real_folder_ = shell.operation.program_folder;
    shell.operation.program_folder = work_ + "standin\\";
    CreateDirectoryA(shell.operation.program_folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(windows_path(VANTOR_PASSWORD_STANDIN).c_str(),
                          archiver_program_path(shell.operation.program_folder).c_str(), FALSE));
    log_ = work_ + "runs.log";
    SetEnvironmentVariableA("VANTOR_STANDIN_LOG", log_.c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableA("VANTOR_STANDIN_LOG", nullptr);
    shell.operation.program_folder = real_folder_;
    Operations::TearDown();
  }
  // One line per run: its command line, a tab, what came through the pipe.
  std::vector<std::string> runs() {
    std::vector<std::string> lines;
    std::string text = read_file(log_);
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
      lines.push_back(text.substr(start, end - start));
    return lines;
  }
  // Every run got the password through the pipe, -pw on its command line and not the password.
  void expect_handed_over(const std::string& password, std::vector<std::string> lines = {}) {
    if (lines.empty()) lines = runs();
    for (const std::string& run : lines) {
      std::string command = run.substr(0, run.find('\t'));
      EXPECT_NE(command.find(" -pw "), std::string::npos) << run;
      EXPECT_EQ(command.find(password), std::string::npos) << run;
      EXPECT_EQ(run.substr(run.find('\t') + 1), "password=" + password) << run;
    }
  }
  std::string write_archive(bool sealed) {
    std::string archive = work_ + (sealed ? "sealed.vnr" : "locked.vnr");
    write_file(archive, protected_index(sealed));
    return archive;
  }
  std::string real_folder_, log_;
};

TEST_F(Passwords, TheChildReadsThePasswordFromItsPipeAndSeesItNowhereElse) {
  std::string password = "s3cret \xC3\xBC\"x";  // a blank, a non-ASCII letter and a quote
  ArchiverResult with = run_archiver(shell.operation.program_folder, verify_parameters(work_ + "a.vnr"), RunView(),
                                     OutputSink(), password);
  ArchiverResult without = run_archiver(shell.operation.program_folder, verify_parameters(work_ + "a.vnr"));
  EXPECT_TRUE(with.ok() && without.ok()) << with.reason << without.reason;
  std::vector<std::string> lines = runs();
  ASSERT_EQ(lines.size(), 2u);
  expect_handed_over(password, {lines[0]});
  const std::string& plain = lines[1];
  EXPECT_EQ(plain.find(" -pw"), std::string::npos) << plain;
  EXPECT_NE(plain.find("\tno password"), std::string::npos) << plain;
  // The handle's name went into the child's copy of the environment, never into ours.
  EXPECT_EQ(GetEnvironmentVariableA("VANTOR_PASSWORD_HANDLE", nullptr, 0), 0u);
}

TEST_F(Passwords, TheWindowRefusesMismatchAndEmptyAndShowsOnlyWhenAsked) {
  NewPassword choice;
  std::string mismatch, empty;
  bool hidden_first = false, shown_after = false, taken = false;
  auto password_char = [](int field) { return SendMessageA(gadget_handle(field), EM_GETPASSWORDCHAR, 0, 0); };
  run_script({when(password_window_open,
                   [&] {
                     hidden_first = password_char(PASSWORD_FIELD) != 0 && password_char(AGAIN_FIELD) != 0;
                     gadget_set_text(PASSWORD_FIELD, "abc");
                     gadget_set_text(AGAIN_FIELD, "abd");
                     press(PASSWORD_OK, PASSWORD_WINDOW);
                   }),
              answer_box("Note:", &mismatch),
              [&] {
                gadget_set_text(PASSWORD_FIELD, "");
                gadget_set_text(AGAIN_FIELD, "");
                press(PASSWORD_OK, PASSWORD_WINDOW);
              },
              answer_box("Note:", &empty),
              [&] {
                gadget_set_state(SHOW_CHECK, 1);
                press(SHOW_CHECK, PASSWORD_WINDOW);
              },
              [&] {
                shown_after = password_char(PASSWORD_FIELD) == 0 && password_char(AGAIN_FIELD) == 0;
                gadget_set_text(PASSWORD_FIELD, "abc");
                gadget_set_text(AGAIN_FIELD, "abc");
                gadget_set_state(NAMES_CHECK, 1);
                press(PASSWORD_OK, PASSWORD_WINDOW);
              }},
             [&] { taken = ask_new_password(0, choice); });
  EXPECT_TRUE(hidden_first);
  EXPECT_NE(mismatch.find("differ"), std::string::npos) << mismatch;
  EXPECT_NE(empty.find("type the password"), std::string::npos) << empty;
  EXPECT_TRUE(shown_after);
  EXPECT_TRUE(taken);
  EXPECT_EQ(choice.password, "abc");
  EXPECT_TRUE(choice.encrypt_names);
  EXPECT_FALSE(password_window_open());

  // Cancel keeps what was chosen before.
  run_script({when(password_window_open, [] { press(PASSWORD_CANCEL, PASSWORD_WINDOW); })},
             [&] { taken = ask_new_password(0, choice); });
  EXPECT_FALSE(taken);
  EXPECT_EQ(choice.password, "abc");
}

TEST_F(Passwords, TheCompressionWindowsPasswordReachesItsRunWithNamesSealed) {
  choose({"b.txt"});
  shell.operation.archive_path = work_ + "out.vnr";
  std::string box;
  run_script({[] { press(55, 1); },
              when(password_window_open,
                   [] {
                     gadget_set_text(PASSWORD_FIELD, "pass word");
                     gadget_set_text(AGAIN_FIELD, "pass word");
                     gadget_set_state(NAMES_CHECK, 1);
                     press(PASSWORD_OK, PASSWORD_WINDOW);
                   }),
              when([] { return !password_window_open(); }, [] { press(12, 1); }), answer_box("Added", &box)},
             [] { compression_window(operation_context()); });
  ASSERT_EQ(runs().size(), 1u);
  expect_handed_over("pass word");
  EXPECT_NE(runs()[0].find(" a -pw -he -y "), std::string::npos) << runs()[0];
}

TEST_F(Passwords, AnEncryptedArchiveAsksOnceAndExtractVerifyAndLaunchReuseIt) {
  std::string archive = write_archive(false), out = work_ + "out\\", notice, verified;
  int asked = 0;
  run_script({give_password("s3cret", &asked),
              [] {
                if (!archive_on_view()) return retry_step();
                select_rows({"b.txt"});
                press(EXTRACT_BUTTON, 0);
              },
              when([] { return window_handle(2) != nullptr; },
                   [&] {
                     gadget_set_text(10, out);
                     press(10, 2);
                     press(12, 2);
                   }),
              answer_box("Notice", &notice), [] { press(VERIFY_BUTTON, 0); }, answer_box("Verify", &verified),
              [] {
                select_rows({"b.txt"});
                queue_event(EVENT_GADGET, FILE_LIST, 0, EVENT_TYPE_LEFT_DOUBLE_CLICK);
              },
              when([] { return exists(shell.operation.launch_root + "b.txt"); },
                   [] {
                     if (HWND viewer = FindWindowA("Notepad", nullptr)) PostMessageA(viewer, WM_CLOSE, 0, 0);
                     exit_menu();
                   })},
             [&] {
               shell.operation.archive_path = archive;
               browse_archive(archive);
             });
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(exists(out + "b.txt"));
  EXPECT_NE(verified.find("intact"), std::string::npos) << verified;
  std::vector<std::string> lines = runs();
  ASSERT_EQ(lines.size(), 4u);  // the password tried at opening, extract, verify, launch
  EXPECT_NE(lines[0].find(" l -pw -p "), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find(" x -pw -t1  -e "), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find(" t -pw "), std::string::npos) << lines[2];
  EXPECT_NE(lines[3].find(" x -pw -e -t1 "), std::string::npos) << lines[3];
  expect_handed_over("s3cret");
  EXPECT_TRUE(shell.operation.archive_password.empty());  // gone with the archive
}

TEST_F(Passwords, AWrongPasswordIsSaidAtOnceAndAskedAgainAndNothingOpens) {
  std::string archive = write_archive(false), said;
  bool opened = true;
  run_script({give_password("wrong"), answer_box("Note:", &said),
              when(password_window_open, [] { press(PASSWORD_CANCEL, PASSWORD_WINDOW); })},
             [&] {
               shell.operation.archive_path = archive;
               opened = browse_archive(archive);
             });
  EXPECT_FALSE(opened);
  EXPECT_EQ(said.rfind("wrong password for " + archive, 0), 0u) << said;
  EXPECT_EQ(runs().size(), 1u);
  EXPECT_FALSE(archive_on_view());
  EXPECT_FALSE(exists(shell.operation.temp_root + "b.txt"));
  EXPECT_TRUE(shell.operation.archive_password.empty());
}

TEST_F(Passwords, SealedNamesAreListedByTheArchiverAndChosenMembersGoByListFile) {
  std::string archive = write_archive(true), out = work_ + "out\\", notice;
  bool listed = false;
  run_script({give_password("s3cret"),
              [&] {
                if (!archive_on_view()) return retry_step();
                listed = row_of("b.txt") > 0 && row_of("docs") > 0 && row_of("encrypted archive") < 0;
                select_rows({"b.txt"});
                press(EXTRACT_BUTTON, 0);
              },
              when([] { return window_handle(2) != nullptr; },
                   [&] {
                     gadget_set_text(10, out);
                     press(10, 2);
                     press(12, 2);
                   }),
              answer_box("Notice", &notice), [] { exit_menu(); }},
             [&] {
               shell.operation.archive_path = archive;
               browse_archive(archive);
             });
  EXPECT_TRUE(listed);
  EXPECT_TRUE(exists(out + "b.txt"));
  std::vector<std::string> lines = runs();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(" l -pw -p "), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find(" x -pw -t1 x "), std::string::npos) << lines[1];
  expect_handed_over("s3cret");
}

TEST_F(Passwords, VerifyOnDiskAsksForEachEncryptedArchiveAndSkipsOneWithoutPassword) {
  std::string locked = write_archive(false), sealed = write_archive(true), box;
  run_script({give_password("s3cret"), when(password_window_open, [] { press(PASSWORD_CANCEL, PASSWORD_WINDOW); }),
              answer_box("Verify", &box)},
             [&] { verify_archives(shell.operation.program_folder, {locked, sealed}); });
  EXPECT_NE(box.find("locked.vnr: all 2 members intact"), std::string::npos) << box;
  EXPECT_NE(box.find("sealed.vnr: cannot be verified: no password was given"), std::string::npos) << box;
  ASSERT_EQ(runs().size(), 1u);
  expect_handed_over("s3cret");
}

}  // namespace

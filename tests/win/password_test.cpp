// Passwords in the front end against a stand-in archiver (tests/standin) that notes what reached
// it: the hand-off through the pipe, the password window, and encrypted archives asked for once
// per opening, every run reusing the password, a wrong one refused at once.
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

bool password_window_open() { return window_handle(PASSWORD_WINDOW) != nullptr; }

std::function<void()> in_password_window(std::function<void()> step) { return when(password_window_open, step); }

std::function<void()> give_password(const std::string& password) {
  return in_password_window([=] {
    gadget_set_text(PASSWORD_FIELD, password);
    press(PASSWORD_OK, PASSWORD_WINDOW);
  });
}

std::function<void()> extract_b() {
  return [] {
    if (!archive_on_view()) return retry_step();
    select_rows({"b.txt"});
    press(EXTRACT_BUTTON, 0);
  };
}

std::function<void()> press_ok_with_destination(const std::string& out) {
  return in_extraction_window([=] {
    gadget_set_text(10, out);
    press(10, 2);
    press(12, 2);
  });
}

class Passwords : public Operations {
 protected:
  void SetUp() override {
    Operations::SetUp();
    real_folder_ = shell.operation.program_folder;
    shell.operation.program_folder = work_ + "standin\\";
    CreateDirectoryA(shell.operation.program_folder.c_str(), nullptr);
    std::string standin = std::string("Z:") + VANTOR_PASSWORD_STANDIN;
    for (char& c : standin) c = c == '/' ? '\\' : c;
    ASSERT_TRUE(CopyFileA(standin.c_str(), archiver_program_path(shell.operation.program_folder).c_str(), FALSE));
    SetEnvironmentVariableA("VANTOR_STANDIN_LOG", (work_ + "runs.log").c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableA("VANTOR_STANDIN_LOG", nullptr);
    shell.operation.program_folder = real_folder_;
    Operations::TearDown();
  }
  // One line per run: its command line, a tab, what came through the pipe.
  std::vector<std::string> runs() {
    std::vector<std::string> lines;
    std::string text = read_file(work_ + "runs.log");
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
      lines.push_back(text.substr(start, end - start));
    return lines;
  }
  // Each run starts as `heads` says, with -pw, and got the password through the pipe alone.
  void expect_runs(const std::string& password, const std::vector<std::string>& heads) {
    std::vector<std::string> lines = runs();
    ASSERT_EQ(lines.size(), heads.size());
    for (size_t i = 0; i < lines.size(); ++i) {
      std::string command = lines[i].substr(0, lines[i].find('\t'));
      EXPECT_NE(command.find(heads[i]), std::string::npos) << lines[i];
      EXPECT_EQ(command.find(password), std::string::npos) << lines[i];
      EXPECT_EQ(lines[i].substr(command.size() + 1), "password=" + password) << lines[i];
    }
  }
  // Two members, docs/a.txt and b.txt, every entry flagged; or one entry standing for sealed names.
  std::string write_archive(bool sealed) {
    std::string archive = work_ + (sealed ? "sealed.vnr" : "locked.vnr"), bytes;
    for (const char* name : sealed ? std::vector<const char*>{"encrypted archive"} : std::vector<const char*>{"a.txt", "b.txt"}) {
      EntryHeader h;
      h.name = name;
      h.flags = ENTRY_FLAG_UTF8_NAMES | ENTRY_FLAG_ENCRYPTED | (sealed ? ENTRY_FLAG_SEALED_INDEX : 0);
      h.size = h.compressed_size = 5;
      h.method = METHOD_STORE;
      h.entry_length = header_size(h) + 5;
      std::vector<uint8_t> head = encode_header(h);
      bytes += std::string(head.begin(), head.end()) + "?????";
    }
    write_file(archive, bytes);
    return archive;
  }
  std::string real_folder_;
};

TEST_F(Passwords, TheChildReadsThePasswordFromItsPipeAndSeesItNowhereElse) {
  std::string password = "s3cret \xC3\xBC\"x";  // a blank, a non-ASCII letter and a quote
  EXPECT_TRUE(run_archiver(shell.operation.program_folder, verify_parameters("a.vnr"), RunView(), OutputSink(),
                           password).ok());
  expect_runs(password, {" t -pw \"a.vnr"});
  EXPECT_TRUE(run_archiver(shell.operation.program_folder, verify_parameters("a.vnr")).ok());
  EXPECT_NE(runs().back().find(" t \"a.vnr\tno password"), std::string::npos) << runs().back();
  // The handle went into the child's copy of the environment, never into ours.
  EXPECT_EQ(GetEnvironmentVariableA("VANTOR_PASSWORD_HANDLE", nullptr, 0), 0u);
}

TEST_F(Passwords, TheWindowRefusesMismatchAndEmptyAndShowsOnlyWhenAsked) {
  NewPassword choice;
  std::string mismatch, empty;
  bool hidden = false, shown = false, taken = false;
  auto stars = [](int field) { return SendMessageA(gadget_handle(field), EM_GETPASSWORDCHAR, 0, 0) != 0; };
  auto type = [](const char* first, const char* again) {
    gadget_set_text(PASSWORD_FIELD, first);
    gadget_set_text(AGAIN_FIELD, again);
    press(PASSWORD_OK, PASSWORD_WINDOW);
  };
  run_script({in_password_window([&] {
                hidden = stars(PASSWORD_FIELD) && stars(AGAIN_FIELD);
                type("abc", "abd");
              }),
              answer_box("Note:", &mismatch), [&] { type("", ""); }, answer_box("Note:", &empty),
              [] {
                gadget_set_state(SHOW_CHECK, 1);
                press(SHOW_CHECK, PASSWORD_WINDOW);
              },
              [&] {
                shown = !stars(PASSWORD_FIELD) && !stars(AGAIN_FIELD);
                gadget_set_state(NAMES_CHECK, 1);
                type("abc", "abc");
              },
              in_password_window([] { press(PASSWORD_CANCEL, PASSWORD_WINDOW); })},
             [&] { taken = ask_new_password(0, choice) && !ask_new_password(0, choice); });
  EXPECT_TRUE(hidden && shown && taken);
  EXPECT_NE(mismatch.find("differ"), std::string::npos) << mismatch;
  EXPECT_NE(empty.find("type the password"), std::string::npos) << empty;
  EXPECT_EQ(choice.password, "abc");  // and Cancel the second time kept it
  EXPECT_TRUE(choice.encrypt_names);
}

TEST_F(Passwords, AZipIsNotOfferedAPasswordAndTheWindowStaysOpen) {
  choose({"b.txt"});
  shell.operation.archive_path = work_ + "out.zip";
  std::string refused;
  run_script({[] { press(55, 1); },
              in_password_window([] {
                gadget_set_text(PASSWORD_FIELD, "pw");
                gadget_set_text(AGAIN_FIELD, "pw");
                press(PASSWORD_OK, PASSWORD_WINDOW);
              }),
              when([] { return !password_window_open(); }, [] { press(12, 1); }), answer_box("Note:", &refused),
              [] { press(13, 1); }},
             [] { compression_window(operation_context()); });
  EXPECT_NE(refused.find("cannot protect a .zip"), std::string::npos) << refused;
  EXPECT_TRUE(runs().empty());
}

TEST_F(Passwords, AnEncryptedArchiveAsksOnceAndExtractVerifyAndLaunchReuseIt) {
  std::string archive = write_archive(false), out = work_ + "out\\", notice, verified;
  run_script({give_password("s3cret"), extract_b(), press_ok_with_destination(out),
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
             [&] { browse_archive(shell.operation.archive_path = archive); });
  EXPECT_TRUE(exists(out + "b.txt"));
  EXPECT_NE(verified.find("intact"), std::string::npos) << verified;
  // Tried at opening, then extract, verify and launch, none asking again (the script would stall).
  expect_runs("s3cret", {" l -pw -p ", " x -pw -t1  -e ", " t -pw ", " x -pw -e -t1 "});
  EXPECT_TRUE(shell.operation.archive_password.empty());  // gone with the archive
}

TEST_F(Passwords, AWrongPasswordIsSaidAtOnceAndAskedAgainAndNothingOpens) {
  std::string archive = write_archive(false), said;
  bool opened = true;
  run_script({give_password("wrong"), answer_box("Note:", &said),
              in_password_window([] { press(PASSWORD_CANCEL, PASSWORD_WINDOW); })},
             [&] { opened = browse_archive(shell.operation.archive_path = archive); });
  EXPECT_FALSE(opened);
  EXPECT_EQ(said.rfind("wrong password for " + archive, 0), 0u) << said;
  expect_runs("wrong", {" l -pw -p "});
  EXPECT_FALSE(exists(shell.operation.temp_root + "b.txt"));
  EXPECT_TRUE(shell.operation.archive_password.empty());
}

TEST_F(Passwords, SealedNamesAreListedByTheArchiverAndVerifyOnDiskAsksToo) {
  std::string archive = write_archive(true), out = work_ + "out\\", notice, verified;
  bool listed = false;
  run_script({give_password("s3cret"),
              [&] {
                listed = archive_on_view() && row_of("b.txt") > 0 && row_of("docs") > 0;
                extract_b()();
              },
              press_ok_with_destination(out), answer_box("Notice", &notice), [] { exit_menu(); }},
             [&] { browse_archive(shell.operation.archive_path = archive); });
  EXPECT_TRUE(listed);
  EXPECT_TRUE(exists(out + "b.txt"));
  expect_runs("s3cret", {" l -pw -p ", " x -pw -t1 x "});
  // On disk: asked for each encrypted archive chosen; one without a password is skipped.
  run_script({give_password("s3cret"), in_password_window([] { press(PASSWORD_CANCEL, PASSWORD_WINDOW); }),
              answer_box("Verify", &verified)},
             [&] { verify_archives(shell.operation.program_folder, {archive, write_archive(false)}); });
  EXPECT_NE(verified.find("sealed.vnr: all 2 members intact"), std::string::npos) << verified;
  EXPECT_NE(verified.find("locked.vnr: cannot be verified: no password was given"), std::string::npos) << verified;
}

// With the real archiver: a zip whose listing marks an encrypted member asks once at opening.
TEST_F(Passwords, AZipWithEncryptedMembersAsksAndItsMembersExtractWithThePassword) {
  shell.operation.program_folder = real_folder_;
  std::string zip = work_ + "traditional.zip", out = work_ + "out\\", notice;
  std::string made = std::string("Z:") + VANTOR_WIN_FOREIGN + "/traditional.zip";
  for (char& c : made) c = c == '/' ? '\\' : c;
  ASSERT_TRUE(CopyFileA(made.c_str(), zip.c_str(), FALSE));
  run_script({give_password("secret"),
              [] {
                if (!archive_on_view()) return retry_step();
                select_rows({"a.txt"});
                press(EXTRACT_BUTTON, 0);
              },
              press_ok_with_destination(out), answer_box("Notice", &notice), [] { exit_menu(); }},
             [&] { browse_archive(shell.operation.archive_path = zip); });
  EXPECT_EQ(read_file(out + "a.txt"), "alpha");
}

}  // namespace

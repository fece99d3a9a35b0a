// WinVantor.exe /job:<verb> started as Explorer starts it: one process per chosen item, quoted
// paths with blanks and names in other scripts. What it writes is checked byte for byte.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <set>
#include <vector>
#include <zlib.h>

#include "../tool_entries.h"
#include "archive/index_walk.h"
#include "operations/shell_job.h"
#include "runtime/folders.h"
#include "test_files.h"

namespace {

using test_files::exists;
using test_files::read_file;
using test_files::write_file;

std::string front_end() {
  char path[MAX_PATH * 3];
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder(path);
  folder = folder.substr(0, folder.find_last_of('\\'));  // tests\ ...
  return folder.substr(0, folder.find_last_of('\\') + 1) + "WinVantor.exe";
}

HANDLE start_job(const std::string& verb, const std::vector<std::string>& paths) {
  std::string program = front_end();
  std::string line = "\"" + program + "\" /job:" + verb;
  for (const std::string& p : paths) line += " \"" + p + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return nullptr;
  CloseHandle(process.hThread);
  return process.hProcess;
}

struct Found {
  DWORD pid;
  std::string title_start;
  HWND window = nullptr;
};

BOOL CALLBACK match_window(HWND w, LPARAM data) {
  Found* f = reinterpret_cast<Found*>(data);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  char title[512] = {};
  GetWindowTextA(w, title, sizeof title);
  if (pid != f->pid || !IsWindowVisible(w) || std::string(title).rfind(f->title_start, 0) != 0) return TRUE;
  f->window = w;
  return FALSE;
}

HWND window_of(HANDLE process, const std::string& title_start) {
  Found f{GetProcessId(process), title_start};
  EnumWindows(match_window, reinterpret_cast<LPARAM>(&f));
  return f.window;
}

std::string box_text(HWND box) {
  std::string text;
  for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    char cls[32] = {}, t[4096] = {};
    GetClassNameA(c, cls, sizeof cls);
    GetWindowTextA(c, t, sizeof t);
    if (std::string(cls) == "Static") text += t;
  }
  return text;
}

// Waits for the job to end, answering its boxes; their titles and texts go into `boxes`.
DWORD finish(HANDLE process, std::vector<std::string>* boxes = nullptr) {
  DWORD code = 259;
  for (int i = 0; i < 1200 && WaitForSingleObject(process, 100) == WAIT_TIMEOUT; ++i) {
    for (const char* title : {"Note:", "Verify"}) {
      HWND box = window_of(process, title);
      if (!box) continue;
      if (boxes) boxes->push_back(std::string(title) + " " + box_text(box));
      PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
  }
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return code;
}

// Closes the job's window of that title as soon as it shows: the user's Cancel.
DWORD cancel_when_shown(HANDLE process, const std::string& title_start) {
  for (int i = 0; i < 600 && WaitForSingleObject(process, 50) == WAIT_TIMEOUT; ++i)
    if (HWND w = window_of(process, title_start)) {
      PostMessageA(w, WM_CLOSE, 0, 0);
      break;
    }
  return finish(process);
}

std::set<std::string> names_in(const std::string& folder) {
  std::set<std::string> names;
  enumerate_folder(folder, "*", [&](const FolderEntry& e) {
    if (e.name != "." && e.name != "..") names.insert(e.name);
  });
  return names;
}

std::vector<std::string> members(const std::string& archive) {
  std::vector<std::string> names;
  index_walk_file(archive, [&](const IndexEntry& e) { names.push_back(e.folder + e.name); });
  std::sort(names.begin(), names.end());
  return names;
}

class ShellJobs : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    root_ = std::string(temp) + "vantor_job_test\\";
    delete_folder_tree(root_);
    CreateDirectoryA(root_.c_str(), nullptr);
    dir_ = root_ + "Fotos für Oma ταξίδι\\";
    CreateDirectoryA(dir_.c_str(), nullptr);
  }
  void TearDown() override { delete_folder_tree(root_); }

  std::string root_, dir_;
};

}  // namespace

TEST_F(ShellJobs, ThreeInstancesOfAddJoinIntoOneArchiveNamedAfterTheirFolder) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"a b.txt", "alpha\r\n"}, {"заметка.txt", "Привет"}, {"写真 1.bin", noise(70000)}};
  for (const auto& f : files) write_file(dir_ + f.first, f.second);
  std::vector<HANDLE> jobs;
  for (const auto& f : files) jobs.push_back(start_job("add-vnr", {dir_ + f.first}));
  for (HANDLE job : jobs) {
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(finish(job), 0u);
  }
  std::string archive = dir_ + "Fotos für Oma ταξίδι.vnr";
  EXPECT_EQ(members(archive), (std::vector<std::string>{"a b.txt", "заметка.txt", "写真 1.bin"}));
  ASSERT_TRUE(extract_into(archive, root_ + "check").ok);
  for (const auto& f : files) EXPECT_EQ(read_file(root_ + "check\\" + f.first), f.second) << f.first;
  // Nothing else was left beside the items: no list file, no temporary.
  std::set<std::string> left = names_in(dir_);
  EXPECT_EQ(left.size(), files.size() + 1) << *left.rbegin();
}

TEST_F(ShellJobs, AFolderKeepsItsNameAndExtractHereNeverMerges) {
  std::string photos = dir_ + "Photos 2024\\";
  CreateDirectoryA(photos.c_str(), nullptr);
  CreateDirectoryA((photos + "sub").c_str(), nullptr);
  write_file(photos + "a b.txt", "alpha");
  write_file(photos + "sub\\с.bin", noise(100000));
  ASSERT_EQ(finish(start_job("add-zip", {dir_ + "Photos 2024"})), 0u);
  ASSERT_TRUE(exists(dir_ + "Photos 2024.zip"));
  // The folder of that name is there already: the zip's one top folder lands beside it.
  ASSERT_EQ(finish(start_job("here", {dir_ + "Photos 2024.zip"})), 0u);
  EXPECT_EQ(read_file(dir_ + "Photos 2024 (2)\\a b.txt"), "alpha");
  EXPECT_EQ(read_file(dir_ + "Photos 2024 (2)\\sub\\с.bin"), noise(100000));
  // Loose files go into a folder named after the archive; a second time into "(2)".
  write_file(dir_ + "x.txt", "x");
  write_file(dir_ + "x.doc", "doc");
  ASSERT_EQ(finish(start_job("add-vnr", {dir_ + "x.txt", dir_ + "x.doc"})), 0u);
  std::string loose = dir_ + "Fotos für Oma ταξίδι.vnr";
  for (const char* expected : {"Fotos für Oma ταξίδι", "Fotos für Oma ταξίδι (2)"}) {
    ASSERT_EQ(finish(start_job("here", {loose})), 0u);
    EXPECT_EQ(read_file(dir_ + expected + "\\x.doc"), "doc") << expected;
  }
  // "to" always makes a folder; "each" gives each item its own archive, the same stem kept apart.
  ASSERT_EQ(finish(start_job("to", {dir_ + "Photos 2024.zip"})), 0u);
  EXPECT_EQ(read_file(dir_ + "Photos 2024 (3)\\Photos 2024\\a b.txt"), "alpha");
  ASSERT_EQ(finish(start_job("each", {dir_ + "x.txt", dir_ + "x.doc"})), 0u);
  EXPECT_EQ(members(dir_ + "x.vnr"), std::vector<std::string>{"x.txt"});
  EXPECT_EQ(members(dir_ + "x.doc.vnr"), std::vector<std::string>{"x.doc"});
  for (const std::string& name : names_in(dir_)) EXPECT_EQ(name.find(".vantor"), std::string::npos) << name;
}

TEST_F(ShellJobs, VerifyAndMistakesAnswerInOneBoxWithTheirExitCodes) {
  write_file(dir_ + "a.txt", noise(5000));
  ASSERT_EQ(finish(start_job("add-vnr", {dir_ + "a.txt"})), 0u);
  std::vector<std::string> boxes;
  EXPECT_EQ(finish(start_job("verify", {dir_ + "a.vnr"}), &boxes), 0u);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].rfind("Verify ", 0), 0u);
  std::string bytes = read_file(dir_ + "a.vnr");
  bytes[bytes.size() - 100] ^= 0x55;
  write_file(dir_ + "a.vnr", bytes);
  boxes.clear();
  EXPECT_EQ(finish(start_job("verify", {dir_ + "a.vnr"}), &boxes), 1u);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].find("a.txt"), std::string::npos) << boxes[0];
  boxes.clear();
  EXPECT_EQ(finish(start_job("shred", {dir_ + "a.vnr"}), &boxes), 1u);
  EXPECT_EQ(finish(start_job("here", {dir_ + "missing.zip"}), &boxes), 1u);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_NE(boxes[1].find("missing.zip was not found"), std::string::npos) << boxes[1];
}

TEST_F(ShellJobs, CancelMidRunLeavesNothing) {
  // One stored member of 192 MB: long enough to be stopped while it is written.
  std::string chunk = noise(1 << 20);
  const int chunks = 192;
  uLong crc = crc32(0, nullptr, 0);
  for (int i = 0; i < chunks; ++i)
    crc = crc32(crc, reinterpret_cast<const Bytef*>(chunk.data()), static_cast<uInt>(chunk.size()));
  EntryHeader h;
  h.name = "big.bin";
  h.size = static_cast<int64_t>(chunk.size()) * chunks;
  h.method = METHOD_STORE;
  h.compressed_size = static_cast<uint64_t>(h.size);
  h.crc = static_cast<uint32_t>(crc);
  h.entry_length = header_size(h.name.size(), 0) + h.size;
  std::vector<uint8_t> header = encode_header(h);
  std::string archive = dir_ + "big.vnr";
  FILE* out = std::fopen(archive.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  std::fwrite(header.data(), 1, header.size(), out);
  for (int i = 0; i < chunks; ++i) std::fwrite(chunk.data(), 1, chunk.size(), out);
  std::fclose(out);
  std::set<std::string> before = names_in(dir_);
  EXPECT_EQ(cancel_when_shown(start_job("here", {archive}), "Vantor - extracting"), 3u);
  EXPECT_EQ(names_in(dir_), before);
  EXPECT_EQ(cancel_when_shown(start_job("to", {archive}), "Vantor - extracting"), 3u);
  EXPECT_EQ(names_in(dir_), before);
  // Adding: neither the archive nor any temporary of it stays.
  CreateDirectoryA((root_ + "add").c_str(), nullptr);
  ASSERT_TRUE(extract_into(archive, root_ + "add\\").ok);
  // An instance slow to start for the same choice ends with the cancelled run, adding nothing.
  // Two more files unlike it keep the first run going until the late one has arrived, which it
  // shows by taking over the block the instances meet in.
  for (const char* name : {"big2.bin", "big3.bin"}) {
    FILE* more = std::fopen((root_ + "add\\" + name).c_str(), "wb");
    ASSERT_NE(more, nullptr);
    chunk[0] = name[3];
    for (int i = 0; i < chunks; ++i) std::fwrite(chunk.data(), 1, chunk.size(), more);
    std::fclose(more);
  }
  write_file(root_ + "add\\late.txt", "late");
  std::set<std::string> add_before = names_in(root_ + "add\\");
  HANDLE first = start_job("add-vnr", {root_ + "add\\big.bin", root_ + "add\\big2.bin", root_ + "add\\big3.bin"});
  HWND shown = nullptr;
  for (int i = 0; i < 600 && !shown && WaitForSingleObject(first, 50) == WAIT_TIMEOUT; ++i)
    shown = window_of(first, "Vantor - adding");
  HANDLE late = start_job("add-vnr", {root_ + "add\\late.txt"});
  std::string block_name = "Local\\" + job_join_key(JobVerb::ADD_VNR, root_ + "add\\") + "-items";
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, block_name.c_str());
  ASSERT_NE(mapping, nullptr);
  const uint32_t* block = static_cast<const uint32_t*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 64));
  for (int i = 0; i < 200 && block[2] != GetProcessId(late); ++i) Sleep(50);  // the owner's process id
  UnmapViewOfFile(block);
  CloseHandle(mapping);
  EXPECT_EQ(cancel_when_shown(first, "Vantor - adding"), 3u);
  EXPECT_EQ(finish(late), 3u);
  EXPECT_EQ(names_in(root_ + "add\\"), add_before);
}

namespace {

// Waits for the job's window of that title; nullptr when it never shows.
HWND wait_for_window(HANDLE process, const std::string& title_start) {
  for (int i = 0; i < 1200 && WaitForSingleObject(process, 0) == WAIT_TIMEOUT; ++i) {
    if (HWND w = window_of(process, title_start)) return w;
    Sleep(50);
  }
  return nullptr;
}

HWND child_with(HWND window, const std::string& cls, const std::string& text = "") {
  for (HWND c = GetWindow(window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    char name[32] = {}, t[64] = {};
    GetClassNameA(c, name, sizeof name);
    GetWindowTextA(c, t, sizeof t);
    if (lstrcmpiA(name, cls.c_str()) == 0 && (text.empty() || text == t)) return c;
  }
  return nullptr;
}

// Types into the job's password window and presses OK, as the user would.
bool give_password(HANDLE process, const std::string& typed) {
  HWND window = wait_for_window(process, "Vantor - password");
  HWND field = window ? child_with(window, "Edit") : nullptr;
  HWND ok = window ? child_with(window, "Button", "OK") : nullptr;
  if (!field || !ok) return false;
  SendMessageA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str()));
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(ok), BN_CLICKED), reinterpret_cast<LPARAM>(ok));
  return true;
}

}  // namespace

TEST_F(ShellJobs, AnEncryptedArchiveAsksItsPasswordAgainWhileWrongAndACancelWritesNothing) {
  std::string secret = dir_ + "Tresor ключ\\";
  CreateDirectoryA(secret.c_str(), nullptr);
  write_file(secret + "a b.txt", "alpha");
  write_file(secret + "с.bin", noise(20000));
  std::string archive = root_ + "sealed.vnr";
  ASSERT_EQ(test_files::run_with_password("a -r -pw -w\"" + dir_ + "\" \"" + archive + "\" \"" + dir_ + "Tresor ключ\"",
                                          "s3cret", root_ + "add.txt"),
            0u)
      << read_file(root_ + "add.txt");
  std::string placed = dir_ + "sealed.vnr";
  ASSERT_TRUE(MoveFileA(archive.c_str(), placed.c_str()));
  std::set<std::string> before = names_in(dir_);
  for (const char* verb : {"here", "to", "verify"}) {
    HANDLE job = start_job(verb, {placed});
    HWND window = wait_for_window(job, "Vantor - password");
    ASSERT_NE(window, nullptr) << verb;
    PostMessageA(window, WM_CLOSE, 0, 0);
    std::vector<std::string> boxes;
    EXPECT_EQ(finish(job, &boxes), std::string(verb) == "verify" ? 1u : 3u) << verb;
    EXPECT_EQ(names_in(dir_), before) << verb;
  }
  // A wrong password is said at once and asked again; the right one extracts the one top folder
  // beside the folder of that name.
  HANDLE job = start_job("here", {placed});
  ASSERT_TRUE(give_password(job, "wrong"));
  HWND said = wait_for_window(job, "Note:");
  ASSERT_NE(said, nullptr);
  EXPECT_NE(box_text(said).find("wrong password"), std::string::npos) << box_text(said);
  PostMessageA(said, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(names_in(dir_), before);
  ASSERT_TRUE(give_password(job, "s3cret"));
  EXPECT_EQ(finish(job), 0u);
  EXPECT_EQ(read_file(dir_ + "Tresor ключ (2)\\a b.txt"), "alpha");
  EXPECT_EQ(read_file(dir_ + "Tresor ключ (2)\\с.bin"), noise(20000));
  job = start_job("verify", {placed});
  ASSERT_TRUE(give_password(job, "s3cret"));
  std::vector<std::string> boxes;
  EXPECT_EQ(finish(job, &boxes), 0u);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].rfind("Verify ", 0), 0u) << boxes[0];
  // A zip whose listing marks an encrypted member asks once; its member comes out with it.
  std::string zip = "Z:" + std::string(VANTOR_WIN_FOREIGN) + "\\traditional.zip";
  std::replace(zip.begin(), zip.end(), '/', '\\');
  ASSERT_TRUE(CopyFileA(zip.c_str(), (dir_ + "Brief.zip").c_str(), FALSE));
  job = start_job("to", {dir_ + "Brief.zip"});
  ASSERT_TRUE(give_password(job, "secret"));
  EXPECT_EQ(finish(job), 0u);
  EXPECT_EQ(read_file(dir_ + "Brief\\a.txt"), "alpha");
}

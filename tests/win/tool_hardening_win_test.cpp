// The archiver's defences where Windows differs: links and reparse points in the destination,
// device paths, and names that differ only in letter case on a file system that ignores it.
#include <windows.h>

#include <gtest/gtest.h>
#include <zlib.h>


#include "engine.h"
#include "test_files.h"

namespace {

// Links made on the Unix side before the run (see tests/CMakeLists.txt), as Windows paths.
std::string prepared_link(const std::string& name) {
  std::string path = "Z:" + std::string(VANTOR_WIN_LINKS) + "/" + name;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string fresh_folder(const std::string& name) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  // Wine reuses process ids from run to run: the tick count keeps earlier runs' folders apart.
  std::string folder = std::string(temp) + "vantor-harden-" + name + "-" + std::to_string(GetCurrentProcessId()) +
                       "-" + std::to_string(GetTickCount64());
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder + "\\";
}

std::string stored_entry(const std::string& folder, const std::string& name, const std::string& data) {
  EntryHeader h;
  h.folder = folder;
  h.name = name;
  h.size = static_cast<int64_t>(data.size());
  h.method = METHOD_STORE;
  h.compressed_size = data.size();
  h.crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  h.entry_length = header_size(name.size(), folder.size()) + static_cast<int64_t>(data.size());
  std::vector<uint8_t> bytes = encode_header(h);
  return std::string(bytes.begin(), bytes.end()) + data;
}

RunResult extract_into(const std::string& archive, const std::string& dest,
                       std::function<void(const EntryHeader&)> after = nullptr) {
  ReadJob job;
  job.archive_path = archive;
  job.destination = dest;
  job.after_member = std::move(after);
  return read_archive_with(job, nullptr);
}

TEST(WindowsHardening, LinkAtTheMembersNameIsReplacedNotWrittenThrough) {
  std::string dir = fresh_folder("planted"), out = prepared_link("stage_planted\\out\\");
  test_files::write_file(dir + "a.vnr", stored_entry("", "a.txt", "inside"));
  EXPECT_TRUE(extract_into(dir + "a.vnr", out).ok);
  EXPECT_EQ(test_files::read_file(prepared_link("outside.txt")), "outside");
  EXPECT_EQ(test_files::read_file(out + "a.txt"), "inside");
}

// Between two members the member's folder is replaced by one holding a link where the next
// member's folder was: every member walks its folders afresh, so the link is refused.
TEST(WindowsHardening, FolderSwappedBetweenTwoMembersIsWalkedAfresh) {
  std::string dir = fresh_folder("swap"), out = dir + "out\\";
  std::string archive;
  for (int i = 0; i < 5; ++i) archive += stored_entry("a/docs/", "f" + std::to_string(i), "data");
  test_files::write_file(dir + "a.vnr", archive);
  bool swapped = false;
  RunResult r = extract_into(dir + "a.vnr", out, [&](const EntryHeader&) {
    if (swapped) return;
    swapped = MoveFileA((out + "a").c_str(), (out + "old").c_str()) &&
              MoveFileA(prepared_link("stage_swap").c_str(), (out + "a").c_str());
  });
  ASSERT_TRUE(swapped);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.members, 1);
  EXPECT_EQ(GetFileAttributesA((prepared_link("elsewhere") + "\\f1").c_str()), INVALID_FILE_ATTRIBUTES)
      << "nothing written through";
}

TEST(WindowsHardening, DevicePathsAreRefused) {
  std::string dir = fresh_folder("device");
  for (const char* device : {"\\\\.\\NUL", "\\\\.\\CON"}) {
    CompressJob job;
    job.archive_path = dir + "a.vnr";
    job.sources = {device};
    RunResult r = compress_archive(job);
    EXPECT_FALSE(r.ok) << device;
    ASSERT_FALSE(r.problems.empty());
    EXPECT_NE(r.problems.front().find("not a regular file"), std::string::npos) << r.problems.front();
    EXPECT_EQ(GetFileAttributesA(job.archive_path.c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

TEST(WindowsHardening, NamesDifferingOnlyInCaseAreBothKept) {
  std::string dir = fresh_folder("case"), out = dir + "out\\";
  test_files::write_file(dir + "a.vnr", stored_entry("netfilter/", "xt_CONNMARK.h", "upper") +
                                 stored_entry("netfilter/", "xt_connmark.h", "lower") +
                                 stored_entry("netfilter/", "xt_connmark (2).h", "taken"));
  RunResult r = extract_into(dir + "a.vnr", out);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.members, 3);
  EXPECT_EQ(r.renamed, 1);
  ASSERT_EQ(r.notes.size(), 1u);
  EXPECT_NE(r.notes[0].find("netfilter/xt_connmark.h extracted as netfilter/xt_connmark (3).h"), std::string::npos)
      << r.notes[0];
  EXPECT_EQ(test_files::read_file(out + "netfilter\\xt_CONNMARK.h"), "upper");
  EXPECT_EQ(test_files::read_file(out + "netfilter\\xt_connmark (3).h"), "lower");
  EXPECT_EQ(test_files::read_file(out + "netfilter\\xt_connmark (2).h"), "taken");
}

}  // namespace

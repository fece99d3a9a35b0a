// Opening an archive: the index is walked, a mirror tree of empty files is built under temp_root,
// the file list is pointed at it, and the archive loop runs until the user leaves.
#include <windows.h>

#include <unordered_set>

#include "archive/index_walk.h"
#include "archive/listing.h"
#include "archive/mirror_tree.h"
#include "archive/open_archive.h"
#include "runtime/folders.h"
#include "shell/browsing.h"
#include "shell/dispatch.h"
#include "shell/gadget_rows.h"
#include "shell/globals.h"
#include "shell/shell.h"
#include "ui/ui.h"

namespace {

const Note NOTE_ENTRY_TABLE_FULL = {"Note:", "Only the first 512000 members of this archive were taken",
                                    NOTE_WARNING};

void create_empty_file(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

// One entry of the index: its mirror folder and empty file, and its row in the entry table.
class MirrorBuilder {
 public:
  void add(const IndexEntry& e) {
    if (shell.entry_count >= TABLE_CAPACITY) return;
    std::string path = shell.temp_root + e.folder + e.name;
    if (mirror_entry_safe(e.folder, e.name)) {
      if (!created_.count(e.folder) && create_folder_chain(shell.temp_root + e.folder) == 1) {
        created_.insert(e.folder);
        if (shell.created_folder_count < TABLE_CAPACITY) shell.created_folders[++shell.created_folder_count] = e.folder;
      }
      if (!e.name.empty()) create_empty_file(path);
    }
    entry_append(shell, path, e.size);
  }

 private:
  std::unordered_set<std::string> created_;
};

}  // namespace

int create_folder_chain(const std::string& path) {
  int result = 0;
  size_t start = 0;
  std::string accumulated;
  for (;;) {
    size_t end = path.find('\\', start);
    std::string field = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (field.empty()) break;
    accumulated += field + "\\";
    result = create_one_folder(accumulated) ? 1 : 0;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return result;
}

void listing_step() {
  GadgetRows rows(FILE_LIST);
  listing_step_rows(rows, shell);
}

void build_mirror_tree(const std::string& path) {
  reset_temp_folders();
  if (std::unique_ptr<ByteSource> source = open_file_source(path, false)) {
    shell.entry_count = 0;
    shell.created_folder_count = 0;
    MirrorBuilder builder;
    IndexWalkResult walk = index_walk(
        *source, index_start(shell.archive_path), [&](const IndexEntry& e) { builder.add(e); },
        [] { wait_event(0); });
    source.reset();
    if (walk.end == IndexEnd::entry_limit) show_note(NOTE_ENTRY_TABLE_FULL);
  }
}

void open_archive(const std::string& path) {
  build_mirror_tree(path);
  gadget_set_text(FILE_LIST, shell.temp_root);
  listing_step();
  run_archive_loop();
}

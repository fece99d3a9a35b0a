// Rules for the mirror tree: where an entry's empty stand-in file goes, whether it may exist, and
// what the user is told about the members that get none.
#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>

// True when folder + name, as read from an archive, names a place inside the mirror root.
// Entries with "..", absolute, drive, UNC or device paths, streams, trailing dots or blanks or
// control characters get no mirror file. An empty name stands for its folder alone.
bool mirror_entry_safe(const std::string& folder, const std::string& name);

// Whether a name has the shape of the short names the system gives files (LONGFI~1.TXT, or
// LONG~LMQ.TXT under Wine): a "~", at most eight characters, and at most one dot with at most
// three after it. Only such a name can reach a file of another name.
bool could_be_short_name(const std::string& name);

// How many of the last names of folder + name must be the file's own for a stand-in made there
// to be the entry's: from the first name that could be a short name on; 0 when none could.
size_t names_to_check(const std::string& folder, const std::string& name);

// The longest path the system creates a file at, and a folder at (room for an 8.3 name).
constexpr size_t MIRROR_FILE_PATH_LIMIT = 259;
constexpr size_t MIRROR_FOLDER_PATH_LIMIT = 247;

// Why an entry gets no mirror file.
enum class MirrorSkip { none, unsafe_name, too_long, folder_too_long, clash, not_created };

// Decides, entry by entry and before anything is created, which entries can have a mirror file of
// their own. The mirror tree lives on a file system that ignores letter case, so two paths that
// differ only in case, or a file and a folder of the same path, would land on one place: the
// entry that comes second is turned away. The same path twice is no clash (the later size wins).
// Members come folder by folder, so what depends on the folder alone is worked out once a folder.
class MirrorNames {
 public:
  MirrorSkip check(const std::string& root, const std::string& folder, const std::string& name);

 private:
  // The folder of the member before, with what depends on it alone.
  struct Folder {
    std::string path;
    bool safe = true;
    uint64_t key_hash = 0;   // of the path folded to one case, a name at a time
    uint64_t path_hash = 0;  // of the path as spelt
  };
  void look_at(const std::string& folder);
  // Path folded to one case -> the path as first spelt, both as 64-bit hashes: a table of 512,000
  // entries stays small.
  std::unordered_map<uint64_t, uint64_t> files_;
  std::unordered_map<uint64_t, uint64_t> folders_;  // folder paths end with "\"
  Folder folder_;
  bool looked_ = false;
  std::string last_folder_;                          // the folder of the last member taken
};

// What an open could not show.
struct MirrorReport {
  int64_t unsafe_names = 0;
  int64_t too_long = 0;            // the file's path
  int64_t folder_too_long = 0;     // its folder's path (with the final "\"), whatever the name
  int64_t clashes = 0;
  int64_t not_created = 0;        // the system refused the mirror file for another reason
  bool table_full = false;        // the index held more members than the entry table
  int64_t damage_position = -1;   // where the index walk broke off, -1 when it did not
  void count(MirrorSkip why);
};

// One line for a warning box, or "" when every member is shown.
std::string mirror_report_text(const std::string& archive_path, const MirrorReport& report);

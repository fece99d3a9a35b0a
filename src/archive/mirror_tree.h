// Rules for the mirror tree: where an entry's empty stand-in file goes, whether it may exist, and
// what the user is told about the members that get none.
#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

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

// 64-bit hashes to 64-bit values in one open-addressed array: a table of 512,000 entries costs
// a few allocations in all, not one per entry.
class HashPairs {
 public:
  // The value stored for key, or nullptr.
  const uint64_t* find(uint64_t key) const;
  // Keeps the first value stored for a key.
  void emplace(uint64_t key, uint64_t value);

 private:
  // Key 0 marks a free slot; a key of 0 is stored as 1.
  std::vector<std::pair<uint64_t, uint64_t>> slots_;
  size_t used_ = 0;
};

// Decides, entry by entry and before anything is created, which entries can have a mirror file of
// their own. The mirror tree lives on a file system that ignores letter case, so two paths that
// differ only in case, or a file and a folder of the same path, would land on one place: the
// entry that comes second is turned away. The same path twice is no clash (the later size wins).
// What depends on a folder alone is worked out once a folder, however its members are spread.
class MirrorNames {
 public:
  MirrorSkip check(const std::string& root, const std::string& folder, const std::string& name);

 private:
  // What depends on a folder alone.
  struct Folder {
    bool safe = true;
    uint64_t key_hash = 0;   // of the path folded to one case, a name at a time
    uint64_t path_hash = 0;  // of the path as spelt
    // Its folders are in folders_: a later file of one of their paths is turned away then, so
    // they need no second look.
    bool taken = false;
  };
  static Folder look_at(const std::string& folder);
  // Path folded to one case -> the path as first spelt, both as 64-bit hashes: a table of 512,000
  // entries stays small.
  HashPairs files_;
  HashPairs folders_;  // folder paths end with "\"
  std::unordered_map<std::string, Folder> seen_;
  const std::string* current_path_ = nullptr;  // the folder of the member before, in seen_
  Folder* current_ = nullptr;
  std::string key_;  // the last name's case key, its storage kept from member to member
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

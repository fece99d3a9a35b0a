// Folders and the files in them: the runtime's view of the file system.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

struct FolderEntry {
  std::string name;
  bool is_folder = false;
  bool is_link = false;  // a junction or symbolic link: never followed when deleting
};

using FolderVisitor = std::function<void(const FolderEntry&)>;
// Calls `visit` for every entry of `folder` (ending in "\" or "/") matching `pattern`, in the order
// the file system delivers them, "." and ".." included. False when the folder cannot be read.
using FolderEnumerator = std::function<bool(const std::string& folder, const std::string& pattern,
                                            const FolderVisitor& visit)>;

bool enumerate_folder(const std::string& folder, const std::string& pattern, const FolderVisitor& visit);

// Removes every file and folder below `folder` and then the folder itself. Links inside it are
// removed as links; their targets are left alone. Failures leave what could not be deleted.
void delete_folder_tree(const std::string& folder);

// Asks for one folder; true when this call created it (trailing blanks, "\" and "/" stripped).
bool create_one_folder(const std::string& path);

// Creates every folder along a "\"-separated path; 1 when the deepest one was created by this call.
int create_folder_chain(const std::string& path);

// What create_empty_file did.
enum class EmptyFile { created, refused, elsewhere };

// Creates an empty file at path, or opens the one already there, and gives it the last-write time
// time_ns (nanoseconds since 1970) when has_time; a time the system refuses is left. With
// own_names > 0 the file reached must carry the last own_names components of path as its own
// names: a short name (LONGFI~1.TXT) reaches another file, which is then left as it was (a file
// this call made is removed again) and the answer is `elsewhere`.
EmptyFile create_empty_file(const std::string& path, size_t own_names, bool has_time, int64_t time_ns);

// Sets a folder's last-write time (nanoseconds since 1970); a time the system refuses is left.
void set_folder_time(const std::string& folder, int64_t time_ns);

// Folder enumeration and deletion, the runtime's view of the file system.
#pragma once
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

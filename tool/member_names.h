// How source files are named inside an archive: by their path below the deepest folder that
// holds all of them, with "/" separators and the folder ending in "/".
#pragma once
#include <string>
#include <vector>

struct StoredName {
  std::string folder;  // "docs/sub/" or ""
  std::string name;
};

// Splits a full path into components, dropping its root (drive letter, UNC server and share,
// leading separators) and resolving "." and ".." lexically. Either separator is accepted.
std::vector<std::string> storage_components(const std::string& path);

// Names for every source path. With keep_folders false only file names are kept. Fails with a
// reason when two sources would end up under the same stored name.
// With `below` set (and keep_folders), folders are kept below that folder, which must hold every
// source, instead of below the deepest common one.
bool stored_names(const std::vector<std::string>& sources, bool keep_folders,
                  std::vector<StoredName>& out, std::string& problem, const std::string& below = "");

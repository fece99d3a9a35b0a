// Folder enumeration with what a search shows of each entry: size and times, and whether it is
// a link, so a walk can list a link without entering it.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

struct FolderDetail {
  std::string name;
  bool is_folder = false;
  bool is_link = false;       // a reparse point (junction, symbolic link): never entered
  int64_t size = 0;
  int64_t write_time = 0;     // 100 ns units since 1601, as the system's file times
  int64_t creation_time = 0;  // outside Windows: the last status change
  int64_t access_time = 0;
};

// Returns false to stop the enumeration.
using DetailVisitor = std::function<bool(const FolderDetail&)>;
using DetailEnumerator = std::function<bool(const std::string& folder, const DetailVisitor& visit)>;

// Calls `visit` for every entry of `folder` (ending in "\" or "/") but "." and "..", in the order
// the file system delivers them, until it returns false. False when the folder cannot be read.
bool enumerate_folder_details(const std::string& folder, const DetailVisitor& visit);

// Where a whole archive lands when it is extracted "here": in place when it holds one top folder
// or one single file, else in a new folder named after the archive. A name already taken on disk
// gets the next free one ("name (2)", "name (3)"...), so nothing is ever merged into a folder or
// file that was there. Plain functions over the member paths: every path may come from an attacker.
#pragma once
#include <functional>
#include <string>
#include <vector>

struct SmartMember {
  std::string path;  // as the archive stores it, "/" or "\" between its parts
  bool folder = false;
};

struct SmartPlan {
  // True when every member lies below one top folder, or there is one single file: that item is
  // moved out of the extraction into the destination under `name`.
  bool in_place = false;
  std::string top;   // the top folder's or the single file's name in the archive (in place only)
  bool top_is_file = false;
  std::string name;  // the free name in the destination: the top item's, or the new folder's
};

// Whether a name is taken in the destination (any file, folder or link).
using NameTaken = std::function<bool(const std::string& name)>;

// The archive's file name without its extension; ".tar.gz" and the like go whole. Never empty,
// never ending in a dot or a blank (Windows would drop those).
std::string archive_stem(const std::string& archive_path);

// `wanted` when free, else "wanted (2)", "wanted (3)"...; a file keeps its extension last
// ("a (2).txt"). Empty when every number up to 9999 is taken.
std::string free_name(const std::string& wanted, bool is_file, const NameTaken& taken);

// The plan for extracting all of `members` into a destination whose names `taken` knows. A
// member with an absolute, drive, ".." or otherwise unsafe path never chooses a name: the archive
// then goes into a new folder, where the archiver's own checks refuse that member.
SmartPlan smart_plan(const std::vector<SmartMember>& members, const std::string& archive_path,
                     const NameTaken& taken);

// Collects every file below a folder into the selection list, depth first.
#pragma once
#include <string>

#include "runtime/folders.h"
#include "archive/tables.h"

constexpr int FOLDER_SCAN_MAX_DEPTH = 256;

// Appends the files of `folder` and of every folder below it whose name matches `name_pattern`
// and whose extension matches `extension_pattern` ("*" takes any; others compare with the
// lower-cased name and extension). Returns false when the selection list ran full.
bool folder_scan(const std::string& folder, const std::string& name_pattern, const std::string& extension_pattern,
                 int depth, SelectionTable& s, const FolderEnumerator& enumerate = enumerate_folder);

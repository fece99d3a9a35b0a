#pragma once
#include <string>
// The modal extraction window: picks the destination and extracts the marked members.
void extraction_window(const std::string& archive_path);

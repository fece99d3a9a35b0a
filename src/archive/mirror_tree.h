// Rules for the mirror tree: where an entry's empty stand-in file goes, and whether it may exist.
#pragma once
#include <string>

// True when folder + name, as read from an archive, names a place inside the mirror root.
// Entries with "..", absolute, drive, UNC or device paths, streams, trailing dots or blanks or
// control characters get no mirror file. An empty name stands for its folder alone.
bool mirror_entry_safe(const std::string& folder, const std::string& name);

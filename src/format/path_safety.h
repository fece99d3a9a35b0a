// Decides whether a member path from an archive may be written below a destination folder.
// Pure functions over text: the extractor trusts nothing in an archive's name fields.
#pragma once
#include <string>
#include <vector>

struct MemberPathCheck {
  bool ok = false;
  std::string reason;                   // why the path was refused
  std::vector<std::string> components;  // the relative path, folder components then the name
};

// Checks folder + name as stored in an entry ("docs/sub/" + "a.txt"). Both "/" and "\" count
// as separators. Refused: empty name, absolute, drive, UNC and \\?\ paths, "." and ".."
// components, colons (drives and alternate streams), characters Windows forbids, control
// characters, components ending in a dot or a blank, reserved device names with or without
// extension, and components longer than 255 characters (UTF-16 units).
MemberPathCheck check_member_path(const std::string& folder, const std::string& name);
// The same answer as check_member_path(folder, name).ok, without the reason or the components:
// for the opening, which asks it of every member.
bool member_path_safe(const std::string& folder, const std::string& name);

// True when `candidate` lies inside `root` (or is `root`), compared by whole components:
// "C:\dest2\x" is not inside "C:\dest". Both are lexical, already normalised paths.
bool path_within(const std::string& root, const std::string& candidate);

// Whether one component names a device on Windows (CON, NUL.txt, "com1 ", LPT9.tar.gz ...).
bool is_device_name(const std::string& component);

// Text from an archive made safe to print: control characters, NUL and DEL become \xHH, so
// one member is always one line and nothing cuts or forges a message.
std::string printable(const std::string& text);

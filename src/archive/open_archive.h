// Opening an archive: its index is walked, a mirror tree of empty files stands for it under the
// mirror root, and the entry table lists its members. Showing the tree and running the archive
// loop are the shell's.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "archive/foreign_listing.h"
#include "archive/mirror_tree.h"
#include "archive/tables.h"

struct ArchiveSession {
  std::string path;
  int64_t index_start = 0;
  std::string mirror_root;        // ends with "\"
  int entries = 0;                // slots 1..entries of the entry table
  bool opened = false;            // false: the file could not be read and the table is unchanged
  bool cancelled = false;         // the caller's poll asked to stop; the mirror tree is partial
  std::string problem;            // why it could not be read
  std::string format;             // "" for ours; else the listing's name for it ("zip", "7z", ...)
  MirrorReport report;            // the members the mirror tree does not show, and why
  int64_t encrypted_members = 0;  // listed members that need a password to be read
  std::string wrong_password;     // the archiver's words when the password it was given is wrong
};

// Before each entry: bytes of the index walked, the file's size and members read so far; false
// stops the opening. The caller's poll is where the window takes its pending events.
using OpenPoll = std::function<bool(int64_t position, int64_t size, int members)>;

// Walks the archive at path and builds its mirror tree under mirror_root (emptied beforehand by
// the caller) and the entry table. An archive that cannot be opened leaves the table as it was.
ArchiveSession open_archive(const std::string& path, const std::string& mirror_root, EntryTable& table,
                            const OpenPoll& poll = OpenPoll());
// An archive of another program, from the archiver's listing of it: the mirror tree and the
// entry table as for ours, and each entry's member path kept beside it. The poll gets the
// members placed so far and their count.
ArchiveSession open_foreign_archive(const std::string& path, const ForeignListing& listing,
                                    const std::string& mirror_root, EntryTable& table,
                                    const OpenPoll& poll = OpenPoll());
// Why the archive at path cannot be read ("it does not exist", ...), or "" when it can.
std::string archive_open_problem(const std::string& path);

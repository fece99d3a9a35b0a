// Archives of other programs are listed by the archiver (`vantor l -p`), which prints one line
// per member in UTF-8; this reads that listing and places its members in the mirror tree.
// Portable: the listing is only text, and every part of it may come from a hostile archive.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Whether a name is one of the other programs' archives the front end opens by double-click and
// from the command line (zip, 7z, rar, tar and its compressed kinds, iso, cab, ...). ".vnr" is
// not: our own archives are walked as before. Nor ".exe": a program is run, not opened.
bool is_foreign_archive_name(const std::string& path);
// Whether the archive path names a zip ("zip" in any case), which the archiver writes and
// removes members from.
bool is_zip_name(const std::string& path);
// The open requester's file types: our archives and the foreign kinds, then every file.
std::string archive_requester_pattern();

struct ForeignMember {
  char kind = 'f';         // f file, d folder, l link, o other (device, fifo, socket)
  int64_t size = -1;       // bytes, -1 when unknown
  int64_t packed = -1;
  int64_t mtime_ns = 0;    // since 1970 UTC, 0 when unknown
  uint32_t attributes = 0;
  bool encrypted = false;
  std::string path;        // unescaped, "/" between its parts as the archive stores it
};

struct ForeignListing {
  bool sound = false;      // a whole listing: header, members and an end line that agrees
  std::string format;      // "zip", "7z", "tar.gz", ... ("vnr" for one of ours)
  std::vector<ForeignMember> members;  // at most `most_kept`; the rest were counted, not kept
  int64_t count = 0;       // member lines read
  std::string problem;     // why the listing cannot be used, when it is not sound
};

// Reads the listing as it arrives, in pieces of any size.
class ForeignListingReader {
 public:
  explicit ForeignListingReader(size_t most_kept = SIZE_MAX) : most_kept_(most_kept) {}
  void feed(const char* data, size_t n);
  // The listing as read; a listing without its end line was cut short.
  ForeignListing finish();

 private:
  void take_line(const std::string& line);
  void fail(const std::string& why);
  ForeignListing listing_;
  std::string pending_;
  size_t most_kept_;
  bool header_ = false, ended_ = false, failed_ = false;
  int64_t line_number_ = 0;
};

ForeignListing read_foreign_listing(const std::string& text, size_t most_kept = SIZE_MAX);

// Where a member's stand-in goes in the mirror tree: its folders joined with "\" (ending in "\")
// and its name. Empty and "." parts are dropped (tar's "./a"); ".." and drive parts stay, so the
// mirror's own path checks turn the member away. A folder member has an empty name.
struct MirrorPlace {
  std::string folder;
  std::string name;
};
MirrorPlace foreign_mirror_place(const ForeignMember& member);

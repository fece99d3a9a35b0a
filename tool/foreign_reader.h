// Archives of other programs (zip, 7z, rar, tar alone or compressed, iso, cab, lha, cpio, ar,
// single compressed files) walked through libarchive. libarchive only decodes here: it opens no
// file of its own (every byte comes through our callbacks), runs no program, and writes nothing;
// what it hands out goes through the archiver's own name checks and output path.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One entry as a listing shows it, for our own archives too.
struct MemberInfo {
  char kind = 'f';         // 'f' file, 'd' folder, 'l' link (hard or symbolic), 'o' device, FIFO, socket
  int64_t size = -1;       // -1 when unknown
  int64_t packed = -1;
  int64_t mtime_ns = 0;    // 0 when unknown
  uint32_t attributes = 0; // FILE_ATTRIBUTE_* bits
  uint32_t unix_mode = 0;  // permission bits, 0 when unknown
  bool encrypted = false;
  bool decryptable = false;  // encrypted, and the password given may open it (zip)
  bool needs_password = false;  // an encrypted zip member read without a password
  std::string path;        // '/' between parts as stored; no trailing '/' on a folder
};

// Where a foreign archive's bytes come from: a file, the volumes of one archive in order, or
// bytes in memory (the fuzz target).
struct ForeignSource {
  std::vector<std::string> paths;
  const uint8_t* data = nullptr;
  size_t size = 0;
  // The file's name, which a single compressed file's one member is named after.
  std::string name;
  // The most one allocation of the decoders may take (foreign_memory.h); -1: this process's cap.
  int64_t memory_cap = -1;
  // The password the user gave (-pw), for zip members encrypted the traditional way or with AES.
  const class Secret* password = nullptr;
};

// The volumes of a multi-volume rar beside `path` (x.part1.rar, x.part2.rar... or x.rar,
// x.r00, x.r01...), `path` first; just `path` for anything else.
std::vector<std::string> archive_volumes(const std::string& path);

// The member a single compressed file holds: its name without the compressor's extension.
std::string decompressed_name(const std::string& file_name);

class ForeignVisitor {
 public:
  virtual ~ForeignVisitor() = default;
  // Every entry in order; true to have its data read (asked only for unencrypted files).
  virtual bool entry(const MemberInfo& member) = 0;
  // The data of the entry whose entry() said true; false stops the walk (a cancel).
  virtual bool data(const uint8_t* bytes, size_t size) = 0;
  // After that entry's data: "" when it decoded whole, else what is wrong with it.
  virtual void entry_end(const MemberInfo& member, const std::string& problem) = 0;
  // Once, before the first entry (or at the end of an archive without any): its format's name.
  virtual void opened(const std::string& format) { (void)format; }
  // The archive's bytes consumed so far and in all, for progress; false stops the walk.
  virtual bool position(int64_t consumed, int64_t total) { return (void)consumed, (void)total, true; }
};

struct ForeignWalk {
  bool recognised = false;  // libarchive took the bytes as one of its formats
  std::string format;       // "zip", "7z", "rar5", "tar.gz", "gz"...
  std::string problem;      // why the walk could not go on to the end; "" when it did
  std::vector<std::string> damaged;  // entries whose header was damaged, the walk going on after them
  bool names_encrypted = false;
  bool stopped = false;     // the visitor stopped it
  bool memory_refused = false;  // it ended at a member whose decoder was refused the memory it asked
  int64_t entries = 0;
};

// How a member's problem begins when its decoder was refused memory: "needs 4096 MB of memory...".
// Not damage: the archive may be sound, only too demanding for this machine.
constexpr const char* MEMORY_REFUSAL = "needs ";

// Walks every entry of the archive in `source`. Never throws; an allocation libarchive cannot
// get ends the walk with a problem.
ForeignWalk walk_foreign(const ForeignSource& source, ForeignVisitor& visitor);

// The line "a member's path" of the machine listing: bytes below 0x20, 0x7F, '\' and bytes that
// are not UTF-8 written \xNN.
std::string listing_path(const std::string& path);

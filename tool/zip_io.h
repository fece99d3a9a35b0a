// A zip read and written through libarchive, with every byte passing through our own files:
// the writer's output goes into a file we opened (the archive's replacement), the reader's
// input comes from one. The library never opens, creates or names a file itself.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "file_io.h"

struct archive;
struct archive_entry;

namespace compression {
class BufferedWriter;
}

enum class ZipKind { FILE, FOLDER, LINK };

struct ZipMember {
  ZipKind kind = ZipKind::FILE;
  std::string path;       // UTF-8, '/' between parts, a folder without its trailing '/'
  std::string link;       // a link's target
  int64_t size = 0;       // -1 when the archive does not say
  int64_t mtime_ns = 0;
  bool has_mtime = false;
  uint32_t mode = 0;      // permission bits
  bool read_only = false; // gets the read-only attribute where the zip is unpacked
};

// Writes members one after another. The library writes its headers with the data length
// following the data; once a member is done its local header is given the CRC and lengths as
// well, and the central directory gets the attribute bits a reader on Windows looks at.
class ZipWriter {
 public:
  explicit ZipWriter(compression::BufferedWriter& out);
  ~ZipWriter();
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;
  // level 1..9 deflate; 0 stores every file.
  bool open(int level);
  // `stored`: the file's bytes go in as they are (they would not shrink).
  bool begin(const ZipMember& m, bool stored);
  bool write(const uint8_t* data, size_t size);
  bool end();
  // Writes the central directory and the headers left to complete.
  bool close();
  const std::string& problem() const { return problem_; }

  // libarchive's output, routed here.
  bool take(const uint8_t* data, size_t size);

 private:
  struct Pending {
    int64_t offset = 0;          // of the local header
    std::vector<uint8_t> header; // the local header as written
    uint8_t dos_attributes = 0;
    bool utf8_name = false;
  };
  bool fail(const std::string& what);
  bool complete_local_header(Pending& entry);
  bool complete_central_directory();

  compression::BufferedWriter& out_;
  struct archive* archive_ = nullptr;
  enum class Stage { OTHER, HEADER, DATA, CENTRAL } stage_ = Stage::OTHER;
  Pending current_;
  std::vector<uint8_t> last_write_;   // the latest write of a member's data stage
  std::vector<Pending> done_;         // headers and attributes, by member
  std::vector<uint8_t> central_;      // the central directory, held until completed
  int64_t central_offset_ = 0;
  std::string problem_;
};

// Reads an existing zip's members in order, refusing encrypted ones.
class ZipReader {
 public:
  ZipReader() = default;
  ~ZipReader();
  ZipReader(const ZipReader&) = delete;
  ZipReader& operator=(const ZipReader&) = delete;
  bool open(const std::string& path);
  // False at the end (problem() empty) or on a problem.
  bool next(ZipMember& m);
  // Up to `room` bytes of the current member; 0 at its end, -1 on a problem.
  int64_t read(uint8_t* buffer, size_t room);
  const std::string& problem() const { return problem_; }

  // libarchive's input, served from here.
  int64_t fill(const void** data);
  int64_t seek(int64_t offset, int whence);

 private:
  bool fail(const std::string& what);
  File file_;
  int64_t length_ = 0;
  int64_t position_ = 0;
  std::vector<uint8_t> buffer_;
  struct archive* archive_ = nullptr;
  std::string problem_;
};

// Whether the file is a zip without members: its end record alone, as Windows' "new compressed
// folder" makes it (libarchive's reader does not take it for a zip).
bool is_empty_zip(const std::string& path);

// Whether the archive path names a zip: it ends in ".zip", in any letter case.
bool is_zip_path(const std::string& path);

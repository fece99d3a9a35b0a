// Writing an archive. Work is cut into units (one file, or one solid block of files); worker
// threads compress units in any order into sinks, and the calling thread writes finished
// units in their order. Sinks hold output in memory up to a shared budget and spill the rest to
// temporary files, so memory stays bounded whatever the member sizes.
//
// Sections: sinks and units; the compressor; collecting the sources; planning units; the
// existing archive (members kept when adding); writing; compress_archive.
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_set>

#include "archive_commit.h"
#include "engine.h"
#include "file_io.h"
#include "format/archive_format.h"
#include "format/path_safety.h"
#include "format/utf8_text.h"
#include "member_names.h"

namespace {

constexpr size_t READ_CHUNK = 1 << 20;
constexpr size_t DEFLATE_CHUNK = 256 << 10;
constexpr size_t WRITE_CHUNK = 1 << 20;
constexpr size_t MAX_UNITS_AHEAD = 4096;
// Files above twice this size are cut into pieces that threads compress side by side.
constexpr int64_t PIECE_SIZE = 1 << 20;

struct Source {
  std::string path;
  StoredName stored;
  FileInfo info;
  uint8_t name_flags = 0;  // ENTRY_FLAG_UTF8_NAMES when the stored names are UTF-8
};

struct Budget {
  std::atomic<int64_t> in_memory{0};
  int64_t limit = 0;
  bool take(size_t n) {
    int64_t before = in_memory.fetch_add(static_cast<int64_t>(n));
    if (before + static_cast<int64_t>(n) <= limit) return true;
    in_memory.fetch_sub(static_cast<int64_t>(n));
    return false;
  }
};

// Compressed bytes of one unit: a memory part followed by an optional spill file.
class Sink {
 public:
  Sink(Budget& budget, std::string spill_path) : budget_(budget), spill_path_(std::move(spill_path)) {}
  ~Sink() { release(); }

  bool write(const uint8_t* data, size_t size) {
    total_ += size;
    if (!spilling_ && budget_.take(size)) {
      memory_.insert(memory_.end(), data, data + size);
      return true;
    }
    if (!spilling_) {
      if (!spill_.create_new(spill_path_)) return false;
      spilling_ = true;
    }
    return spill_.write(data, size);
  }

  bool finish() { return spill_.close(); }
  uint64_t total() const { return total_; }

  // Copies `size` bytes from the current read position to `out`.
  template <class Out>
  bool copy_to(Out& out, uint64_t size) {
    while (size > 0 && read_pos_ < memory_.size()) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(size, memory_.size() - read_pos_));
      if (!out.write(memory_.data() + read_pos_, n)) return false;
      read_pos_ += n;
      size -= n;
    }
    if (size == 0) return true;
    if (!spill_.is_open() && !spill_.open_read(spill_path_)) return false;
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(size, WRITE_CHUNK)));
    while (size > 0) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(size, buffer.size()));
      int64_t got = spill_.read(buffer.data(), n);
      if (got <= 0 || !out.write(buffer.data(), static_cast<size_t>(got))) return false;
      size -= static_cast<uint64_t>(got);
    }
    return true;
  }

  // Drops what was written, to write the unit again.
  void reset() {
    release();
    total_ = 0;
    read_pos_ = 0;
  }

  void release() {
    budget_.in_memory.fetch_sub(static_cast<int64_t>(memory_.size()));
    std::vector<uint8_t>().swap(memory_);
    spill_.close();
    if (spilling_) remove_file(spill_path_);
    spilling_ = false;
  }

 private:
  Budget& budget_;
  std::string spill_path_;
  std::vector<uint8_t> memory_;
  File spill_;
  bool spilling_ = false;
  uint64_t total_ = 0;
  size_t read_pos_ = 0;
};

struct Unit {
  size_t first = 0;   // index into sources
  size_t count = 0;
  // A piece of one large file: its offset, its length (the last piece reads to the end), and
  // what compressing it found.
  int64_t piece_offset = -1;
  int64_t piece_length = 0;
  bool last_piece = false;
  uint32_t piece_crc = 0;
  int64_t piece_size = 0;
  std::vector<EntryHeader> entries;
  std::unique_ptr<Sink> sink;
  std::string problem;
  bool done = false;
};

class BufferedWriter {
 public:
  explicit BufferedWriter(File& file) : file_(file) { buffer_.reserve(WRITE_CHUNK); }
  bool write(const void* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    if (buffer_.size() + size > WRITE_CHUNK && !flush()) return false;
    if (size >= WRITE_CHUNK) {
      written_ += size;
      return file_.write(p, size);
    }
    buffer_.insert(buffer_.end(), p, p + size);
    written_ += size;
    return true;
  }
  bool flush() {
    bool ok = buffer_.empty() || file_.write(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
  }
  int64_t written() const { return static_cast<int64_t>(written_); }
  // Overwrites bytes already written (a header whose sizes are known only at the end).
  bool patch(int64_t position, const std::vector<uint8_t>& bytes) {
    return flush() && file_.seek(position) && file_.write(bytes.data(), bytes.size()) &&
           file_.seek(static_cast<int64_t>(written_));
  }
  // Goes back to `position`: what follows is written again from there, and the file ends where
  // the writing ends (see finish).
  bool rewind(int64_t position) {
    if (!flush() || !file_.seek(position)) return false;
    written_ = static_cast<uint64_t>(position);
    return true;
  }
  bool finish() { return flush() && file_.set_length(static_cast<int64_t>(written_)); }

 private:
  File& file_;
  std::vector<uint8_t> buffer_;
  uint64_t written_ = 0;
};

// The method a job writes with, and the settings of each engine.
struct MethodChoice {
  DeflateSettings deflate;
  ZstdSettings zstd;
  bool zstd_used() const { return zstd.level > 0; }
  bool compressing() const { return zstd_used() || deflate.level > 0; }
  uint8_t method() const { return zstd_used() ? METHOD_ZSTD : deflate.level > 0 ? METHOD_DEFLATE : METHOD_STORE; }
};

int64_t unit_input_size(const Unit& unit, const std::vector<Source>& sources) {
  if (unit.piece_offset >= 0) return unit.piece_length;
  int64_t total = 0;
  for (size_t i = 0; i < unit.count; ++i) total += sources[unit.first + i].info.size;
  return total;
}

class Compressor {
 public:
  Compressor(const MethodChoice& m, RunControl* control) : choice_(m), settings_(m.deflate), control_(control) {
    in_.resize(READ_CHUNK);
    out_.resize(DEFLATE_CHUNK);
    if (m.zstd_used()) {
      zstd_ = std::make_unique<ZstdEncoder>(m.zstd);
      ready_ = zstd_->ready();
    } else if (settings_.level > 0) {
      ready_ = deflateInit2(&z_, settings_.level, Z_DEFLATED, -settings_.window_bits, settings_.mem_level,
                            Z_DEFAULT_STRATEGY) == Z_OK;
    }
  }
  ~Compressor() {
    if (ready_ && !zstd_) deflateEnd(&z_);
    if (zstd_ && cancelled(control_)) zstd_->abandon();
  }

  void run(Unit& unit, const std::vector<Source>& sources) {
    if (choice_.compressing() && !ready_) {
      unit.problem = "out of memory for the compressor";
      return;
    }
    if (unit.piece_offset >= 0) {
      run_piece(unit, sources[unit.first].path);
      if (unit.problem.empty() && !unit.sink->finish())
        unit.problem = "cannot write a temporary file beside the archive";
      return;
    }
    if (zstd_ && !zstd_->begin(unit_input_size(unit, sources), unit.problem)) return;
    if (!zstd_ && settings_.level > 0) deflateReset(&z_);
    uint64_t chunk_start = 0;
    for (size_t i = 0; i < unit.count; ++i) {
      const Source& source = sources[unit.first + i];
      EntryHeader h;
      h.name = source.stored.name;
      h.folder = source.stored.folder;
      h.mtime_ns = source.info.mtime_ns;
      h.attributes = source.info.attributes;
      h.unix_mode = source.info.unix_mode;
      h.method = choice_.method();
      h.flags = static_cast<uint8_t>(source.name_flags | (i > 0 ? ENTRY_FLAG_SOLID_NEXT : 0));
      bool last = i + 1 == unit.count;
      if (!add_file(source.path, h, *unit.sink, last, unit.problem)) return;
      h.compressed_size = unit.sink->total() - chunk_start;
      // A member on its own that came out no smaller than it is goes in again, stored; one that
      // fit a single read was already decided in add_small.
      if (unit.count == 1 && h.method != METHOD_STORE && h.compressed_size >= static_cast<uint64_t>(h.size) &&
          !store_again(source.path, h, *unit.sink, unit.problem))
        return;
      chunk_start = unit.sink->total();
      unit.entries.push_back(h);
    }
    if (!unit.sink->finish()) unit.problem = "cannot write a temporary file beside the archive";
  }

 private:
  // A deflate piece is primed with the window of data before it and ends on a sync flush (the
  // last on the stream's end), so the pieces in order form one ordinary deflate stream. A zstd
  // piece is a frame of its own; a member's frames follow one another.
  void run_piece(Unit& unit, const std::string& path) {
    File file;
    if (!file.open_source(path, unit.problem)) return;
    if (zstd_ && !zstd_->begin(unit.piece_length, unit.problem)) return;
    if (!zstd_ && settings_.level > 0) {
      deflateReset(&z_);
      if (unit.piece_offset > 0) {
        size_t window = std::min<size_t>(size_t(1) << settings_.window_bits, static_cast<size_t>(unit.piece_offset));
        if (!file.read_at(unit.piece_offset - static_cast<int64_t>(window), in_.data(), window) ||
            deflateSetDictionary(&z_, in_.data(), static_cast<uInt>(window)) != Z_OK) {
          unit.problem = "cannot read " + path;
          return;
        }
      }
    }
    if (!file.seek(unit.piece_offset)) {
      unit.problem = "cannot read " + path;
      return;
    }
    uint32_t crc = crc32(0, nullptr, 0);
    int64_t left = unit.piece_length;
    for (;;) {
      size_t want = unit.last_piece ? in_.size() : static_cast<size_t>(std::min<int64_t>(left, in_.size()));
      int64_t got = want ? file.read(in_.data(), want) : 0;
      if (got < 0) {
        unit.problem = "cannot read " + path;
        return;
      }
      if (!count_read(got, unit.problem)) return;
      if (got == 0 && !unit.last_piece && left > 0) {
        unit.problem = path + " changed while it was read";
        return;
      }
      crc = crc32_z(crc, in_.data(), static_cast<size_t>(got));
      unit.piece_size += got;
      left -= got;
      bool end = got == 0;
      int flush = !end ? Z_NO_FLUSH : unit.last_piece ? Z_FINISH : Z_SYNC_FLUSH;
      if (!emit(in_.data(), static_cast<size_t>(got), flush, *unit.sink, unit.problem)) return;
      if (end) break;
    }
    unit.piece_crc = crc;
  }

  bool add_file(const std::string& path, EntryHeader& h, Sink& sink, bool last, std::string& problem) {
    if (control_) control_->working_on(&path);
    File file;
    if (!file.open_source(path, problem)) return false;
    uint32_t crc = crc32(0, nullptr, 0);
    int64_t size = 0;
    bool first_read = true;
    for (;;) {
      int64_t got = file.read(in_.data(), in_.size());
      if (got < 0) {
        problem = "cannot read " + path;
        return false;
      }
      if (!count_read(got, problem)) return false;
      crc = crc32_z(crc, in_.data(), static_cast<size_t>(got));
      size += got;
      bool end = got == 0;
      if (first_read && choice_.compressing() && static_cast<size_t>(got) < in_.size() &&
          !(h.flags & ENTRY_FLAG_SOLID_NEXT) && last) {
        // A file that fits one read: store it when deflate would not make it smaller.
        int64_t more = end ? 0 : file.read(in_.data() + got, 1);
        if (more == 0) return add_small(in_.data(), static_cast<size_t>(got), crc, h, sink, problem);
        if (more < 0) {
          problem = "cannot read " + path;
          return false;
        }
        crc = crc32_z(crc, in_.data() + got, 1);
        size += 1;
        got += 1;
      }
      first_read = false;
      if (!emit(in_.data(), static_cast<size_t>(got), end && last ? Z_FINISH : Z_NO_FLUSH, sink, problem))
        return false;
      if (end) break;
    }
    h.size = size;
    h.crc = crc;
    return true;
  }

  bool store_again(const std::string& path, EntryHeader& h, Sink& sink, std::string& problem) {
    sink.reset();
    File file;
    if (!file.open_source(path, problem)) return false;
    uint32_t crc = crc32(0, nullptr, 0);
    int64_t size = 0;
    for (int64_t got; (got = file.read(in_.data(), in_.size())) != 0;) {
      if (got < 0) {
        problem = "cannot read " + path;
        return false;
      }
      crc = crc32_z(crc, in_.data(), static_cast<size_t>(got));
      size += got;
      if (!write_sink(sink, in_.data(), static_cast<size_t>(got), problem)) return false;
    }
    h.method = METHOD_STORE;
    h.size = size;
    h.crc = crc;
    h.compressed_size = sink.total();
    return true;
  }

  bool add_small(const uint8_t* data, size_t size, uint32_t crc, EntryHeader& h, Sink& sink,
                 std::string& problem) {
    h.size = static_cast<int64_t>(size);
    h.crc = crc;
    if (zstd_) return add_small_zstd(data, size, h, sink, problem);
    uLong bound = deflateBound(&z_, static_cast<uLong>(size));
    if (small_.size() < bound) small_.resize(bound);
    z_.next_in = const_cast<Bytef*>(data);
    z_.avail_in = static_cast<uInt>(size);
    z_.next_out = small_.data();
    z_.avail_out = static_cast<uInt>(small_.size());
    if (deflate(&z_, Z_FINISH) != Z_STREAM_END) {
      problem = "compression failed";
      return false;
    }
    size_t packed = small_.size() - z_.avail_out;
    if (packed >= size) {
      h.method = METHOD_STORE;
      return write_sink(sink, data, size, problem);
    }
    return write_sink(sink, small_.data(), packed, problem);
  }

  bool add_small_zstd(const uint8_t* data, size_t size, EntryHeader& h, Sink& sink, std::string& problem) {
    if (!zstd_->compress_all(data, size, small_, problem)) return false;
    if (small_.size() >= size) {
      h.method = METHOD_STORE;
      return write_sink(sink, data, size, problem);
    }
    return write_sink(sink, small_.data(), small_.size(), problem);
  }

  bool emit(const uint8_t* data, size_t size, int flush, Sink& sink, std::string& problem) {
    if (zstd_) {
      // A stream's workers hand back output as they go: the place to see a cancel mid-stream.
      bool fed = zstd_->feed(data, size, flush != Z_NO_FLUSH,
                             [&](const uint8_t* p, size_t n) { return !cancelled(control_) && sink.write(p, n); },
                             problem);
      if (!fed && cancelled(control_)) problem = CANCELLED_PROBLEM;
      return fed;
    }
    if (settings_.level == 0) return write_sink(sink, data, size, problem);
    z_.next_in = const_cast<Bytef*>(data);
    z_.avail_in = static_cast<uInt>(size);
    for (;;) {
      z_.next_out = out_.data();
      z_.avail_out = static_cast<uInt>(out_.size());
      int rc = deflate(&z_, flush);
      if (rc == Z_STREAM_ERROR) {
        problem = "compression failed";
        return false;
      }
      size_t produced = out_.size() - z_.avail_out;
      if (produced && !write_sink(sink, out_.data(), produced, problem)) return false;
      if (flush == Z_FINISH ? rc == Z_STREAM_END : (z_.avail_in == 0 && z_.avail_out != 0)) return true;
    }
  }

  // Counts a block read and checks, between blocks, whether the run was asked to stop.
  bool count_read(int64_t bytes, std::string& problem) {
    add_progress(control_, bytes);
    if (!cancelled(control_)) return true;
    problem = CANCELLED_PROBLEM;
    return false;
  }

  static bool write_sink(Sink& sink, const uint8_t* data, size_t size, std::string& problem) {
    if (sink.write(data, size)) return true;
    problem = "cannot write a temporary file beside the archive";
    return false;
  }

  MethodChoice choice_;
  DeflateSettings settings_;
  RunControl* control_;
  std::unique_ptr<ZstdEncoder> zstd_;
  z_stream z_{};
  bool ready_ = false;
  std::vector<uint8_t> in_, out_, small_;
};

bool expand_source(const std::string& path, std::vector<std::string>& files, std::string& problem) {
  FileInfo info = source_info(path);
  if (!info.exists) {
    problem = "cannot find " + path + ": " + last_error_text();
    return false;
  }
  if (!info.is_directory) {
    // Reading a device or a FIFO could run forever or block for good.
    if (!info.is_regular) {
      problem = "refused " + path + ": not a regular file (a device, FIFO or socket)";
      return false;
    }
    files.push_back(path);
    return true;
  }
  // A folder that cannot be read in full is an error: an archive silently missing its files
  // would look like a success.
  std::vector<std::string> names;
  if (!list_directory(path, names)) {
    problem = "cannot read folder " + path + ": " + last_error_text();
    return false;
  }
  std::sort(names.begin(), names.end());
  std::string prefix = path;
  if (prefix.back() != '/' && prefix.back() != '\\') prefix += native_separator();
  for (const std::string& name : names) {
    std::string child = prefix + name;
    // Links to folders are not followed (they could loop or leave the chosen tree), and a
    // link that leads nowhere has no data to store.
    if (file_info(child).is_link) {
      FileInfo target = source_info(child);
      if (!target.exists || target.is_directory) continue;
    }
    if (!expand_source(child, files, problem)) return false;
  }
  return true;
}

std::string absolute(const std::string& path) {
  if (is_absolute_path(path)) return path;
  return current_directory() + native_separator() + path;
}

bool collect_sources(const CompressJob& job, std::vector<Source>& out, std::string& problem) {
  std::vector<std::string> files;
  for (const std::string& source : job.sources)
    if (!expand_source(source, files, problem)) return false;
  std::unordered_set<std::string> seen;
  std::vector<std::string> unique;
  for (const std::string& f : files)
    if (seen.insert(absolute(f)).second) unique.push_back(f);
  std::vector<std::string> full;
  for (const std::string& f : unique) full.push_back(absolute(f));
  std::vector<StoredName> names;
  bool system_utf8 = system_text_is_utf8();
  if (!stored_names(full, job.keep_folders, names, problem)) return false;
  out.clear();
  for (size_t i = 0; i < unique.size(); ++i) {
    Source s{unique[i], names[i], source_info(unique[i])};
    if (system_utf8 && utf8_valid(s.stored.folder) && utf8_valid(s.stored.name))
      s.name_flags = ENTRY_FLAG_UTF8_NAMES;
    MemberPathCheck check = check_member_path(s.stored.folder, s.stored.name);
    if (!check.ok) {
      problem = "cannot store " + unique[i] + ": " + check.reason;
      return false;
    }
    if (s.stored.folder.size() > MAX_TEXT_FIELD || s.stored.name.size() > MAX_TEXT_FIELD) {
      problem = "path too long to store (more than 32,767 bytes): " + unique[i];
      return false;
    }
    out.push_back(std::move(s));
  }
  return true;
}

std::vector<Unit> plan_units(const std::vector<Source>& sources, const CompressJob& job, int threads) {
  // Units are written in order: a large file's pieces follow one another.
  std::vector<Unit> units;
  bool zstd = job.zstd.level > 0;
  bool solid = job.solid && (job.deflate.level > 0 || zstd);
  int64_t total = 0;
  for (const Source& s : sources) total += s.info.size;
  // Deflate: solid blocks small enough that every thread gets several, large enough to share
  // context. zstd: one stream, its own workers share the work and the whole window.
  int64_t block = std::clamp<int64_t>(total / (4 * threads), 4 << 20, 256 << 20);
  if (zstd) block = INT64_MAX;
  // A zstd piece starts a fresh frame, so pieces are larger than deflate's primed ones.
  const int64_t piece_size = zstd ? int64_t(8) << 20 : PIECE_SIZE;
  int64_t in_block = 0;
  for (size_t i = 0; i < sources.size(); ++i) {
    int64_t size = sources[i].info.size;
    // A file larger than a solid block gains nothing from sharing a stream; cut it instead.
    if ((!solid || size > block) && threads > 1 && size > 2 * piece_size) {
      for (int64_t offset = 0; offset < size; offset += piece_size) {
        Unit u;
        u.first = i;
        u.count = 1;
        u.piece_offset = offset;
        u.piece_length = std::min(piece_size, size - offset);
        u.last_piece = offset + piece_size >= size;
        units.push_back(std::move(u));
      }
      in_block = block;
      continue;
    }
    if (solid && !units.empty() && in_block < block && units.back().piece_offset < 0) {
      units.back().count++;
    } else {
      Unit u;
      u.first = i;
      u.count = 1;
      units.push_back(std::move(u));
      in_block = 0;
    }
    in_block += sources[i].info.size;
  }
  return units;
}

std::string extension_of(const std::string& name) {
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

// Files of one kind and one name compress best next to each other in a shared stream.
void order_for_solid(std::vector<Source>& sources) {
  std::stable_sort(sources.begin(), sources.end(), [](const Source& a, const Source& b) {
    int by_kind = extension_of(a.stored.name).compare(extension_of(b.stored.name));
    if (by_kind != 0) return by_kind < 0;
    int by_name = a.stored.name.compare(b.stored.name);
    if (by_name != 0) return by_name < 0;
    return a.stored.folder < b.stored.folder;
  });
}

// ---- The existing archive: adding keeps its members ----

// What of an existing archive goes into the new one: runs of entries copied byte for byte,
// and the members of a solid stream that lost a member to a listed file, unpacked into a
// temporary folder and compressed again (a deflate stream cannot be cut). The unpacked files
// are named by their place in the index, never by their member names: two members that the
// file system takes as one name (letter case, short names) must not meet on disk.
struct Existing {
  std::string path;
  std::vector<std::pair<int64_t, int64_t>> stretches;  // offset and length of entries kept as they are
  int64_t members = 0;
  int64_t bytes_in = 0;
  std::string unpack_folder;                 // "" when nothing was unpacked
  std::vector<Source> unpacked;

  // The folder is ours (created exclusively under a random name) and holds only files named
  // by the unpacking, so whatever is in it goes, whether the run failed or not.
  ~Existing() {
    if (unpack_folder.empty()) return;
    std::vector<std::string> names;
    list_directory(unpack_folder, names);
    for (const std::string& name : names) remove_file(unpack_folder + native_separator() + name);
    remove_folder(unpack_folder);
  }
};

bool unpack_members(const std::string& archive, int64_t start, const std::vector<StoredEntry>& members,
                    const std::vector<size_t>& places, Existing& existing, std::string& problem) {
  std::string folder = archive + ".vantor-" + random_token() + ".d";
  if (create_folder(folder) != FolderStatus::CREATED) {
    problem = "cannot create the temporary folder " + folder + ": " + last_error_text();
    return false;
  }
  existing.unpack_folder = folder;
  std::unordered_set<size_t> wanted(places.begin(), places.end());
  for (size_t k = 0; k < members.size(); ++k) {
    const StoredEntry& e = members[k];
    Source s;
    s.path = folder + native_separator() + std::to_string(places[k]);
    s.stored = StoredName{e.header.folder, e.header.name};
    // The index walk gave the names in the system's text, as collect_sources has them.
    if (system_text_is_utf8() && utf8_valid(s.stored.folder) && utf8_valid(s.stored.name))
      s.name_flags = ENTRY_FLAG_UTF8_NAMES;
    s.info.exists = s.info.is_regular = true;
    s.info.size = e.header.size;
    s.info.mtime_ns = e.header.mtime_ns;
    s.info.attributes = e.header.attributes;
    s.info.unix_mode = e.header.unix_mode;
    existing.unpacked.push_back(std::move(s));
  }
  ReadJob read;
  read.archive_path = archive;
  read.destination = folder;
  read.index_start = start;
  // Chosen by place, not by path: a name twice in the index is two members.
  read.file_name = [&wanted](size_t entry) { return wanted.count(entry) ? std::to_string(entry) : std::string(); };
  RunResult result = read_archive_with(read, nullptr);
  if (!result.ok) problem = result.problems.empty() ? "cannot unpack its members" : result.problems.front();
  return result.ok;
}

// Reads the archive that `a` adds to, when there is one. A listed file replaces the member of
// the same path; everything else is kept. An archive that cannot be read is left alone and
// the run refused, never overwritten.
bool plan_existing(const CompressJob& job, const std::vector<Source>& sources, Existing& existing,
                   std::string& problem) {
  if (!file_info(job.archive_path).exists) return true;
  int64_t start = index_start(job.archive_path);
  std::vector<StoredEntry> entries;
  if (!read_index(job.archive_path, start, entries, problem)) {
    problem = "cannot add to " + job.archive_path + ", left as it was: " + problem;
    return false;
  }
  existing.path = job.archive_path;
  std::unordered_set<std::string> replaced;
  for (const Source& s : sources) replaced.insert(s.stored.folder + s.stored.name);
  std::vector<StoredEntry> unpack;
  std::vector<size_t> places;  // of the unpacked entries in the index
  for (size_t first = 0, end = 0; first < entries.size(); first = end) {
    size_t hit = 0;
    for (end = first; end < entries.size() && (end == first || (entries[end].header.flags & ENTRY_FLAG_SOLID_NEXT)); ++end)
      hit += replaced.count(entries[end].header.path());
    if (hit > 0) {
      for (size_t i = first; i < end && end - first > 1; ++i)
        if (!replaced.count(entries[i].header.path())) {
          unpack.push_back(entries[i]);
          places.push_back(i);
        }
      continue;
    }
    int64_t offset = entries[first].offset;
    int64_t stop = entries[end - 1].data_offset + static_cast<int64_t>(entries[end - 1].header.compressed_size);
    if (!existing.stretches.empty() && existing.stretches.back().first + existing.stretches.back().second == offset)
      existing.stretches.back().second += stop - offset;
    else
      existing.stretches.emplace_back(offset, stop - offset);
    for (size_t i = first; i < end; ++i) {
      existing.members++;
      existing.bytes_in += entries[i].header.size;
    }
  }
  if (!unpack.empty() && !unpack_members(job.archive_path, start, unpack, places, existing, problem)) {
    problem = "cannot add to " + job.archive_path + ", left as it was: " + problem;
    return false;
  }
  return true;
}

bool copy_existing(const Existing& existing, BufferedWriter& out, RunResult& result, RunControl* control) {
  if (existing.stretches.empty()) return true;
  File old;
  std::vector<uint8_t> buffer(WRITE_CHUNK);
  bool ok = old.open_read(existing.path);
  for (auto [offset, length] : existing.stretches) {
    while (ok && length > 0 && !cancelled(control)) {
      size_t n = static_cast<size_t>(std::min<int64_t>(length, static_cast<int64_t>(buffer.size())));
      ok = old.read_at(offset, buffer.data(), n) && out.write(buffer.data(), n);
      offset += static_cast<int64_t>(n);
      length -= static_cast<int64_t>(n);
      add_progress(control, static_cast<int64_t>(n));
    }
  }
  if (cancelled(control)) {
    result.cancelled = true;
    return false;
  }
  if (!ok) {
    result.problems.push_back("cannot copy the members of " + existing.path);
    return false;
  }
  result.members += existing.members;
  result.bytes_in += existing.bytes_in;
  return true;
}

struct Schedule {
  std::mutex lock;
  std::condition_variable changed;
  size_t next_unit = 0;
  size_t next_write = 0;
  bool stop = false;
};

void worker(std::vector<Unit>& units, const std::vector<Source>& sources,
            const MethodChoice& choice, Schedule& schedule, RunControl* control) {
  Compressor compressor(choice, control);
  for (;;) {
    size_t index;
    {
      std::unique_lock<std::mutex> guard(schedule.lock);
      schedule.changed.wait(guard, [&] {
        return schedule.stop || schedule.next_unit >= units.size() ||
               schedule.next_unit < schedule.next_write + MAX_UNITS_AHEAD;
      });
      if (schedule.stop || schedule.next_unit >= units.size()) return;
      index = schedule.next_unit++;
    }
    if (cancelled(control)) units[index].problem = CANCELLED_PROBLEM;
    else compressor.run(units[index], sources);
    {
      std::lock_guard<std::mutex> guard(schedule.lock);
      units[index].done = true;
    }
    schedule.changed.notify_all();
  }
}

bool write_stub(BufferedWriter& out, const CompressJob& job, std::string& problem) {
  if (job.stub_size > static_cast<size_t>(INDEX_STUB_SIZE)) {
    problem = "self-extracting stub is larger than its slot";
    return false;
  }
  std::vector<uint8_t> image(static_cast<size_t>(INDEX_STUB_SIZE), 0);
  if (job.stub_size) std::copy(job.stub, job.stub + job.stub_size, image.begin());
  if (!out.write(image.data(), image.size())) {
    problem = "cannot write the archive";
    return false;
  }
  return true;
}

// The entry of a file cut into pieces: its header goes first with sizes still unknown and is
// rewritten once the last piece is in.
struct PieceEntry {
  EntryHeader header;
  int64_t header_position = -1;
};

// Writes the file stored from the entry's header on, over its pieces; the bytes must be the ones
// the pieces were made of.
bool store_over_pieces(const Source& source, PieceEntry& entry, BufferedWriter& out, RunResult& result) {
  EntryHeader& h = entry.header;
  h.method = METHOD_STORE;
  h.compressed_size = static_cast<uint64_t>(h.size);
  h.entry_length = header_size(h.name.size(), h.folder.size()) + h.size;
  std::vector<uint8_t> header = encode_header(h);
  File file;
  std::string problem;
  if (!file.open_source(source.path, problem)) {
    result.problems.push_back(problem);
    return false;
  }
  if (!out.rewind(entry.header_position) || !out.write(header.data(), header.size())) return false;
  std::vector<uint8_t> buffer(READ_CHUNK);
  uint32_t crc = crc32(0, nullptr, 0);
  int64_t left = h.size;
  while (left > 0) {
    int64_t got = file.read(buffer.data(), static_cast<size_t>(std::min<int64_t>(left, buffer.size())));
    if (got <= 0) break;
    crc = crc32_z(crc, buffer.data(), static_cast<size_t>(got));
    if (!out.write(buffer.data(), static_cast<size_t>(got))) return false;
    left -= got;
  }
  if (left != 0 || crc != h.crc) {
    result.problems.push_back(source.path + " changed while it was read");
    return false;
  }
  return true;
}

bool write_piece(Unit& unit, const Source& source, uint8_t method, PieceEntry& entry, BufferedWriter& out,
                 RunResult& result) {
  EntryHeader& h = entry.header;
  if (unit.piece_offset == 0) {
    h = EntryHeader();
    h.name = source.stored.name;
    h.folder = source.stored.folder;
    h.mtime_ns = source.info.mtime_ns;
    h.attributes = source.info.attributes;
    h.unix_mode = source.info.unix_mode;
    h.method = method;
    h.flags = source.name_flags;
    h.crc = crc32(0, nullptr, 0);
    entry.header_position = out.written();
    std::vector<uint8_t> placeholder = encode_header(h);
    if (!out.write(placeholder.data(), placeholder.size())) return false;
  }
  h.crc = static_cast<uint32_t>(crc32_combine(h.crc, unit.piece_crc, unit.piece_size));
  h.size += unit.piece_size;
  h.compressed_size += unit.sink->total();
  if (!unit.sink->copy_to(out, unit.sink->total())) return false;
  if (!unit.last_piece) return true;
  result.members++;
  result.bytes_in += h.size;
  // Pieces that came out no smaller than the file are written over with the file, stored.
  if (h.method != METHOD_STORE && h.compressed_size >= static_cast<uint64_t>(h.size))
    return store_over_pieces(source, entry, out, result);
  h.entry_length = header_size(h.name.size(), h.folder.size()) + static_cast<int64_t>(h.compressed_size);
  return out.patch(entry.header_position, encode_header(h));
}

bool write_units(std::vector<Unit>& units, const std::vector<Source>& sources, const MethodChoice& choice,
                 const CompressJob& job, Schedule& schedule, BufferedWriter& out, RunResult& result) {
  PieceEntry piece_entry;
  uint8_t piece_method = choice.method();
  int64_t total = 0, done = 0;
  for (const Source& s : sources) total += s.info.size;
  for (size_t i = 0; i < units.size(); ++i) {
    Unit& unit = units[i];
    {
      std::unique_lock<std::mutex> guard(schedule.lock);
      schedule.changed.wait(guard, [&] { return unit.done; });
    }
    if (!unit.problem.empty()) {
      if (cancelled(job.control)) result.cancelled = true;
      else result.problems.push_back(unit.problem);
      return false;
    }
    bool written = true;
    if (unit.piece_offset >= 0) {
      written = write_piece(unit, sources[unit.first], piece_method, piece_entry, out, result);
    } else {
      for (EntryHeader& h : unit.entries) {
        h.entry_length = header_size(h.name.size(), h.folder.size()) + static_cast<int64_t>(h.compressed_size);
        std::vector<uint8_t> bytes = encode_header(h);
        written = written && out.write(bytes.data(), bytes.size()) && unit.sink->copy_to(out, h.compressed_size);
        result.members++;
        result.bytes_in += h.size;
      }
    }
    if (!written) {
      result.problems.push_back("cannot write the archive");
      return false;
    }
    done += unit_input_size(unit, sources);
    if (job.progress) job.progress(done, total);
    unit.sink.reset();
    {
      std::lock_guard<std::mutex> guard(schedule.lock);
      schedule.next_write = i + 1;
    }
    schedule.changed.notify_all();
  }
  return true;
}


// What the live figures count to: the files read, and the kept members copied.
int64_t run_total(const std::vector<Source>& sources, const Existing& existing) {
  int64_t total = 0;
  for (const Source& s : sources) total += s.info.size;
  for (auto stretch : existing.stretches) total += stretch.second;
  return total;
}

}  // namespace

DeflateSettings deflate_settings(int method, bool ultra, int window_position) {
  static const int normal[] = {0, 1, 4, 6};
  static const int strong[] = {0, 5, 8, 9};
  DeflateSettings s;
  method = std::clamp(method, 0, 3);
  s.level = ultra ? strong[method] : normal[method];
  s.window_bits = std::clamp(window_position + 8, 9, 15);
  s.mem_level = ultra ? 9 : 8;
  return s;
}

RunResult compress_archive(const CompressJob& job) {
  RunResult result;
  ForgetMemberOnExit forget{job.control};
  std::string problem;
  // Held until everything below is gone: two runs that both start from the old archive would
  // each drop the other's members. The old archive is read only under the lock.
  ArchiveLock lock;
  ArchiveLock::Outcome locked = lock.take(job.archive_path, job.lock_wait_ms);
  if (locked != ArchiveLock::Outcome::TAKEN) {
    result.ok = false;
    if (locked == ArchiveLock::Outcome::BUSY)
      result.problems.push_back(job.archive_path + " is being written by another run; gave up after " +
                                std::to_string((job.lock_wait_ms + 999) / 1000) +
                                " seconds and changed nothing (try again when that run has ended)");
    else
      result.problems.push_back("cannot create or lock " + job.archive_path +
                                ".vantor-lock, which keeps other runs away from the archive: " + last_error_text());
    return result;
  }
  // Whatever a killed run left beside the archive is ours to remove now.
  remove_stale_temporaries(job.archive_path);
  std::vector<Source> sources;
  if (!collect_sources(job, sources, problem)) {
    result.ok = false;
    result.problems.push_back(problem);
    return result;
  }
  Existing existing;
  if (!plan_existing(job, sources, existing, problem)) {
    result.ok = false;
    result.problems.push_back(problem);
    return result;
  }
  sources.insert(sources.begin(), existing.unpacked.begin(), existing.unpacked.end());
  if (job.solid) order_for_solid(sources);
  int threads = resolve_thread_count(job.threads);
  MethodChoice choice{job.deflate, job.zstd};
  int encoders = threads;
  if (choice.zstd_used()) {
    // A solid stream runs on zstd's own workers; otherwise each of our threads has an encoder.
    choice.zstd.workers = job.solid && threads > 1 ? threads : 0;
    if (job.solid) encoders = 1;
    std::string note = fit_zstd_memory(choice.zstd, encoders, address_space_budget());
    if (!note.empty()) result.notes.push_back(note);
    if (!job.solid) threads = encoders;
  }
  std::vector<Unit> units = plan_units(sources, job, threads);

  // Unpredictable and created exclusively: a failed run removes only what it made itself.
  std::string token = random_token();
  std::string temp = job.archive_path + ".vantor-" + token + ".tmp";
  Budget budget;
  budget.limit = std::max<int64_t>(job.memory_budget, 1 << 20);
  for (size_t i = 0; i < units.size(); ++i)
    units[i].sink = std::make_unique<Sink>(budget, temp + "." + std::to_string(i));

  Replacement replacement;
  if (!replacement.create(job.archive_path, token)) {
    result.ok = false;
    result.problems.push_back("cannot create " + temp + ": " + last_error_text());
    return result;
  }
  File& file = replacement.file();
  BufferedWriter out(file);
  bool ok = !job.self_extracting || write_stub(out, job, problem);
  if (!ok) result.problems.push_back(problem);
  if (job.control) job.control->total.store(run_total(sources, existing));
  ok = ok && copy_existing(existing, out, result, job.control);

  Schedule schedule;
  std::vector<std::thread> pool;
  if (ok)
    for (int t = 0; t < std::min<int>(threads, static_cast<int>(units.size())); ++t)
      pool.emplace_back(worker, std::ref(units), std::cref(sources), std::cref(choice), std::ref(schedule),
                        job.control);
  ok = ok && write_units(units, sources, choice, job, schedule, out, result);
  {
    std::lock_guard<std::mutex> guard(schedule.lock);
    schedule.stop = true;
  }
  schedule.changed.notify_all();
  for (std::thread& t : pool) t.join();
  units.clear();

  if (ok && !out.finish()) {
    ok = false;
    result.problems.push_back("cannot write the archive");
  }
  result.bytes_out = out.written();
  // The archive replaced keeps its Mark of the Web: a downloaded archive stays one.
  std::string zone_mark = ok ? read_zone_mark(job.archive_path) : std::string();
  // On the disk before it takes the old one's place; otherwise the replacement is discarded.
  if (ok && !replacement.commit(problem)) {
    ok = false;
    result.problems.push_back(problem);
  }
  if (ok) write_zone_mark(job.archive_path, zone_mark);
  result.ok = ok;
  return result;
}

// The walk over a foreign archive: libarchive set up with the formats and filters it decodes
// itself, fed through our own callbacks, its entries described in our terms.
#include "foreign_reader.h"

#include "password.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <memory>
#include <new>

#include <zlib.h>

#include "file_io.h"
#include "foreign_memory.h"

namespace {

constexpr size_t READ_CHUNK = 256 << 10;
constexpr size_t DATA_CHUNK = 256 << 10;
// Compression layers over one archive: tar.gz has one, an rpm's cpio two. Stacked deeper they
// are no archive anyone sends, only a way to make decoding run on (a gzip that decodes to itself).
constexpr int MAX_FILTERS = 3;

// One volume of the archive, or the bytes in memory.
struct Part {
  File file;
  const uint8_t* data = nullptr;
  int64_t length = 0;
  int64_t pos = 0;
  std::vector<uint8_t> buffer;
};

la_ssize_t read_part(struct archive* a, void* client, const void** out) {
  Part& p = *static_cast<Part*>(client);
  if (p.pos >= p.length) return 0;
  size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(READ_CHUNK), p.length - p.pos));
  if (p.data) {
    *out = p.data + p.pos;
    p.pos += static_cast<int64_t>(n);
    return static_cast<la_ssize_t>(n);
  }
  int64_t got = p.file.read(p.buffer.data(), n);
  if (got < 0) {
    archive_set_error(a, EIO, "cannot read the archive: %s", last_error_text().c_str());
    return ARCHIVE_FATAL;
  }
  p.pos += got;
  *out = p.buffer.data();
  return static_cast<la_ssize_t>(got);
}

la_int64_t seek_part(struct archive*, void* client, la_int64_t offset, int whence) {
  Part& p = *static_cast<Part*>(client);
  int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? p.pos : p.length;
  if ((offset < 0 && -offset > base) || (offset > 0 && offset > p.length - base)) return ARCHIVE_FATAL;
  int64_t target = base + offset;
  if (!p.data && !p.file.seek(target)) return ARCHIVE_FATAL;
  p.pos = target;
  return target;
}

la_int64_t skip_part(struct archive*, void* client, la_int64_t request) {
  Part& p = *static_cast<Part*>(client);
  int64_t n = std::clamp<int64_t>(request, 0, p.length - p.pos);
  if (!p.data && !p.file.seek(p.pos + n)) return 0;
  p.pos += n;
  return n;
}

// The next volume is read from its start.
int switch_part(struct archive*, void*, void* next) {
  Part* p = static_cast<Part*>(next);
  if (!p) return ARCHIVE_OK;
  p->pos = 0;
  return p->data || p->file.seek(0) ? ARCHIVE_OK : ARCHIVE_FATAL;
}

using Support = int (*)(struct archive*);

// Filters that decode inside the library. A filter whose library was not built in falls back to
// running an external program and says so with a warning: those are never registered.
const std::vector<Support>& builtin_filters() {
  static const std::vector<Support> filters = [] {
    std::vector<Support> found;
    for (Support s : {archive_read_support_filter_gzip, archive_read_support_filter_bzip2,
                      archive_read_support_filter_compress, archive_read_support_filter_xz,
                      archive_read_support_filter_lzma, archive_read_support_filter_lzip,
                      archive_read_support_filter_lz4, archive_read_support_filter_zstd,
                      archive_read_support_filter_lzop, archive_read_support_filter_grzip,
                      archive_read_support_filter_lrzip, archive_read_support_filter_uu,
                      archive_read_support_filter_rpm}) {
      struct archive* probe = archive_read_new();
      if (!probe) continue;
      if (s(probe) == ARCHIVE_OK) found.push_back(s);
      archive_read_free(probe);
    }
    return found;
  }();
  return filters;
}

// Every format libarchive reads but mtree, whose entries take their data from files named on
// this machine, and raw and empty, which take anything (raw is tried apart, see walk_foreign).
struct archive* new_reader(bool raw) {
  struct archive* a = archive_read_new();
  if (!a) return nullptr;
  if (raw) {
    archive_read_support_format_raw(a);
  } else {
    for (Support s : {archive_read_support_format_7zip, archive_read_support_format_ar,
                      archive_read_support_format_cab, archive_read_support_format_cpio,
                      archive_read_support_format_iso9660, archive_read_support_format_lha,
                      archive_read_support_format_rar, archive_read_support_format_rar5,
                      archive_read_support_format_tar, archive_read_support_format_warc,
                      archive_read_support_format_xar, archive_read_support_format_zip})
      s(a);
  }
  for (Support s : builtin_filters()) s(a);
  return a;
}

std::string megabytes(int64_t bytes) { return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MB"; }

std::string error_text(struct archive* a) {
  // A request past the cap fails as the system's refusal would, and one the system refused is
  // remembered as well: the reason is ours to give, naming the need.
  if (int64_t need = ForeignMemoryCap::take_refused()) {
    if (need > ForeignMemoryCap::cap())
      return std::string(MEMORY_REFUSAL) + megabytes(need) + " of memory at once, more than the " +
             megabytes(ForeignMemoryCap::cap()) + " a member may take here";
    return std::string(MEMORY_REFUSAL) + megabytes(need) + " of memory at once, which this system did not give";
  }
  const char* text = archive_error_string(a);
  if (archive_errno(a) == ENOMEM) return std::string("out of memory") + (text ? std::string(" (") + text + ")" : "");
  return text && *text ? text : "unreadable data";
}

std::string filter_suffix(int code, const char* name) {
  switch (code) {
    case ARCHIVE_FILTER_GZIP: return "gz";
    case ARCHIVE_FILTER_BZIP2: return "bz2";
    case ARCHIVE_FILTER_COMPRESS: return "Z";
    case ARCHIVE_FILTER_XZ: return "xz";
    case ARCHIVE_FILTER_LZMA: return "lzma";
    case ARCHIVE_FILTER_LZIP: return "lz";
    case ARCHIVE_FILTER_LZ4: return "lz4";
    case ARCHIVE_FILTER_ZSTD: return "zst";
    case ARCHIVE_FILTER_LZOP: return "lzo";
    case ARCHIVE_FILTER_UU: return "uu";
    case ARCHIVE_FILTER_RPM: return "rpm";
    default: return name ? name : "filter";
  }
}

std::string format_name(struct archive* a) {
  std::string base;
  switch (archive_format(a) & ARCHIVE_FORMAT_BASE_MASK) {
    case ARCHIVE_FORMAT_ZIP: base = "zip"; break;
    case ARCHIVE_FORMAT_7ZIP: base = "7z"; break;
    case ARCHIVE_FORMAT_RAR: base = "rar"; break;
    case ARCHIVE_FORMAT_RAR_V5: base = "rar5"; break;
    case ARCHIVE_FORMAT_TAR: base = "tar"; break;
    case ARCHIVE_FORMAT_ISO9660: base = "iso"; break;
    case ARCHIVE_FORMAT_CAB: base = "cab"; break;
    case ARCHIVE_FORMAT_LHA: base = "lha"; break;
    case ARCHIVE_FORMAT_CPIO: base = "cpio"; break;
    case ARCHIVE_FORMAT_AR: base = "ar"; break;
    case ARCHIVE_FORMAT_XAR: base = "xar"; break;
    case ARCHIVE_FORMAT_WARC: base = "warc"; break;
    case ARCHIVE_FORMAT_RAW: break;
    default: base = archive_format_name(a) ? archive_format_name(a) : "archive";
  }
  // Filter 0 is the one next to the format; the last is the file itself.
  for (int i = 0; i + 1 < archive_filter_count(a); ++i)
    base += (base.empty() ? "" : ".") + filter_suffix(archive_filter_code(a, i), archive_filter_name(a, i));
  return base;
}

// libarchive's name getters, which its readers call too, end the process when a conversion fails
// with errno at ENOMEM, which may be left over from an allocation refused earlier
// (foreign_memory.h), not from the conversion: errno is cleared before every call into it.
int next_header(struct archive* a, struct archive_entry* entry) {
  errno = 0;
  return archive_read_next_header2(a, entry);
}

MemberInfo describe(struct archive_entry* e) {
  MemberInfo m;
  errno = 0;
  const char* path = archive_entry_pathname_utf8(e);
  errno = 0;
  if (!path) path = archive_entry_pathname(e);
  m.path = path ? path : "";
  unsigned type = archive_entry_filetype(e);
  if (archive_entry_hardlink_is_set(e) || type == AE_IFLNK) m.kind = 'l';
  else if (type == AE_IFDIR) m.kind = 'd';
  else if (type == AE_IFREG || type == 0) m.kind = 'f';
  else m.kind = 'o';
  while (m.path.size() > 1 && m.path.back() == '/') m.path.pop_back();
  if (archive_entry_size_is_set(e)) m.size = archive_entry_size(e);
  if (archive_entry_mtime_is_set(e))
    m.mtime_ns = static_cast<int64_t>(archive_entry_mtime(e)) * 1000000000 + archive_entry_mtime_nsec(e);
  m.unix_mode = archive_entry_perm(e) & 0777;
  if (m.kind == 'd') m.attributes |= 0x10;
  else if (m.unix_mode != 0 && !(m.unix_mode & 0200)) m.attributes |= ATTRIBUTE_READONLY;
  m.encrypted = archive_entry_is_encrypted(e) != 0;
  return m;
}

struct Reader {
  struct archive* a = nullptr;
  std::vector<std::unique_ptr<Part>> parts;
  int64_t total = 0;
  ~Reader() { reset(); }
  void reset() {
    if (a) archive_read_free(a);
    a = nullptr;
    parts.clear();
    total = 0;
  }
};

// Opens `source` in `reader`; false with the reason.
bool open_reader(const ForeignSource& source, bool raw, Reader& reader, std::string& problem) {
  reader.a = new_reader(raw);
  if (!reader.a) {
    problem = "out of memory";
    return false;
  }
  if (source.password) archive_read_add_passphrase(reader.a, source.password->c_str());
  if (source.data || source.paths.empty()) {
    auto p = std::make_unique<Part>();
    p->data = source.data ? source.data : reinterpret_cast<const uint8_t*>("");
    p->length = static_cast<int64_t>(source.size);
    reader.parts.push_back(std::move(p));
  } else {
    for (const std::string& path : source.paths) {
      auto p = std::make_unique<Part>();
      if (!p->file.open_read(path) || (p->length = p->file.length()) < 0) {
        problem = "cannot open " + path + ": " + last_error_text();
        return false;
      }
      p->buffer.resize(READ_CHUNK);
      reader.parts.push_back(std::move(p));
    }
  }
  for (const auto& p : reader.parts) reader.total += p->length;
  struct archive* a = reader.a;
  archive_read_set_read_callback(a, read_part);
  archive_read_set_seek_callback(a, seek_part);
  archive_read_set_skip_callback(a, skip_part);
  archive_read_set_switch_callback(a, switch_part);
  errno = 0;
  archive_read_set_callback_data(a, reader.parts[0].get());
  for (size_t i = 1; i < reader.parts.size(); ++i) archive_read_append_callback_data(a, reader.parts[i].get());
  if (archive_read_open1(a) != ARCHIVE_OK) {
    problem = error_text(a);
    return false;
  }
  return true;
}

// A variable-length number of a rar5 header at `p`; false past `end`.
bool rar5_number(const uint8_t*& p, const uint8_t* end, uint64_t& value) {
  value = 0;
  for (int shift = 0; p < end && shift < 64; shift += 7) {
    uint8_t b = *p++;
    value |= static_cast<uint64_t>(b & 0x7F) << shift;
    if (!(b & 0x80)) return true;
  }
  return false;
}

// A rar5 archive closes with an end-of-archive block; libarchive takes a missing one for the
// end, so a copy cut between two members would read as whole. True when the last volume's last
// bytes are that block with its checksum right.
bool rar5_closed(Part& last) {
  uint8_t tail[32];
  int64_t n = std::min<int64_t>(last.length, sizeof tail);
  if (last.data) {
    std::copy(last.data + last.length - n, last.data + last.length, tail);
  } else if (!last.file.seek(last.length - n) || last.file.read(tail, static_cast<size_t>(n)) != n) {
    return false;
  }
  const uint8_t* end = tail + n;
  for (const uint8_t* start = tail; start + 7 <= end; ++start) {
    const uint8_t* p = start + 4;
    uint64_t size = 0, type = 0;
    if (!rar5_number(p, end, size) || size != static_cast<uint64_t>(end - p)) continue;
    if (!rar5_number(p, end, type) || type != 5) continue;
    uint32_t stored = start[0] | start[1] << 8 | start[2] << 16 | static_cast<uint32_t>(start[3]) << 24;
    if (crc32(0, start + 4, static_cast<uInt>(end - start - 4)) == stored) return true;
  }
  return false;
}

// `n` bytes of a volume from `offset`; how many it had.
size_t read_at(Part& part, int64_t offset, uint8_t* out, size_t n) {
  if (offset < 0 || offset >= part.length) return 0;
  n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), part.length - offset));
  if (part.data) {
    std::copy(part.data + offset, part.data + offset + n, out);
    return n;
  }
  if (!part.file.seek(offset)) return 0;
  int64_t got = part.file.read(out, n);
  return got < 0 ? 0 : static_cast<size_t>(got);
}

// The library decodes rar5 windows of up to 64 MB and refuses a larger one before it reads the
// member's name: the first file header asking for more, read here, gives the name and the need.
std::string rar5_window_refusal(Part& first) {
  constexpr uint64_t LIMIT = 64 << 20;
  std::vector<uint8_t> header(4096);
  int64_t at = 8;  // after the signature
  for (int blocks = 0; blocks < 100000; ++blocks) {
    size_t got = read_at(first, at, header.data(), header.size());
    const uint8_t* p = header.data() + std::min<size_t>(got, 4);
    const uint8_t* end = header.data() + got;
    uint64_t size = 0, type = 0, flags = 0, extra = 0, data = 0;
    if (got < 7 || !rar5_number(p, end, size)) break;
    int64_t next = at + (p - header.data()) + static_cast<int64_t>(size);
    end = std::min(end, p + size);
    if (!rar5_number(p, end, type) || !rar5_number(p, end, flags)) break;
    if ((flags & 1) && !rar5_number(p, end, extra)) break;
    if ((flags & 2) && !rar5_number(p, end, data)) break;
    if (type == 2) {
      uint64_t file_flags = 0, unpacked = 0, attributes = 0, info = 0, host = 0, name_size = 0;
      if (!rar5_number(p, end, file_flags) || !rar5_number(p, end, unpacked) || !rar5_number(p, end, attributes)) break;
      p += (file_flags & 2 ? 4 : 0) + (file_flags & 4 ? 4 : 0);
      if (p > end || !rar5_number(p, end, info) || !rar5_number(p, end, host) || !rar5_number(p, end, name_size)) break;
      uint64_t window = uint64_t(128) << 10 << ((info >> 10) & 15);
      if (!(file_flags & 1) && window > LIMIT) {
        std::string name(reinterpret_cast<const char*>(p), static_cast<size_t>(std::min<uint64_t>(name_size, end - p)));
        return name + " " + MEMORY_REFUSAL + megabytes(static_cast<int64_t>(window)) +
               " for its window, more than the " + megabytes(LIMIT) + " read here";
      }
    } else if (type != 1 && type != 3) {
      break;  // encrypted headers or the end
    }
    if (data > static_cast<uint64_t>(first.length) || next + static_cast<int64_t>(data) <= at) break;
    at = next + static_cast<int64_t>(data);
  }
  return "";
}

bool unrecognised(struct archive* a) {
  const char* text = archive_error_string(a);
  return text && std::string(text).rfind("Unrecognized archive format", 0) == 0;
}

// Names libarchive hands out are converted to the locale's character set: UTF-8 here.
void names_as_utf8() {
#ifndef _WIN32
  static const bool done = [] {
    if (!std::setlocale(LC_CTYPE, "C.UTF-8")) std::setlocale(LC_CTYPE, "C.utf8");
    return true;
  }();
  (void)done;
#endif
}

void walk(const ForeignSource& source, ForeignVisitor& visitor, ForeignWalk& result) {
  names_as_utf8();
  ForeignMemoryCap cap(source.memory_cap < 0 ? foreign_memory_cap() : source.memory_cap);
  Reader reader;
  std::string problem;
  struct archive_entry* entry = archive_entry_new();
  if (!entry) {
    result.problem = "out of memory";
    return;
  }
  std::unique_ptr<struct archive_entry, void (*)(struct archive_entry*)> owned(entry, archive_entry_free);
  // Opening chooses the format too: a failure there may be bytes that no format takes.
  bool opened = open_reader(source, false, reader, problem);
  int r = opened ? next_header(reader.a, entry) : ARCHIVE_FATAL;
  if (r == ARCHIVE_FATAL && reader.a && unrecognised(reader.a)) {
    // Only a compressed file is read as one member: raw takes any bytes at all.
    if (archive_filter_count(reader.a) < 2) {
      result.problem = error_text(reader.a);
      return;
    }
    reader.reset();
    opened = open_reader(source, true, reader, problem);
    r = opened ? next_header(reader.a, entry) : ARCHIVE_FATAL;
  }
  if (!opened) {
    // A format took the bytes and failed at once, or the file could not be read.
    result.recognised = reader.a && archive_format(reader.a) != 0;
    result.problem = problem;
    if (result.recognised) result.format = format_name(reader.a);
    return;
  }
  result.recognised = true;
  std::vector<uint8_t> buffer(DATA_CHUNK);
  int failures = 0;
  for (;; r = next_header(reader.a, entry)) {
    if (r == ARCHIVE_EOF) {
      if ((archive_format(reader.a) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_RAR_V5 && !rar5_closed(*reader.parts.back())) {
        result.problem = "the archive ends early: its end block is missing";
        break;
      }
      // Whatever follows the end (a tar's padding) needs no reading.
      visitor.position(reader.total, reader.total);
      break;
    }
    if (r == ARCHIVE_FAILED && ++failures < 100) {
      // This entry is lost; the format can go on to the next.
      result.damaged.push_back(error_text(reader.a));
      continue;
    }
    if (r < ARCHIVE_WARN) {
      // Some readers flag the entry, 7z only the archive (its header then precedes every name).
      if (archive_entry_is_metadata_encrypted(entry) ||
          (result.entries == 0 && archive_read_has_encrypted_entries(reader.a) > 0))
        result.names_encrypted = true;
      result.problem = error_text(reader.a);
      const char* text = archive_error_string(reader.a);
      if ((archive_format(reader.a) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_RAR_V5 && text &&
          std::string(text).find("dictionary size") != std::string::npos) {
        std::string window = rar5_window_refusal(*reader.parts.front());
        if (!window.empty()) {
          result.problem = window;
          result.memory_refused = true;
        }
      }
      break;
    }
    failures = 0;
    if (result.format.empty()) {
      result.format = format_name(reader.a);
      if (archive_filter_count(reader.a) - 1 > MAX_FILTERS) {
        result.problem = std::to_string(archive_filter_count(reader.a) - 1) +
                         " compression layers stacked, more than the " + std::to_string(MAX_FILTERS) + " read here";
        break;
      }
      visitor.opened(result.format);
    }
    MemberInfo member = describe(entry);
    // An ar's symbol table ("/", "__.SYMDEF") and long-name table ("//") are its bookkeeping.
    if ((archive_format(reader.a) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_AR &&
        (member.path == "/" || member.path == "/SYM64" || member.path.rfind("__.SYMDEF", 0) == 0))
      continue;
    if (archive_format(reader.a) == ARCHIVE_FORMAT_RAW)
      member.path = decompressed_name(source.name.empty() ? "data" : source.name);
    result.entries++;
    if (!visitor.position(archive_filter_bytes(reader.a, -1), reader.total)) {
      result.stopped = true;
      return;
    }
    // A zip member opens with the password given; a wrong one fails as its data is read.
    bool zip = (archive_format(reader.a) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_ZIP;
    member.decryptable = member.encrypted && source.password && zip;
    member.needs_password = member.encrypted && !source.password && zip;
    if (!visitor.entry(member) || member.kind != 'f' || (member.encrypted && !member.decryptable)) continue;
    std::string damage;
    bool fatal = false;
    for (;;) {
      errno = 0;
      la_ssize_t n = archive_read_data(reader.a, buffer.data(), buffer.size());
      if (n == 0) break;
      if (n < 0) {
        damage = error_text(reader.a);
        fatal = n == ARCHIVE_FATAL;
        break;
      }
      if (!visitor.data(buffer.data(), static_cast<size_t>(n))) {
        result.stopped = true;
        visitor.entry_end(member, "stopped");
        return;
      }
      if (!visitor.position(archive_filter_bytes(reader.a, -1), reader.total)) {
        result.stopped = true;
        visitor.entry_end(member, "stopped");
        return;
      }
    }
    visitor.entry_end(member, damage);
    if (fatal) {
      result.problem = "cannot read on after " + member.path;
      result.memory_refused = damage.rfind(MEMORY_REFUSAL, 0) == 0;
      return;
    }
  }
  if (result.format.empty()) {
    result.format = format_name(reader.a);
    visitor.opened(result.format);
  }
}

// Bytes 0x80 and up that start a well-formed UTF-8 sequence: its length, else 0.
size_t utf8_length(const std::string& s, size_t i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  unsigned char c1 = static_cast<unsigned char>(s[i + 1]);
  if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 >= 0xA0) || (c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 >= 0x90))
    return 0;
  return n;
}

}  // namespace

std::vector<std::string> archive_volumes(const std::string& path) {
  std::vector<std::string> volumes{path};
  std::string lower = path;
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  if (lower.size() < 5 || lower.compare(lower.size() - 4, 4, ".rar") != 0) return volumes;
  std::string stem = path.substr(0, path.size() - 4);
  std::string extension = path.substr(path.size() - 4);
  // x.part1.rar, x.part01.rar...: the number keeps its width.
  size_t digits = 0;
  while (digits < stem.size() && stem[stem.size() - 1 - digits] >= '0' && stem[stem.size() - 1 - digits] <= '9') ++digits;
  size_t number_at = stem.size() - digits;
  if (digits > 0 && digits < 6 && number_at >= 5) {
    std::string part = lower.substr(number_at - 5, 5);
    if (part == ".part" && std::stoi(stem.substr(number_at)) == 1) {
      for (int n = 2;; ++n) {
        char number[16];
        std::snprintf(number, sizeof number, "%0*d", static_cast<int>(digits), n);
        std::string next = stem.substr(0, number_at) + number + extension;
        FileInfo info = file_info(next);
        if (!info.exists || !info.is_regular) break;
        volumes.push_back(next);
      }
      return volumes;
    }
  }
  // x.rar, x.r00, x.r01...
  for (int n = 0; n < 1000; ++n) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%c%02d", extension[1] == 'R' ? 'R' : 'r', n);
    std::string next = stem + "." + suffix;
    FileInfo info = file_info(next);
    if (!info.exists || !info.is_regular) break;
    volumes.push_back(next);
  }
  return volumes;
}

std::string decompressed_name(const std::string& file_name) {
  size_t slash = file_name.find_last_of("/\\");
  std::string name = slash == std::string::npos ? file_name : file_name.substr(slash + 1);
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return name + ".out";
  std::string extension = name.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  if (extension == "tgz" || extension == "tbz2" || extension == "txz" || extension == "tzst")
    return name.substr(0, dot) + ".tar";
  return name.substr(0, dot);
}

ForeignWalk walk_foreign(const ForeignSource& source, ForeignVisitor& visitor) {
  ForeignWalk result;
  try {
    walk(source, visitor, result);
  } catch (const std::bad_alloc&) {
    result.problem = "out of memory";
  }
  return result;
}

std::string listing_path(const std::string& path) {
  std::string out;
  for (size_t i = 0; i < path.size();) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    size_t n = c < 0x80 ? 1 : utf8_length(path, i);
    if (c < 0x20 || c == 0x7F || c == '\\' || n == 0) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
      ++i;
    } else {
      out.append(path, i, n);
      i += n;
    }
  }
  return out;
}

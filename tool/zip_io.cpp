#include "zip_io.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <clocale>
#include <cstdio>

#include "compress_stages.h"
#include "format/utf8_text.h"

namespace {

// Zip header layout: the local header and the central directory record, and the flag bits used.
constexpr uint32_t LOCAL_SIGNATURE = 0x04034b50;
constexpr uint32_t CENTRAL_SIGNATURE = 0x02014b50;
constexpr uint32_t DESCRIPTOR_SIGNATURE = 0x08074b50;
constexpr size_t LOCAL_FIXED = 30;
constexpr size_t CENTRAL_FIXED = 46;
constexpr uint16_t FLAG_LENGTH_AT_END = 1 << 3;
constexpr uint16_t FLAG_UTF8_NAME = 1 << 11;
constexpr uint16_t ZIP64_EXTRA = 0x0001;
constexpr uint32_t NO_32BIT_LENGTH = 0xFFFFFFFF;
constexpr uint8_t DOS_READ_ONLY = 0x01;
constexpr uint8_t DOS_FOLDER = 0x10;
// Members held in memory until their local header is completed; longer ones are patched in place.
constexpr size_t HOLD_LIMIT = 1 << 20;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) { return le16(p) | static_cast<uint32_t>(le16(p + 2)) << 16; }
uint64_t le64(const uint8_t* p) { return le32(p) | static_cast<uint64_t>(le32(p + 4)) << 32; }
void put16(uint8_t* p, uint16_t v) { p[0] = static_cast<uint8_t>(v), p[1] = static_cast<uint8_t>(v >> 8); }
void put32(uint8_t* p, uint32_t v) { put16(p, static_cast<uint16_t>(v)), put16(p + 2, static_cast<uint16_t>(v >> 16)); }
void put64(uint8_t* p, uint64_t v) { put32(p, static_cast<uint32_t>(v)), put32(p + 4, static_cast<uint32_t>(v >> 32)); }

bool has_non_ascii(const uint8_t* p, size_t n) {
  return std::any_of(p, p + n, [](uint8_t c) { return c >= 0x80; });
}

la_ssize_t write_callback(struct archive*, void* client, const void* data, size_t size) {
  bool ok = static_cast<ZipWriter*>(client)->take(static_cast<const uint8_t*>(data), size);
  return ok ? static_cast<la_ssize_t>(size) : -1;
}

la_ssize_t read_callback(struct archive*, void* client, const void** data) {
  return static_cast<la_ssize_t>(static_cast<ZipReader*>(client)->fill(data));
}

la_int64_t seek_callback(struct archive*, void* client, la_int64_t offset, int whence) {
  return static_cast<ZipReader*>(client)->seek(offset, whence);
}

std::string library_text(struct archive* a) {
  const char* text = archive_error_string(a);
  return text ? text : "unknown problem";
}

// libarchive converts names through the process's character set; ours are UTF-8 (Windows: the
// program's declared code page), so elsewhere the character type follows them.
void names_in_utf8() {
#ifndef _WIN32
  static const bool set = std::setlocale(LC_CTYPE, "C.UTF-8") != nullptr;
  (void)set;
#endif
}

}  // namespace

bool is_zip_path(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  std::transform(tail.begin(), tail.end(), tail.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
  return tail == ".zip";
}

bool is_empty_zip(const std::string& path) {
  constexpr size_t END_RECORD = 22;
  File file;
  uint8_t end[END_RECORD];
  int64_t length = file.open_read(path) ? file.length() : -1;
  if (length < static_cast<int64_t>(END_RECORD) || !file.read_at(0, end, END_RECORD)) return false;
  // Signature, then disk numbers, member counts, directory size and offset all zero, and the
  // comment running to the file's end.
  return le32(end) == 0x06054b50 && std::all_of(end + 4, end + 20, [](uint8_t b) { return b == 0; }) &&
         length == static_cast<int64_t>(END_RECORD + le16(end + 20));
}

// ---- Writer ----

ZipWriter::ZipWriter(compression::BufferedWriter& out) : out_(out) {}

ZipWriter::~ZipWriter() {
  // A writer given up on still wants to finish its archive: none of that reaches the file.
  stage_ = Stage::OTHER;
  problem_ = problem_.empty() ? "abandoned" : problem_;
  if (archive_) archive_write_free(archive_);
}

bool ZipWriter::fail(const std::string& what) {
  if (problem_.empty()) problem_ = what;
  return false;
}

bool ZipWriter::open(int level) {
  names_in_utf8();
  archive_ = archive_write_new();
  if (!archive_) return fail("out of memory");
  // Unblocked: every write reaches us at once and the zip ends where its last record does.
  if (archive_write_set_format_zip(archive_) != ARCHIVE_OK ||
      archive_write_set_bytes_per_block(archive_, 0) != ARCHIVE_OK ||
      archive_write_set_bytes_in_last_block(archive_, 1) != ARCHIVE_OK)
    return fail(library_text(archive_));
  // Names are UTF-8 whatever the process's locale, and say so in their flag.
  if (archive_write_set_options(archive_, "zip:hdrcharset=UTF-8") != ARCHIVE_OK) return fail(library_text(archive_));
  if (level > 0) {
    std::string option = "zip:compression-level=" + std::to_string(std::clamp(level, 1, 9));
    if (archive_write_set_options(archive_, option.c_str()) != ARCHIVE_OK) return fail(library_text(archive_));
  }
  if (archive_write_open2(archive_, this, nullptr, write_callback, nullptr, nullptr) != ARCHIVE_OK)
    return fail(library_text(archive_));
  return true;
}

bool ZipWriter::take(const uint8_t* data, size_t size) {
  if (!problem_.empty()) return false;
  switch (stage_) {
    case Stage::HEADER:
      current_.header.insert(current_.header.end(), data, data + size);
      break;
    case Stage::DATA:
      last_write_.assign(data, data + std::min<size_t>(size, 24));
      if (size != 16 && size != 24) last_write_.clear();
      break;
    case Stage::CENTRAL:
      central_.insert(central_.end(), data, data + size);
      return true;
    default:
      break;
  }
  if (out_.write(data, size)) return true;
  return fail("cannot write the archive: " + last_error_text());
}

bool ZipWriter::begin(const ZipMember& m, bool stored) {
  current_ = Pending();
  current_.offset = out_.written();
  current_.dos_attributes = static_cast<uint8_t>((m.kind == ZipKind::FOLDER ? DOS_FOLDER : 0) |
                                                 (m.read_only ? DOS_READ_ONLY : 0));
  struct archive_entry* e = archive_entry_new();
  if (!e) return fail("out of memory");
  std::string path = m.kind == ZipKind::FOLDER ? m.path + "/" : m.path;
  archive_entry_set_pathname_utf8(e, path.c_str());
  archive_entry_set_filetype(e, m.kind == ZipKind::FOLDER ? AE_IFDIR : m.kind == ZipKind::LINK ? AE_IFLNK : AE_IFREG);
  archive_entry_set_perm(e, m.mode & 07777);
  if (m.kind == ZipKind::LINK) archive_entry_set_symlink_utf8(e, m.link.c_str());
  if (m.kind == ZipKind::FILE && m.size >= 0) archive_entry_set_size(e, m.size);
  if (m.has_mtime) {
    int64_t seconds = m.mtime_ns / 1000000000, nanos = m.mtime_ns % 1000000000;
    if (nanos < 0) seconds -= 1, nanos += 1000000000;
    // The extended timestamp field holds 32-bit seconds: a later time would wrap to an earlier one.
    if (seconds > INT32_MAX || seconds < INT32_MIN) seconds = seconds > 0 ? INT32_MAX : INT32_MIN, nanos = 0;
    archive_entry_set_mtime(e, static_cast<time_t>(seconds), static_cast<long>(nanos));
  }
  if (stored) archive_write_zip_set_compression_store(archive_);
  else archive_write_zip_set_compression_deflate(archive_);
  stage_ = Stage::HEADER;
  int status = archive_write_header(archive_, e);
  archive_entry_free(e);
  stage_ = Stage::DATA;
  last_write_.clear();
  if (status != ARCHIVE_OK) return fail(problem_.empty() ? library_text(archive_) : problem_);
  return true;
}

bool ZipWriter::write(const uint8_t* data, size_t size) {
  while (size > 0) {
    la_ssize_t n = archive_write_data(archive_, data, size);
    if (n <= 0) return fail(problem_.empty() ? library_text(archive_) : problem_);
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ZipWriter::end() {
  if (archive_write_finish_entry(archive_) != ARCHIVE_OK)
    return fail(problem_.empty() ? library_text(archive_) : problem_);
  stage_ = Stage::OTHER;
  if (!complete_local_header(current_)) return false;
  current_.header.clear();
  current_.header.shrink_to_fit();
  done_.push_back(std::move(current_));
  current_ = Pending();
  return true;
}

// The library writes the CRC and lengths after the data only (flag bit 3). A reader that walks
// the local headers, as Windows' own zip folder may, wants them in the header too: they are
// copied there from the record that follows the data. Names in UTF-8 get the flag that says so.
bool ZipWriter::complete_local_header(Pending& entry) {
  std::vector<uint8_t>& h = entry.header;
  if (h.size() < LOCAL_FIXED || le32(h.data()) != LOCAL_SIGNATURE) return fail("the zip writer wrote no local header");
  size_t name_length = le16(h.data() + 26), extra_length = le16(h.data() + 28);
  if (h.size() < LOCAL_FIXED + name_length + extra_length) return fail("the zip writer wrote a short local header");
  size_t header_length = LOCAL_FIXED + name_length + extra_length;
  std::vector<uint8_t> patched(h.begin(), h.begin() + static_cast<std::ptrdiff_t>(header_length));
  uint8_t* p = patched.data();
  uint16_t flags = le16(p + 6);
  const uint8_t* name = p + LOCAL_FIXED;
  std::string name_text(reinterpret_cast<const char*>(name), name_length);
  entry.utf8_name = has_non_ascii(name, name_length) && utf8_valid(name_text);
  if (entry.utf8_name) flags |= FLAG_UTF8_NAME;
  put16(p + 6, flags);
  const std::vector<uint8_t>& d = last_write_;
  if ((flags & FLAG_LENGTH_AT_END) && !d.empty() && le32(d.data()) == DESCRIPTOR_SIGNATURE) {
    bool wide = d.size() == 24;
    uint64_t packed = wide ? le64(d.data() + 8) : le32(d.data() + 8);
    uint64_t size = wide ? le64(d.data() + 16) : le32(d.data() + 12);
    put32(p + 14, le32(d.data() + 4));
    if (le32(p + 18) == NO_32BIT_LENGTH || le32(p + 22) == NO_32BIT_LENGTH) {
      // Zip64: the lengths live in the extra field (original length first).
      uint8_t* x = p + LOCAL_FIXED + name_length;
      for (size_t at = 0; at + 4 <= extra_length;) {
        size_t field = le16(x + at + 2);
        if (le16(x + at) == ZIP64_EXTRA && field >= 16 && at + 4 + field <= extra_length) {
          put64(x + at + 4, size);
          put64(x + at + 12, packed);
          break;
        }
        at += 4 + field;
      }
    } else if (packed < NO_32BIT_LENGTH && size < NO_32BIT_LENGTH) {
      put32(p + 18, static_cast<uint32_t>(packed));
      put32(p + 22, static_cast<uint32_t>(size));
    }
  }
  if (patched == std::vector<uint8_t>(h.begin(), h.begin() + static_cast<std::ptrdiff_t>(patched.size()))) return true;
  if (!out_.patch(entry.offset, patched)) return fail("cannot write the archive: " + last_error_text());
  return true;
}

// The library records Unix permissions only; Windows reads the low byte of a member's external
// attributes as its own attribute bits, the folder bit among them.
bool ZipWriter::complete_central_directory() {
  size_t at = 0;
  for (const Pending& entry : done_) {
    if (at + CENTRAL_FIXED > central_.size() || le32(central_.data() + at) != CENTRAL_SIGNATURE)
      return fail("the zip writer wrote a central directory of another shape");
    uint8_t* c = central_.data() + at;
    c[38] |= entry.dos_attributes;
    if (entry.utf8_name) put16(c + 8, le16(c + 8) | FLAG_UTF8_NAME);
    at += CENTRAL_FIXED + le16(c + 28) + le16(c + 30) + le16(c + 32);
  }
  return true;
}

bool ZipWriter::close() {
  if (!problem_.empty()) return false;
  central_offset_ = out_.written();
  stage_ = Stage::CENTRAL;
  int status = archive_write_close(archive_);
  stage_ = Stage::OTHER;
  if (status != ARCHIVE_OK) return fail(problem_.empty() ? library_text(archive_) : problem_);
  if (!complete_central_directory()) return false;
  if (!out_.write(central_.data(), central_.size())) return fail("cannot write the archive: " + last_error_text());
  return true;
}

// ---- Reader ----

ZipReader::~ZipReader() {
  if (archive_) archive_read_free(archive_);
}

bool ZipReader::fail(const std::string& what) {
  if (problem_.empty()) problem_ = what;
  return false;
}

bool ZipReader::open(const std::string& path) {
  names_in_utf8();
  if (!file_.open_read(path)) return fail("cannot open it: " + last_error_text());
  length_ = file_.length();
  buffer_.resize(1 << 16);
  archive_ = archive_read_new();
  if (!archive_) return fail("out of memory");
  // The central directory is what names the members; headers that disagree with it are a
  // damaged zip.
  archive_read_support_format_zip_seekable(archive_);
  archive_read_set_callback_data(archive_, this);
  archive_read_set_read_callback(archive_, read_callback);
  archive_read_set_seek_callback(archive_, seek_callback);
  if (archive_read_open1(archive_) != ARCHIVE_OK)
    return fail("not a zip that can be read (" + library_text(archive_) + ")");
  return true;
}

int64_t ZipReader::fill(const void** data) {
  size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(buffer_.size()), length_ - position_));
  if (n == 0) return 0;
  if (!file_.read_at(position_, buffer_.data(), n)) return -1;
  position_ += static_cast<int64_t>(n);
  *data = buffer_.data();
  return static_cast<int64_t>(n);
}

int64_t ZipReader::seek(int64_t offset, int whence) {
  int64_t base = whence == SEEK_CUR ? position_ : whence == SEEK_END ? length_ : 0;
  if ((offset > 0 && base > INT64_MAX - offset)) return ARCHIVE_FATAL;
  int64_t target = base + offset;
  if (target < 0) return ARCHIVE_FATAL;
  position_ = std::min(target, length_);
  return position_;
}

bool ZipReader::next(ZipMember& m) {
  struct archive_entry* e = nullptr;
  int status = archive_read_next_header(archive_, &e);
  if (status == ARCHIVE_EOF) return false;
  if (status < ARCHIVE_WARN || !e) return fail(library_text(archive_));
  const char* utf8 = archive_entry_pathname_utf8(e);
  const char* raw = archive_entry_pathname(e);
  std::string path = utf8 ? utf8 : raw && utf8_valid(raw) ? raw : std::string();
  if (path.empty()) return fail("a member's name cannot be read as text");
  if (archive_entry_is_encrypted(e)) return fail(path + " is encrypted: it cannot be copied");
  m = ZipMember();
  switch (archive_entry_filetype(e)) {
    case AE_IFREG: m.kind = ZipKind::FILE; break;
    case AE_IFDIR: m.kind = ZipKind::FOLDER; break;
    case AE_IFLNK: m.kind = ZipKind::LINK; break;
    default: return fail(path + " is not a file, folder or link");
  }
  if (m.kind == ZipKind::LINK) {
    const char* target = archive_entry_symlink_utf8(e);
    m.link = target ? target : "";
  }
  while (m.kind == ZipKind::FOLDER && path.size() > 1 && path.back() == '/') path.pop_back();
  m.path = path;
  m.size = archive_entry_size_is_set(e) ? archive_entry_size(e) : -1;
  m.has_mtime = archive_entry_mtime_is_set(e) != 0;
  if (m.has_mtime)
    m.mtime_ns = static_cast<int64_t>(archive_entry_mtime(e)) * 1000000000 + archive_entry_mtime_nsec(e);
  m.mode = archive_entry_perm(e);
  m.read_only = m.kind != ZipKind::FOLDER && !(m.mode & 0222);
  return true;
}

int64_t ZipReader::read(uint8_t* buffer, size_t room) {
  la_ssize_t n = archive_read_data(archive_, buffer, room);
  if (n < 0) {
    fail(library_text(archive_));
    return -1;
  }
  return n;
}

#include "archive/foreign_listing.h"

#include <cerrno>
#include <cstdlib>

#include "runtime/text.h"

namespace {

// By the last extension alone: "a.tar.gz" is a "gz", which the archiver reads as tar.gz.
const char* const FOREIGN_EXTENSIONS[] = {"zip", "7z",  "rar",  "tar", "tgz", "tbz",  "tbz2", "txz", "tzst",
                                          "taz", "gz",  "bz2",  "xz",  "zst", "lz4",  "z",    "iso", "cab",
                                          "lzh", "lha", "cpio", "ar",  "deb", "lzma", "tlz"};

constexpr size_t LONGEST_LINE = 1 << 16;  // a path of 64 KB is no path any system keeps
constexpr int FIELDS = 7;

bool parse_int(const std::string& text, int base, int64_t& value) {
  if (text.empty() || text.size() > 20) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, base);
  if (errno != 0 || end != text.c_str() + text.size() || text[0] == '+' || text[0] == ' ') return false;
  value = v;
  return true;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "\xNN" stands for one byte; a "\" in any other shape is a listing we do not understand.
bool unescape(const std::string& text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (i + 3 >= text.size() || text[i + 1] != 'x') return false;
    int high = hex_digit(text[i + 2]), low = hex_digit(text[i + 3]);
    if (high < 0 || low < 0) return false;
    out += static_cast<char>(high * 16 + low);
    i += 3;
  }
  return true;
}

std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
    fields.push_back(line.substr(start, tab - start));
  fields.push_back(line.substr(start));
  return fields;
}

bool parse_member(const std::vector<std::string>& f, ForeignMember& m) {
  int64_t attributes = 0;
  if (f.size() != FIELDS || f[0].size() != 1 || std::string("fdlo").find(f[0][0]) == std::string::npos) return false;
  m.kind = f[0][0];
  if (!parse_int(f[1], 10, m.size) || !parse_int(f[2], 10, m.packed) || !parse_int(f[3], 10, m.mtime_ns))
    return false;
  if (m.size < -1 || m.packed < -1) return false;
  if (f[4].size() > 8 || !parse_int(f[4], 16, attributes) || attributes < 0) return false;
  m.attributes = static_cast<uint32_t>(attributes);
  if (f[5] != "e" && f[5] != "-") return false;
  m.encrypted = f[5] == "e";
  return unescape(f[6], m.path) && !m.path.empty();
}

}  // namespace

bool is_foreign_archive_name(const std::string& path) {
  std::string extension = to_lower_ascii(file_extension(path));
  for (const char* known : FOREIGN_EXTENSIONS)
    if (extension == known) return true;
  return false;
}

bool is_zip_name(const std::string& path) { return to_lower_ascii(file_extension(path)) == "zip"; }

std::string archive_requester_pattern() {
  std::string kinds = "*.vnr";
  for (const char* known : FOREIGN_EXTENSIONS) kinds += std::string(";*.") + known;
  return "Archives|" + kinds + "|All files|*.*";
}

void ForeignListingReader::fail(const std::string& why) {
  if (failed_) return;
  failed_ = true;
  listing_.problem = "its listing is unreadable at line " + std::to_string(line_number_) + " (" + why + ")";
}

void ForeignListingReader::take_line(const std::string& raw) {
  ++line_number_;
  std::string line = raw;
  if (!line.empty() && line.back() == '\r') line.pop_back();  // a console may end lines so
  std::vector<std::string> f = split_tabs(line);
  if (!header_) {
    header_ = true;
    if (f.size() != 3 || f[0] != "vantor-listing") return fail("no listing header");
    if (f[1] != "1") return fail("listing version " + f[1] + " is not known");
    listing_.format = f[2];
    return;
  }
  if (ended_) return fail("lines after the end line");
  if (f.size() == 2 && f[0] == "end") {
    int64_t count = 0;
    if (!parse_int(f[1], 10, count)) return fail("a bad end line");
    if (count != listing_.count)
      return fail("the end line counts " + f[1] + " members, " + std::to_string(listing_.count) + " were listed");
    ended_ = true;
    return;
  }
  ForeignMember member;
  if (!parse_member(f, member)) return fail("a malformed member line");
  ++listing_.count;
  if (listing_.members.size() < most_kept_) listing_.members.push_back(std::move(member));
}

void ForeignListingReader::feed(const char* data, size_t n) {
  for (size_t i = 0; i < n && !failed_; ++i) {
    if (data[i] != '\n') {
      if (pending_.size() >= LONGEST_LINE) {
        ++line_number_;
        fail("a line longer than 64 KB");
        pending_.clear();
        return;
      }
      pending_ += data[i];
      continue;
    }
    take_line(pending_);
    pending_.clear();
  }
}

ForeignListing ForeignListingReader::finish() {
  if (!failed_ && !pending_.empty()) {
    take_line(pending_);
    pending_.clear();
  }
  if (!failed_ && !header_) listing_.problem = "the archiver listed nothing";
  else if (!failed_ && !ended_) listing_.problem = "its listing was cut short";
  listing_.sound = !failed_ && header_ && ended_;
  return std::move(listing_);
}

ForeignListing read_foreign_listing(const std::string& text, size_t most_kept) {
  ForeignListingReader reader(most_kept);
  reader.feed(text.data(), text.size());
  return reader.finish();
}

MirrorPlace foreign_mirror_place(const ForeignMember& member) {
  std::vector<std::string> parts;
  size_t start = 0;
  const std::string& p = member.path;
  for (size_t i = 0; i <= p.size(); ++i) {
    if (i < p.size() && p[i] != '/' && p[i] != '\\') continue;
    std::string part = p.substr(start, i - start);
    // A leading separator stays as an empty first part, so the path still reads as absolute.
    if ((!part.empty() && part != ".") || (part.empty() && start == 0 && i < p.size())) parts.push_back(part);
    start = i + 1;
  }
  MirrorPlace place;
  size_t folders = member.kind == 'd' ? parts.size() : (parts.empty() ? 0 : parts.size() - 1);
  for (size_t i = 0; i < folders; ++i) place.folder += parts[i] + "\\";
  if (folders < parts.size()) place.name = parts.back();
  return place;
}

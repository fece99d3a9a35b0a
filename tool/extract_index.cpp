// Reading an archive, the index: every entry's header, walked once without reading data, and
// the entries grouped into blocks (a member, or the members of one solid stream).
#include <algorithm>
#include <unordered_map>

#include "format/archive_format.h"
#include "extract_stages.h"
#include "format/utf8_text.h"

namespace extraction {
namespace {

constexpr size_t FIRST_HEADER_READ = 512;
constexpr size_t WALK_WINDOW = 256 << 10;

// Headers are read from a window of the archive; after a small entry the next headers are
// probably close, so the window is refilled generously, after a large one just enough.
// Buffers are no larger than the archive: a small one is read often (the front end extracts
// single members), and clearing megabytes for a few hundred bytes costs more than the read.
class HeaderWindow {
 public:
  HeaderWindow(ArchiveSource& archive, int64_t start, int64_t length)
      : archive_(archive), length_(length),
        buffer_(static_cast<size_t>(std::clamp<int64_t>(length - start, 1, WALK_WINDOW))) {}

  // Decodes the header at `pos` (`needed`: its size); false with a reason.
  bool read(int64_t pos, EntryHeader& h, size_t& needed, std::string& problem) {
    size_t want = static_cast<size_t>(std::min<int64_t>(FIRST_HEADER_READ, length_ - pos));
    std::string why;
    DecodeStatus status = DecodeStatus::NEED_MORE;
    while (status == DecodeStatus::NEED_MORE) {
      if (!fill(pos, want)) {
        problem = "cannot read the archive";
        return false;
      }
      status = decode_header(buffer_.data() + (pos - window_start_), want, h, needed, why);
      if (status == DecodeStatus::NEED_MORE) {
        if (static_cast<int64_t>(needed) > length_ - pos) {
          why = "archive ends inside an entry header";
          status = DecodeStatus::BAD;
        }
        want = needed;
      }
    }
    if (status == DecodeStatus::BAD) {
      problem = "damaged archive at offset " + std::to_string(pos) + ": " + why;
      return false;
    }
    small_entries_ = h.entry_length <= static_cast<int64_t>(WALK_WINDOW / 4);
    return true;
  }

 private:
  // Makes the window hold `want` bytes at `pos`.
  bool fill(int64_t pos, size_t want) {
    if (pos >= window_start_ && pos + static_cast<int64_t>(want) <= window_start_ + static_cast<int64_t>(window_size_))
      return true;
    size_t n = want;
    if (small_entries_) n = std::max(n, static_cast<size_t>(std::min<int64_t>(WALK_WINDOW, length_ - pos)));
    if (buffer_.size() < n) buffer_.resize(n);
    window_size_ = 0;
    if (!archive_.read_at(pos, buffer_.data(), n)) return false;
    window_start_ = pos;
    window_size_ = n;
    return true;
  }

  ArchiveSource& archive_;
  int64_t length_;
  std::vector<uint8_t> buffer_;
  int64_t window_start_ = 0;
  size_t window_size_ = 0;
  bool small_entries_ = true;
};

std::string stored_key(uint8_t flags, const std::string& path) {
  return static_cast<char>(flags & ENTRY_FLAG_UTF8_NAMES) + path;
}

// The member a copy takes its data from: the last before it with the path it names, when that
// one holds data of its own; else none, and the copy is damaged.
size_t copy_source(const std::vector<Entry>& entries, const std::unordered_map<std::string, size_t>& last_of,
                   const EntryHeader& copy) {
  auto found = last_of.find(stored_key(copy.copy_of_flags, copy.copy_of));
  if (found == last_of.end() || entries[found->second].header.is_copy()) return Entry::NO_SOURCE;
  return found->second;
}

}  // namespace

bool walk_index(ArchiveSource& archive, int64_t start, std::vector<Entry>& entries, std::string& problem) {
  int64_t length = archive.length();
  if (length < 0) {
    problem = "cannot read the archive";
    return false;
  }
  if (length < start) {
    problem = "archive is shorter than a self-extracting program";
    return false;
  }
  HeaderWindow window(archive, start, length);
  bool system_utf8 = system_text_is_utf8();
  // The last entry of each stored path, by its bytes as stored: a copy names its source so.
  std::unordered_map<std::string, size_t> last_of;
  for (int64_t pos = start; pos < length;) {
    EntryHeader h;
    size_t needed = 0;
    if (!window.read(pos, h, needed, problem)) return false;
    if (h.entry_length > length - pos) {
      problem = "damaged archive: member " + h.path() + " runs past the end of the file";
      return false;
    }
    std::string stored = stored_key(h.flags, h.path());
    size_t source = Entry::NO_SOURCE;
    if (h.is_copy()) source = copy_source(entries, last_of, h);
    h.name = name_for_system(h.name, system_utf8);
    h.folder = name_for_system(h.folder, system_utf8);
    last_of[stored] = entries.size();
    entries.push_back(Entry{h, pos + static_cast<int64_t>(needed), pos, source});
    pos += h.entry_length;
  }
  return true;
}

bool group_blocks(const std::vector<Entry>& entries, std::vector<Block>& blocks, std::string& problem) {
  for (size_t i = 0; i < entries.size(); ++i) {
    const EntryHeader& h = entries[i].header;
    if (h.flags & ENTRY_FLAG_SOLID_NEXT) {
      if (blocks.empty() || h.method == METHOD_STORE || entries[i - 1].header.method != h.method) {
        problem = "damaged archive: " + h.path() + " continues a stream that does not exist";
        return false;
      }
      blocks.back().count++;
    } else {
      blocks.push_back(Block{i, 1});
    }
  }
  return true;
}

}  // namespace extraction

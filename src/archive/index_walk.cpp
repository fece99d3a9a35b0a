#include "archive/index_walk.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "format/archive_format.h"
#include "format/utf8_text.h"

size_t MemorySource::read_at(int64_t offset, void* buffer, size_t n) {
  if (offset < 0 || offset >= size()) return 0;
  size_t available = bytes_.size() - static_cast<size_t>(offset);
  size_t count = std::min(n, available);
  std::memcpy(buffer, bytes_.data() + offset, count);
  return count;
}

bool MemorySource::write_at(int64_t offset, uint8_t byte) {
  if (offset < 0 || offset >= size()) return false;
  bytes_[static_cast<size_t>(offset)] = byte;
  return true;
}

namespace {

// Bytes read at once from an entry's start: most headers fit, so one read takes an entry.
constexpr int64_t FIRST_READ = 512;

// Reads up to `want` bytes from pos into buffer; returns the count read.
size_t read_bytes(ByteSource& source, int64_t pos, int64_t want, std::vector<uint8_t>& buffer) {
  buffer.resize(static_cast<size_t>(want));
  return want > 0 ? source.read_at(pos, buffer.data(), buffer.size()) : 0;
}

enum class Step { ok, bad };

// A name ends at its first zero byte; names from archives written in code page 1252 are seen as
// the archiver extracts them. Moved, not copied.
void take_name(std::string& name, bool system_utf8, std::string& to) {
  name.resize(std::strlen(name.c_str()));
  to = name_for_system(std::move(name), system_utf8);
}

// Reads one entry at pos with the shared entry reader. The walk's own policy: foreign entries are
// taken (without the signature there are no own fields), names end at their first zero byte,
// sizes are signed. Nothing is read past the end of the file.
Step read_entry(ByteSource& source, int64_t pos, int64_t file_size, bool system_utf8,
                std::vector<uint8_t>& buffer, IndexEntry* entry, int64_t* entry_length) {
  int64_t room = file_size - pos;
  size_t have = read_bytes(source, pos, std::min(room, FIRST_READ), buffer);
  EntryHeader header;
  size_t needed = 0;
  std::string problem;
  DecodeStatus status;
  while ((status = read_frozen_part(buffer.data(), have, 0, header, needed, problem)) == DecodeStatus::NEED_MORE) {
    if (static_cast<int64_t>(needed) > room || have < buffer.size()) return Step::bad;
    have = read_bytes(source, pos, std::min<int64_t>(room, static_cast<int64_t>(needed) + OWN_FIELDS_SIZE), buffer);
  }
  if (status == DecodeStatus::BAD) return Step::bad;
  *entry_length = header.entry_length;
  int64_t own = mark_offset(header) + 1;
  // An entry shorter than its own header would overlap the next one's fields.
  if (*entry_length <= 0 || *entry_length < own) return Step::bad;
  take_name(header.name, system_utf8, entry->name);
  take_name(header.folder, system_utf8, entry->folder);
  std::replace(entry->folder.begin(), entry->folder.end(), '/', '\\');
  entry->size = header.size;
  entry->position = pos;
  entry->mark_offset = pos + own - 1;
  // The last-write time only from an entry with our signature, and only from the part of the
  // entry that lies inside both its own length and the file.
  entry->has_mtime = false;
  entry->mtime_ns = 0;
  // An encrypted entry's own fields are sealed: what follows its mark is no time.
  if (header.signature != ENTRY_SIGNATURE || (header.flags & ENTRY_FLAG_ENCRYPTED)) return Step::ok;
  int64_t own_end = own + std::min<int64_t>(std::min(room, *entry_length) - own, OWN_FIELDS_SIZE);
  if (static_cast<int64_t>(have) < own_end) have = read_bytes(source, pos, own_end, buffer);
  int64_t own_size = std::min<int64_t>(static_cast<int64_t>(have), own_end) - own;
  if (own_size < OWN_MTIME_OFFSET + 8) return Step::ok;
  read_own_fields(buffer.data() + own, static_cast<size_t>(own_size), header);
  entry->has_mtime = true;
  entry->mtime_ns = header.mtime_ns;
  return Step::ok;
}

}  // namespace

IndexWalkResult index_walk(ByteSource& source, int64_t start, const IndexStep& step,
                           const IndexPoll& poll, int64_t limit) {
  IndexWalkResult result;
  int64_t file_size = source.size();
  int64_t pos = std::max<int64_t>(start, 0);
  IndexEntry entry;
  std::vector<uint8_t> buffer;
  bool system_utf8 = system_text_is_utf8();
  while (pos < file_size) {
    if (result.entries >= limit) {
      result.end = IndexEnd::entry_limit;
      break;
    }
    if (poll) poll();
    int64_t entry_length = 0;
    if (read_entry(source, pos, file_size, system_utf8, buffer, &entry, &entry_length) == Step::bad) {
      result.end = IndexEnd::bad_entry;
      result.damage_position = pos;
      break;
    }
    ++result.entries;
    if (step) step(entry);
    // Compared as room left, so a huge length cannot overflow the position.
    if (entry_length > file_size - pos) {
      result.end = IndexEnd::past_end;
      result.damage_position = pos;
      pos = file_size;
      break;
    }
    pos += entry_length;
  }
  result.stop_position = pos;
  return result;
}

IndexWalkResult index_walk_file(const std::string& archive_path, const IndexStep& step,
                                const IndexPoll& poll) {
  std::unique_ptr<ByteSource> source = open_file_source(archive_path, false);
  if (!source) {
    IndexWalkResult none;
    none.end = IndexEnd::bad_entry;
    return none;
  }
  return index_walk(*source, index_start(archive_path), step, poll);
}

IndexWalkResult index_mark(ByteSource& source, int64_t start, const IndexMarkRule& rule,
                           bool* written, const IndexPoll& poll, size_t marks_held) {
  std::vector<std::pair<int64_t, uint8_t>> marks;
  int64_t resume = -1;  // the first entry whose mark was not kept
  IndexWalkResult result = index_walk(
      source, start,
      [&](const IndexEntry& e) {
        if (marks.size() < marks_held)
          marks.emplace_back(e.mark_offset, rule(e));
        else if (resume < 0)
          resume = e.position;
      },
      poll, INDEX_NO_LIMIT);
  bool ok = true;
  for (const auto& mark : marks) ok = source.write_at(mark.first, mark.second) && ok;
  if (resume >= 0) {
    int64_t rest = result.entries - static_cast<int64_t>(marks.size());
    index_walk(
        source, resume, [&](const IndexEntry& e) { ok = source.write_at(e.mark_offset, rule(e)) && ok; }, poll,
        rest);
  }
  if (written) *written = ok;
  return result;
}

IndexWalkResult index_mark_file(const std::string& archive_path, const IndexMarkRule& rule,
                                bool* written, const IndexPoll& poll) {
  if (written) *written = false;
  std::unique_ptr<ByteSource> source = open_file_source(archive_path, true);
  if (!source) {
    IndexWalkResult none;
    none.end = IndexEnd::bad_entry;
    return none;
  }
  return index_mark(*source, index_start(archive_path), rule, written, poll);
}

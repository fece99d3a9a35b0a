#include "archive/index_walk.h"

#include <algorithm>
#include <cstring>

#include "tool/utf8_text.h"

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

// Little-endian integers read at an absolute offset; false on a short read.
bool read_le(ByteSource& source, int64_t offset, int width, int64_t* value) {
  uint8_t bytes[8] = {};
  if (source.read_at(offset, bytes, static_cast<size_t>(width)) != static_cast<size_t>(width))
    return false;
  uint64_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | bytes[i];
  if (width == 2) {
    *value = static_cast<int16_t>(static_cast<uint16_t>(v));
  } else {
    *value = static_cast<int64_t>(v);
  }
  return true;
}

// A text field occupies its full length but ends at its first zero byte.
bool read_text(ByteSource& source, int64_t offset, int64_t length, std::string* text) {
  text->assign(static_cast<size_t>(length), '\0');
  if (length > 0 && source.read_at(offset, &(*text)[0], text->size()) != text->size()) return false;
  text->resize(std::strlen(text->c_str()));
  return true;
}

enum class Step { ok, bad };

// The archiver's last-write time, read only from an entry with our signature and only within
// `length`, the part of the entry that lies inside both its own length and the file.
void read_own_mtime(ByteSource& source, int64_t pos, int64_t length, int64_t name_length, int64_t folder_length,
                    IndexEntry* entry) {
  entry->has_mtime = false;
  entry->mtime_ns = 0;
  int64_t field = entry_own_fields_offset(name_length, folder_length) + OWN_MTIME_OFFSET;
  int64_t signature = 0;
  if (length < field + 8) return;
  if (!read_le(source, pos + ENTRY_SIGNATURE_OFFSET, 1, &signature) || signature != ENTRY_SIGNATURE) return;
  entry->has_mtime = read_le(source, pos + field, 8, &entry->mtime_ns);
}

// Reads one entry header at pos, each field by an absolute offset. Everything it reads lies
// inside the file: lengths are checked against the room left before the field is read.
Step read_entry(ByteSource& source, int64_t pos, int64_t file_size, bool system_utf8, IndexEntry* entry,
                int64_t* entry_length) {
  int64_t room = file_size - pos;
  if (room < INDEX_FIXED_HEADER) return Step::bad;
  int64_t name_length = 0;
  int64_t folder_length = 0;
  if (!read_le(source, pos + ENTRY_LENGTH_OFFSET, 8, entry_length) || *entry_length <= 0) return Step::bad;
  if (!read_le(source, pos + ENTRY_NAME_LENGTH_OFFSET, 2, &name_length) || name_length < 0) return Step::bad;
  if (room < INDEX_FIXED_HEADER + name_length) return Step::bad;
  if (!read_text(source, pos + ENTRY_NAME_OFFSET, name_length, &entry->name)) return Step::bad;
  if (!read_le(source, pos + entry_folder_length_offset(name_length), 2, &folder_length) || folder_length < 0)
    return Step::bad;
  int64_t header = INDEX_FIXED_HEADER + name_length + folder_length;
  // An entry shorter than its own header would overlap the next one's fields.
  if (room < header || *entry_length < header) return Step::bad;
  if (!read_text(source, pos + entry_folder_offset(name_length), folder_length, &entry->folder)) return Step::bad;
  // Names from archives written in code page 1252 are seen as the archiver extracts them.
  entry->name = name_for_system(entry->name, system_utf8);
  entry->folder = name_for_system(entry->folder, system_utf8);
  std::replace(entry->folder.begin(), entry->folder.end(), '/', '\\');
  if (!read_le(source, pos + entry_size_offset(name_length, folder_length), 8, &entry->size)) return Step::bad;
  entry->position = pos;
  entry->mark_offset = pos + entry_mark_offset(name_length, folder_length);
  read_own_mtime(source, pos, std::min(room, *entry_length), name_length, folder_length, entry);
  return Step::ok;
}

}  // namespace

IndexWalkResult index_walk(ByteSource& source, int64_t start, const IndexStep& step,
                           const IndexPoll& poll, int64_t limit) {
  IndexWalkResult result;
  int64_t file_size = source.size();
  int64_t pos = std::max<int64_t>(start, 0);
  IndexEntry entry;
  bool system_utf8 = system_text_is_utf8();
  while (pos < file_size) {
    if (result.entries >= limit) {
      result.end = IndexEnd::entry_limit;
      break;
    }
    if (poll) poll();
    int64_t entry_length = 0;
    if (read_entry(source, pos, file_size, system_utf8, &entry, &entry_length) == Step::bad) {
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

#include "format/archive_format.h"

#include <cstring>

#include "format/utf8_text.h"

void put_le(std::vector<uint8_t>& out, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint64_t get_le(const uint8_t* p, int width) {
  uint64_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

namespace {

// The records of more own fields an entry carries, tag and length included.
std::vector<uint8_t> more_fields(const EntryHeader& h) {
  std::vector<uint8_t> out;
  auto record = [&](uint8_t tag, size_t length) {
    out.push_back(tag);
    put_le(out, length, 2);
  };
  if (h.filter != FILTER_NONE) {
    record(FIELD_FILTER, 2);
    out.push_back(h.filter);
    out.push_back(static_cast<uint8_t>(h.filter == FILTER_DELTA ? h.filter_distance - 1 : 0));
  }
  if (h.dictionary != 0) {
    record(FIELD_DICTIONARY, 4);
    put_le(out, h.dictionary, 4);
  }
  if (h.ppmd_order != 0 || h.ppmd_memory != 0) {
    record(FIELD_PPMD, 5);
    out.push_back(h.ppmd_order);
    put_le(out, h.ppmd_memory, 4);
  }
  if (h.is_copy()) {
    record(FIELD_COPY_OF, 1 + h.copy_of.size());
    out.push_back(h.copy_of_flags);
    out.insert(out.end(), h.copy_of.begin(), h.copy_of.end());
  }
  return out;
}

// Reads the records of more own fields; every tag must be known and fit its record.
bool read_more_fields(const uint8_t* data, size_t size, EntryHeader& out, std::string& problem) {
  for (size_t at = 0; at < size;) {
    if (size - at < static_cast<size_t>(OWN_RECORD_HEAD)) { problem = "own field record cut short"; return false; }
    uint8_t tag = data[at];
    size_t length = static_cast<size_t>(get_le(data + at + 1, 2));
    at += OWN_RECORD_HEAD;
    if (length > size - at) { problem = "own field record runs past the header"; return false; }
    const uint8_t* value = data + at;
    at += length;
    if (tag == FIELD_FILTER && length == 2 && value[0] >= FILTER_X86 && value[0] <= FILTER_DELTA) {
      out.filter = value[0];
      out.filter_distance = value[0] == FILTER_DELTA ? value[1] + 1 : 0;
    } else if (tag == FIELD_DICTIONARY && length == 4) {
      out.dictionary = static_cast<uint32_t>(get_le(value, 4));
    } else if (tag == FIELD_PPMD && length == 5) {
      out.ppmd_order = value[0];
      out.ppmd_memory = static_cast<uint32_t>(get_le(value + 1, 4));
    } else if (tag == FIELD_COPY_OF && length >= 2) {
      out.copy_of_flags = value[0];
      out.copy_of.assign(reinterpret_cast<const char*>(value + 1), length - 1);
    } else {
      problem = "unknown own field " + std::to_string(tag);
      return false;
    }
  }
  return true;
}

}  // namespace

int64_t header_size(size_t name_length, size_t folder_length) {
  return INDEX_FIXED_HEADER + static_cast<int64_t>(name_length) + static_cast<int64_t>(folder_length) +
         OWN_FIELDS_SIZE;
}

int64_t header_size(const EntryHeader& h) {
  size_t more = more_fields(h).size();
  return header_size(h.name.size(), h.folder.size()) + (more > 0 ? OWN_MORE_LENGTH_SIZE + static_cast<int64_t>(more) : 0);
}

int64_t mark_offset(const EntryHeader& h) {
  return entry_mark_offset(static_cast<int64_t>(h.name.size()), static_cast<int64_t>(h.folder.size()));
}

std::vector<uint8_t> encode_header(const EntryHeader& h) {
  std::vector<uint8_t> out;
  out.reserve(static_cast<size_t>(header_size(h.name.size(), h.folder.size())));
  put_le(out, static_cast<uint64_t>(h.entry_length), 8);
  std::vector<uint8_t> more = more_fields(h);
  out.push_back(h.signature);
  out.push_back(static_cast<uint8_t>(more.empty() ? h.flags & ~ENTRY_FLAG_MORE_FIELDS : h.flags | ENTRY_FLAG_MORE_FIELDS));
  put_le(out, h.name.size(), 2);
  out.insert(out.end(), h.name.begin(), h.name.end());
  put_le(out, h.folder.size(), 2);
  out.insert(out.end(), h.folder.begin(), h.folder.end());
  put_le(out, static_cast<uint64_t>(h.size), 8);
  out.push_back(h.mark);
  put_le(out, h.compressed_size, 8);
  put_le(out, h.crc, 4);
  put_le(out, static_cast<uint64_t>(h.mtime_ns), 8);
  put_le(out, h.attributes, 4);
  put_le(out, h.unix_mode, 4);
  out.push_back(h.method);
  if (!more.empty()) {
    put_le(out, more.size(), 2);
    out.insert(out.end(), more.begin(), more.end());
  }
  return out;
}

DecodeStatus read_frozen_part(const uint8_t* data, size_t size, size_t after_mark, EntryHeader& out,
                              size_t& needed, std::string& problem) {
  needed = ENTRY_NAME_OFFSET;
  if (size < needed) return DecodeStatus::NEED_MORE;
  int16_t n = static_cast<int16_t>(get_le(data + ENTRY_NAME_LENGTH_OFFSET, 2));
  if (n < 0) { problem = "name length is negative"; return DecodeStatus::BAD; }
  needed = static_cast<size_t>(entry_folder_offset(n));
  if (size < needed) return DecodeStatus::NEED_MORE;
  int16_t m = static_cast<int16_t>(get_le(data + entry_folder_length_offset(n), 2));
  if (m < 0) { problem = "folder length is negative"; return DecodeStatus::BAD; }
  needed = static_cast<size_t>(entry_own_fields_offset(n, m)) + after_mark;
  if (size < needed) return DecodeStatus::NEED_MORE;

  out.entry_length = static_cast<int64_t>(get_le(data + ENTRY_LENGTH_OFFSET, 8));
  out.signature = data[ENTRY_SIGNATURE_OFFSET];
  out.flags = data[ENTRY_FLAGS_OFFSET];
  out.name.assign(reinterpret_cast<const char*>(data + ENTRY_NAME_OFFSET), static_cast<size_t>(n));
  out.folder.assign(reinterpret_cast<const char*>(data + entry_folder_offset(n)), static_cast<size_t>(m));
  out.size = static_cast<int64_t>(get_le(data + entry_size_offset(n, m), 8));
  out.mark = data[entry_mark_offset(n, m)];
  return DecodeStatus::OK;
}

bool read_own_fields(const uint8_t* data, size_t size, EntryHeader& out) {
  auto has = [&](int64_t offset, int width) { return static_cast<size_t>(offset + width) <= size; };
  if (has(OWN_COMPRESSED_SIZE_OFFSET, 8)) out.compressed_size = get_le(data + OWN_COMPRESSED_SIZE_OFFSET, 8);
  if (has(OWN_CRC_OFFSET, 4)) out.crc = static_cast<uint32_t>(get_le(data + OWN_CRC_OFFSET, 4));
  if (has(OWN_MTIME_OFFSET, 8)) out.mtime_ns = static_cast<int64_t>(get_le(data + OWN_MTIME_OFFSET, 8));
  if (has(OWN_ATTRIBUTES_OFFSET, 4)) out.attributes = static_cast<uint32_t>(get_le(data + OWN_ATTRIBUTES_OFFSET, 4));
  if (has(OWN_UNIX_MODE_OFFSET, 4)) out.unix_mode = static_cast<uint32_t>(get_le(data + OWN_UNIX_MODE_OFFSET, 4));
  if (has(OWN_METHOD_OFFSET, 1)) out.method = data[OWN_METHOD_OFFSET];
  return size >= static_cast<size_t>(OWN_FIELDS_SIZE);
}

DecodeStatus decode_header(const uint8_t* data, size_t size, EntryHeader& out, size_t& needed,
                           std::string& problem) {
  DecodeStatus frozen = read_frozen_part(data, size, OWN_FIELDS_SIZE, out, needed, problem);
  if (frozen != DecodeStatus::OK) return frozen;
  read_own_fields(data + mark_offset(out) + 1, OWN_FIELDS_SIZE, out);
  if (out.signature != ENTRY_SIGNATURE) { problem = "not a vantor entry"; return DecodeStatus::BAD; }
  out.filter = FILTER_NONE;  // an entry without records has none of these, whatever `out` held
  out.filter_distance = 0;
  out.dictionary = 0;
  out.ppmd_order = 0;
  out.ppmd_memory = 0;
  out.copy_of.clear();
  out.copy_of_flags = 0;
  if (out.flags & ENTRY_FLAG_MORE_FIELDS) {
    size_t more_at = needed;
    needed += OWN_MORE_LENGTH_SIZE;
    if (size < needed) return DecodeStatus::NEED_MORE;
    size_t more = static_cast<size_t>(get_le(data + more_at, 2));
    needed += more;
    if (size < needed) return DecodeStatus::NEED_MORE;
    if (more == 0) { problem = "empty own field records"; return DecodeStatus::BAD; }
    if (!read_more_fields(data + more_at + OWN_MORE_LENGTH_SIZE, more, out, problem)) return DecodeStatus::BAD;
  }

  if ((out.flags & ENTRY_FLAG_UTF8_NAMES) && !(utf8_valid(out.name) && utf8_valid(out.folder))) {
    problem = "name marked as UTF-8 is not UTF-8";
    return DecodeStatus::BAD;
  }
  if (out.size < 0) { problem = "negative member size"; return DecodeStatus::BAD; }
  if (out.method != METHOD_STORE && out.method != METHOD_DEFLATE && out.method != METHOD_ZSTD &&
      out.method != METHOD_LZMA2 && out.method != METHOD_PPMD) {
    problem = "unknown compression method";
    return DecodeStatus::BAD;
  }
  if (out.is_copy()) {
    if (out.method != METHOD_STORE || out.compressed_size != 0 || (out.flags & ENTRY_FLAG_SOLID_NEXT) ||
        out.filter != FILTER_NONE || out.dictionary != 0 || out.ppmd_order != 0 || out.ppmd_memory != 0) {
      problem = "a copy of another member with data of its own";
      return DecodeStatus::BAD;
    }
    if ((out.copy_of_flags & ENTRY_FLAG_UTF8_NAMES) && !utf8_valid(out.copy_of)) {
      problem = "name marked as UTF-8 is not UTF-8";
      return DecodeStatus::BAD;
    }
  } else if ((out.filter != FILTER_NONE || out.dictionary != 0) &&
             (out.method != METHOD_LZMA2 || (out.flags & ENTRY_FLAG_SOLID_NEXT))) {
    problem = "stream settings on an entry that does not start an LZMA2 stream";
    return DecodeStatus::BAD;
  } else if ((out.ppmd_order != 0 || out.ppmd_memory != 0) !=
             (out.method == METHOD_PPMD && !(out.flags & ENTRY_FLAG_SOLID_NEXT))) {
    problem = "PPMd model settings on an entry that does not start a PPMd stream, or missing from one that does";
    return DecodeStatus::BAD;
  } else if (out.method == METHOD_STORE && out.compressed_size != static_cast<uint64_t>(out.size)) {
    problem = "stored member with mismatched sizes";
    return DecodeStatus::BAD;
  }
  if (out.compressed_size > static_cast<uint64_t>(INT64_MAX) - needed ||
      out.entry_length != static_cast<int64_t>(needed + out.compressed_size)) {
    problem = "entry length does not match its contents";
    return DecodeStatus::BAD;
  }
  return DecodeStatus::OK;
}

uint64_t largest_output(uint8_t method, uint64_t compressed) {
  constexpr uint64_t PPMD_BYTES_PER_BYTE = 4096;
  constexpr uint64_t ZSTD_BLOCK = 128 << 10;
  constexpr uint64_t LZMA2_CHUNK = 2 << 20;
  uint64_t units = compressed + 1, each = 1032;
  if (method == METHOD_STORE) units = compressed, each = 1;
  if (method == METHOD_ZSTD) units = compressed / 4 + 1, each = ZSTD_BLOCK;
  // An LZMA2 chunk of at most 2 MB takes a 5-byte head and at least one byte of range code.
  if (method == METHOD_LZMA2) units = compressed / 6 + 1, each = LZMA2_CHUNK;
  // A PPMd symbol in a context sure of it costs a little over 1/256 of a bit (its binary
  // probability is held below 16,256/16,384), so a byte of range code holds at most 2,048 of them.
  if (method == METHOD_PPMD) units = compressed + 1, each = PPMD_BYTES_PER_BYTE;
  return units > UINT64_MAX / each ? UINT64_MAX : units * each;
}

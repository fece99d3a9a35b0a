#include "format/archive_format.h"

#include <cstring>

#include "format/utf8_text.h"

namespace {

void put(std::vector<uint8_t>& out, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint64_t get(const uint8_t* p, int width) {
  uint64_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

}  // namespace

int64_t header_size(size_t name_length, size_t folder_length) {
  return INDEX_FIXED_HEADER + static_cast<int64_t>(name_length) + static_cast<int64_t>(folder_length) +
         OWN_FIELDS_SIZE;
}

int64_t mark_offset(const EntryHeader& h) {
  return entry_mark_offset(static_cast<int64_t>(h.name.size()), static_cast<int64_t>(h.folder.size()));
}

std::vector<uint8_t> encode_header(const EntryHeader& h) {
  std::vector<uint8_t> out;
  out.reserve(static_cast<size_t>(header_size(h.name.size(), h.folder.size())));
  put(out, static_cast<uint64_t>(h.entry_length), 8);
  out.push_back(h.signature);
  out.push_back(h.flags);
  put(out, h.name.size(), 2);
  out.insert(out.end(), h.name.begin(), h.name.end());
  put(out, h.folder.size(), 2);
  out.insert(out.end(), h.folder.begin(), h.folder.end());
  put(out, static_cast<uint64_t>(h.size), 8);
  out.push_back(h.mark);
  put(out, h.compressed_size, 8);
  put(out, h.crc, 4);
  put(out, static_cast<uint64_t>(h.mtime_ns), 8);
  put(out, h.attributes, 4);
  put(out, h.unix_mode, 4);
  out.push_back(h.method);
  return out;
}

DecodeStatus read_frozen_part(const uint8_t* data, size_t size, size_t after_mark, EntryHeader& out,
                              size_t& needed, std::string& problem) {
  needed = ENTRY_NAME_OFFSET;
  if (size < needed) return DecodeStatus::NEED_MORE;
  int16_t n = static_cast<int16_t>(get(data + ENTRY_NAME_LENGTH_OFFSET, 2));
  if (n < 0) { problem = "name length is negative"; return DecodeStatus::BAD; }
  needed = static_cast<size_t>(entry_folder_offset(n));
  if (size < needed) return DecodeStatus::NEED_MORE;
  int16_t m = static_cast<int16_t>(get(data + entry_folder_length_offset(n), 2));
  if (m < 0) { problem = "folder length is negative"; return DecodeStatus::BAD; }
  needed = static_cast<size_t>(entry_own_fields_offset(n, m)) + after_mark;
  if (size < needed) return DecodeStatus::NEED_MORE;

  out.entry_length = static_cast<int64_t>(get(data + ENTRY_LENGTH_OFFSET, 8));
  out.signature = data[ENTRY_SIGNATURE_OFFSET];
  out.flags = data[ENTRY_FLAGS_OFFSET];
  out.name.assign(reinterpret_cast<const char*>(data + ENTRY_NAME_OFFSET), static_cast<size_t>(n));
  out.folder.assign(reinterpret_cast<const char*>(data + entry_folder_offset(n)), static_cast<size_t>(m));
  out.size = static_cast<int64_t>(get(data + entry_size_offset(n, m), 8));
  out.mark = data[entry_mark_offset(n, m)];
  return DecodeStatus::OK;
}

bool read_own_fields(const uint8_t* data, size_t size, EntryHeader& out) {
  auto has = [&](int64_t offset, int width) { return static_cast<size_t>(offset + width) <= size; };
  if (has(OWN_COMPRESSED_SIZE_OFFSET, 8)) out.compressed_size = get(data + OWN_COMPRESSED_SIZE_OFFSET, 8);
  if (has(OWN_CRC_OFFSET, 4)) out.crc = static_cast<uint32_t>(get(data + OWN_CRC_OFFSET, 4));
  if (has(OWN_MTIME_OFFSET, 8)) out.mtime_ns = static_cast<int64_t>(get(data + OWN_MTIME_OFFSET, 8));
  if (has(OWN_ATTRIBUTES_OFFSET, 4)) out.attributes = static_cast<uint32_t>(get(data + OWN_ATTRIBUTES_OFFSET, 4));
  if (has(OWN_UNIX_MODE_OFFSET, 4)) out.unix_mode = static_cast<uint32_t>(get(data + OWN_UNIX_MODE_OFFSET, 4));
  if (has(OWN_METHOD_OFFSET, 1)) out.method = data[OWN_METHOD_OFFSET];
  return size >= static_cast<size_t>(OWN_FIELDS_SIZE);
}

DecodeStatus decode_header(const uint8_t* data, size_t size, EntryHeader& out, size_t& needed,
                           std::string& problem) {
  DecodeStatus frozen = read_frozen_part(data, size, OWN_FIELDS_SIZE, out, needed, problem);
  if (frozen != DecodeStatus::OK) return frozen;
  read_own_fields(data + mark_offset(out) + 1, OWN_FIELDS_SIZE, out);

  if (out.signature != ENTRY_SIGNATURE) { problem = "not a vantor entry"; return DecodeStatus::BAD; }
  if ((out.flags & ENTRY_FLAG_UTF8_NAMES) && !(utf8_valid(out.name) && utf8_valid(out.folder))) {
    problem = "name marked as UTF-8 is not UTF-8";
    return DecodeStatus::BAD;
  }
  if (out.size < 0) { problem = "negative member size"; return DecodeStatus::BAD; }
  if (out.method != METHOD_STORE && out.method != METHOD_DEFLATE && out.method != METHOD_ZSTD) {
    problem = "unknown compression method";
    return DecodeStatus::BAD;
  }
  if (out.method == METHOD_STORE && out.compressed_size != static_cast<uint64_t>(out.size)) {
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
  constexpr uint64_t ZSTD_BLOCK = 128 << 10;
  uint64_t units = method == METHOD_STORE ? compressed : method == METHOD_ZSTD ? compressed / 4 + 1 : compressed + 1;
  uint64_t each = method == METHOD_STORE ? 1 : method == METHOD_ZSTD ? ZSTD_BLOCK : 1032;
  return units > UINT64_MAX / each ? UINT64_MAX : units * each;
}

// The archive index as both sides of the program see it: the front end walks it and rewrites
// the mark bytes, the archiver writes it. The part of an entry up to and including the mark byte
// is frozen; the archiver's own fields follow the mark.
//
// Entry at offset 0: entry length (8, the link to the next entry), signature (1), flags (1),
// name length n (2), name (n), folder length m (2), folder (m), size (8), mark (1).
// All integers little-endian; the lengths are signed 16-bit.
#pragma once
#include <cstdint>
#include <string>

constexpr int64_t INDEX_STUB_SIZE = 155648;  // the self-extracting stub in front of the index
constexpr int TABLE_CAPACITY = 512000;       // entries, selected paths and created folders
constexpr int INDEX_ENTRY_LIMIT = TABLE_CAPACITY;

constexpr int64_t ENTRY_LENGTH_OFFSET = 0;
constexpr int64_t ENTRY_SIGNATURE_OFFSET = 8;
constexpr int64_t ENTRY_FLAGS_OFFSET = 9;
constexpr int64_t ENTRY_NAME_LENGTH_OFFSET = 10;
constexpr int64_t ENTRY_NAME_OFFSET = 12;
constexpr int64_t INDEX_FIXED_HEADER = 23;   // header bytes besides the name and folder

// Offsets from the entry's first byte, given the name length n and the folder length m.
constexpr int64_t entry_folder_length_offset(int64_t n) { return ENTRY_NAME_OFFSET + n; }
constexpr int64_t entry_folder_offset(int64_t n) { return ENTRY_NAME_OFFSET + 2 + n; }
constexpr int64_t entry_size_offset(int64_t n, int64_t m) { return ENTRY_NAME_OFFSET + 2 + n + m; }
constexpr int64_t entry_mark_offset(int64_t n, int64_t m) { return entry_size_offset(n, m) + 8; }
// First byte after the mark: where the archiver's own fields begin.
constexpr int64_t entry_own_fields_offset(int64_t n, int64_t m) { return INDEX_FIXED_HEADER + n + m; }

// The archiver's own fields, present when the signature byte is ENTRY_SIGNATURE. Offsets from
// the first byte after the mark: compressed size (8), CRC-32 (4), last-write time (8, signed
// nanoseconds since 1970-01-01 UTC), attributes (4), unix mode (4), method (1).
constexpr uint8_t ENTRY_SIGNATURE = 0x56;
constexpr int64_t OWN_COMPRESSED_SIZE_OFFSET = 0;
constexpr int64_t OWN_CRC_OFFSET = 8;
constexpr int64_t OWN_MTIME_OFFSET = 12;
constexpr int64_t OWN_ATTRIBUTES_OFFSET = 20;
constexpr int64_t OWN_UNIX_MODE_OFFSET = 24;
constexpr int64_t OWN_METHOD_OFFSET = 28;
constexpr int64_t OWN_FIELDS_SIZE = 29;
// Entries flagged ENTRY_FLAG_MORE_FIELDS carry more of them after these: their length in bytes (2)
// and records of a tag (1), a length (2) and that many bytes. Old entries have none.
constexpr int64_t OWN_MORE_LENGTH_SIZE = 2;
constexpr int64_t OWN_RECORD_HEAD = 3;

// INDEX_STUB_SIZE when the extension of the path's last component is exactly "exe" or "EXE",
// else 0.
int64_t index_start(const std::string& archive_path);
// The archive path a self-extracting run writes: the extension replaced by ".exe".
std::string self_extracting_path(const std::string& archive_path);

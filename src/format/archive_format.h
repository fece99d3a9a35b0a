// The on-disk entry of a vantor archive, read and written here for both programs. The part up
// to the mark byte is frozen (the front end rewrites the mark in place); the archiver's own
// fields follow it. Each program keeps its own policy over what it reads: the front end's walk
// takes foreign entries too, the archiver refuses anything but its own well-formed ones.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "format/archive_layout.h"

constexpr uint8_t ENTRY_FLAG_SOLID_NEXT = 1;  // byte 9: data continues the previous entry's stream
// Byte 9: name and folder are UTF-8. Entries without it hold the code page of their writer
// (1252 on the Western systems that wrote them), which name_for_system turns into UTF-8.
constexpr uint8_t ENTRY_FLAG_UTF8_NAMES = 2;
// Byte 9: records of more own fields follow the fixed ones (archive_layout.h); encode_header sets it.
constexpr uint8_t ENTRY_FLAG_MORE_FIELDS = 4;
// Byte 9: the entry's data and own fields are sealed with the archive's password; every entry of
// an encrypted archive has it, so the front end knows to ask before opening.
constexpr uint8_t ENTRY_FLAG_ENCRYPTED = 8;
// Byte 9, with ENTRY_FLAG_ENCRYPTED: the one entry standing for an index kept sealed inside it.
constexpr uint8_t ENTRY_FLAG_SEALED_INDEX = 16;

constexpr uint8_t METHOD_STORE = 0;
constexpr uint8_t METHOD_DEFLATE = 8;       // raw deflate, no zlib or gzip wrapper
constexpr uint8_t METHOD_ZSTD = 20;         // zstd frames, one after another, no checksum
constexpr uint8_t METHOD_LZMA2 = 21;        // raw LZMA2 chunks up to the end marker
constexpr uint8_t METHOD_PPMD = 22;         // PPMd var. H, range coded, ending with the stream's recorded size

// A stream's data may pass a filter before its method: the branch targets of x86 or ARM64 code
// made absolute, or each byte replaced by its difference to the byte `distance` before.
constexpr uint8_t FILTER_NONE = 0;
constexpr uint8_t FILTER_X86 = 1;
constexpr uint8_t FILTER_ARM64 = 2;
constexpr uint8_t FILTER_DELTA = 3;
constexpr int FILTER_DELTA_MAX = 256;

// Tags of the records of more own fields. Filter and dictionary are on a stream's first entry; a
// copy names an earlier member with the same data, which is stored once.
constexpr uint8_t FIELD_FILTER = 1;       // filter (1), delta distance - 1 (1)
constexpr uint8_t FIELD_DICTIONARY = 2;   // bytes of history the stream's decoder keeps (4)
constexpr uint8_t FIELD_COPY_OF = 3;      // the member's folder and name as stored, UTF-8 flag first (1 + n)
constexpr uint8_t FIELD_PPMD = 4;         // a PPMd stream's model: order (1), memory in bytes (4)

constexpr int32_t MAX_TEXT_FIELD = 32767;

struct EntryHeader {
  int64_t entry_length = 0;      // header + data, the link to the next entry
  uint8_t signature = ENTRY_SIGNATURE;
  uint8_t flags = 0;
  std::string name;              // file name without folder
  std::string folder;            // "docs/sub/" or "" for the root
  int64_t size = 0;              // uncompressed bytes
  uint8_t mark = 0;
  // Our own fields.
  uint64_t compressed_size = 0;
  uint32_t crc = 0;
  int64_t mtime_ns = 0;          // nanoseconds since 1970-01-01 UTC
  uint32_t attributes = 0;       // FILE_ATTRIBUTE_* bits
  uint32_t unix_mode = 0;        // permission bits, 0 when unknown
  uint8_t method = METHOD_DEFLATE;
  // More own fields (see FIELD_*).
  uint8_t filter = FILTER_NONE;
  int filter_distance = 0;       // 1..FILTER_DELTA_MAX for FILTER_DELTA
  uint32_t dictionary = 0;
  uint8_t ppmd_order = 0;        // both 0 unless the entry starts a PPMd stream
  uint32_t ppmd_memory = 0;
  std::string copy_of;           // "" unless the data is an earlier member's, by its stored path
  uint8_t copy_of_flags = 0;     // ENTRY_FLAG_UTF8_NAMES when copy_of is UTF-8

  std::string path() const { return folder + name; }
  bool is_copy() const { return !copy_of.empty(); }
};

// The most bytes `method` can produce from `compressed` bytes: deflate cannot pass 1,032 : 1
// (a 258-byte match in two bits), and a zstd block of at most 128 KB needs a 3-byte header and
// at least one byte. A larger recorded size is a lie, refused before anything is written.
uint64_t largest_output(uint8_t method, uint64_t compressed);

// Bytes of the encoded header, given the text lengths, for an entry without more own fields.
int64_t header_size(size_t name_length, size_t folder_length);
// Bytes of the encoded header, more own fields included.
int64_t header_size(const EntryHeader& h);
// Offset of the mark byte from the entry's first byte.
int64_t mark_offset(const EntryHeader& h);

// A little-endian field of `width` bytes, as every number of the format is stored.
void put_le(std::vector<uint8_t>& out, uint64_t value, int width);
uint64_t get_le(const uint8_t* p, int width);

// Encodes a header; entry_length must already be header_size + compressed_size.
std::vector<uint8_t> encode_header(const EntryHeader& h);

enum class DecodeStatus { OK, NEED_MORE, BAD };

// Reads the frozen part (entry length to mark) from the bytes available at an entry's start:
// name and folder whole, zero bytes included, the size as stored (signed). NEED_MORE when
// `size` cannot hold the frozen part and `after_mark` more bytes (`needed` says how many); BAD
// for a negative name or folder length. Nothing else is judged: that is the caller's policy.
DecodeStatus read_frozen_part(const uint8_t* data, size_t size, size_t after_mark, EntryHeader& out,
                              size_t& needed, std::string& problem);

// Reads the archiver's fixed own fields from the `size` bytes after the mark. Only the fields
// lying wholly inside them are read; the others keep their values. True when all were there.
bool read_own_fields(const uint8_t* data, size_t size, EntryHeader& out);

// The archiver's reading: decodes its own entry from the bytes available at the entry's start.
// NEED_MORE when `size` is too short to hold the header (with `needed` set); BAD when it is not
// the archiver's entry or the fields contradict each other.
DecodeStatus decode_header(const uint8_t* data, size_t size, EntryHeader& out, size_t& needed,
                           std::string& problem);


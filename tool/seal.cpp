#include "seal.h"

#include <sodium.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "file_io.h"
#include "format/archive_format.h"
#include "forward_io.h"
#include "sealed_layout.h"

namespace {

constexpr size_t STREAM_HEADER = crypto_secretstream_xchacha20poly1305_HEADERBYTES;
constexpr size_t TAG_BYTES = SEAL_TAG_BYTES;
constexpr size_t KEY_PARAMETERS = 1 + 4 + 4 + 16 + 16;
constexpr const char* KEY_CHECK_TEXT = "vantor archive key check";
// Own fields: the fixed ones and at most a 64 KB block of records.
constexpr size_t OWN_FIELDS_MAX = OWN_FIELDS_SIZE + OWN_MORE_LENGTH_SIZE + 65535;

void key_check(const SealKey& key, uint8_t out[16]) {
  crypto_generichash(out, 16, reinterpret_cast<const uint8_t*>(KEY_CHECK_TEXT), std::strlen(KEY_CHECK_TEXT),
                     key.key.data(), key.key.size());
}

uint64_t sealed_data_size(uint64_t plain) {
  uint64_t chunks = (plain + SEAL_CHUNK - 1) / SEAL_CHUNK;
  return plain + chunks * TAG_BYTES;
}

// Additional data of an entry's own fields: its frozen part before the mark, its readable head,
// its place and whether it is the last.
std::vector<uint8_t> additional_data(const uint8_t* frozen, size_t frozen_size, const uint8_t* head, size_t head_size,
                                     uint32_t place, bool last) {
  std::vector<uint8_t> ad(frozen, frozen + frozen_size);
  ad.insert(ad.end(), head, head + head_size);
  put_le(ad, place, 4);
  ad.push_back(last ? 1 : 0);
  return ad;
}

// One entry of the plain archive, as its bytes lie.
struct PlainEntry {
  std::vector<uint8_t> header;  // frozen part and own fields
  int64_t mark = 0;             // offset of the mark in `header`
  int64_t data_offset = 0;
  uint64_t compressed = 0;
};

bool read_plain_entry(ArchiveSource& in, int64_t at, int64_t end, PlainEntry& out, std::string& problem) {
  size_t want = 4096;
  for (int round = 0; round < 4; ++round) {
    size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(want), end - at));
    out.header.resize(n);
    if (!in.read_at(at, out.header.data(), n)) break;
    EntryHeader h;
    size_t needed = 0;
    DecodeStatus status = decode_header(out.header.data(), n, h, needed, problem);
    if (status == DecodeStatus::OK) {
      out.header.resize(needed);
      out.mark = mark_offset(h);
      out.data_offset = at + static_cast<int64_t>(needed);
      out.compressed = h.compressed_size;
      return true;
    }
    if (status == DecodeStatus::BAD || needed <= n || static_cast<int64_t>(needed) > end - at) break;
    want = needed;
  }
  if (problem.empty()) problem = "an entry cut short";
  return false;
}

// Seals `size` bytes of `in` from `at` as data messages after the own fields.
bool seal_data(ArchiveSource& in, int64_t at, uint64_t size, crypto_secretstream_xchacha20poly1305_state& state,
               WriteBehind& out, std::string& problem) {
  std::vector<uint8_t> plain(SEAL_CHUNK), sealed(SEAL_CHUNK + TAG_BYTES);
  for (uint64_t done = 0; done < size;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(SEAL_CHUNK, size - done));
    if (!in.read_at(at + static_cast<int64_t>(done), plain.data(), n)) {
      problem = "cannot read the archive being sealed";
      return false;
    }
    done += n;
    uint8_t tag = done == size ? crypto_secretstream_xchacha20poly1305_TAG_FINAL : 0;
    crypto_secretstream_xchacha20poly1305_push(&state, sealed.data(), nullptr, plain.data(), n, nullptr, 0, tag);
    out.write(sealed.data(), n + TAG_BYTES);
  }
  sodium_memzero(plain.data(), plain.size());
  return true;
}

// Seals one entry: `frozen` is the frozen part up to the mark with its flags and length to be set,
// `own` the own fields, then `data_size` bytes of `in` from `data_at`.
bool seal_entry(std::vector<uint8_t> frozen, uint8_t mark, const std::vector<uint8_t>& own, ArchiveSource& in,
                int64_t data_at,
                uint64_t data_size, uint32_t place, bool last, uint8_t seal_flags, const SealKey& key, WriteBehind& out,
                std::string& problem) {
  std::vector<uint8_t> head{SEAL_VERSION, seal_flags};
  if (seal_flags & SEAL_KEY_PARAMETERS) {
    head.push_back(SEAL_ALGORITHM_ARGON2ID);
    put_le(head, key.ops, 4);
    put_le(head, key.memory_kib, 4);
    head.insert(head.end(), key.salt, key.salt + 16);
    uint8_t check[16];
    key_check(key, check);
    head.insert(head.end(), check, check + 16);
  }
  uint64_t length = frozen.size() + 1 + head.size() + STREAM_HEADER + 4 + own.size() + TAG_BYTES +
                    sealed_data_size(data_size);
  for (int i = 0; i < 8; ++i) frozen[static_cast<size_t>(ENTRY_LENGTH_OFFSET) + i] = static_cast<uint8_t>(length >> (8 * i));
  frozen[ENTRY_FLAGS_OFFSET] |= ENTRY_FLAG_ENCRYPTED;
  crypto_secretstream_xchacha20poly1305_state state;
  uint8_t stream_header[STREAM_HEADER];
  crypto_secretstream_xchacha20poly1305_init_push(&state, stream_header, key.key.data());
  std::vector<uint8_t> ad = additional_data(frozen.data(), frozen.size(), head.data(), head.size(), place, last);
  std::vector<uint8_t> sealed_own(own.size() + TAG_BYTES);
  uint8_t tag = data_size == 0 ? crypto_secretstream_xchacha20poly1305_TAG_FINAL : 0;
  crypto_secretstream_xchacha20poly1305_push(&state, sealed_own.data(), nullptr, own.data(), own.size(), ad.data(),
                                             ad.size(), tag);
  out.write(frozen.data(), frozen.size());
  out.write(&mark, 1);
  out.write(head.data(), head.size());
  out.write(stream_header, STREAM_HEADER);
  std::vector<uint8_t> own_length;
  put_le(own_length, sealed_own.size(), 4);
  out.write(own_length.data(), 4);
  out.write(sealed_own.data(), sealed_own.size());
  bool ok = seal_data(in, data_at, data_size, state, out, problem);
  sodium_memzero(&state, sizeof state);
  return ok;
}

// The readable head after an encrypted entry's mark, read from `p` (at most `n` bytes).
struct Head {
  uint8_t flags = 0;
  uint32_t ops = 0, memory_kib = 0;
  uint8_t salt[16] = {}, check[16] = {};
  size_t size = 0;
};

bool read_head(const uint8_t* p, size_t n, bool first, Head& head, std::string& problem) {
  if (n < 2 || p[0] != SEAL_VERSION) {
    problem = "an encrypted entry of an unknown kind";
    return false;
  }
  head.flags = p[1];
  head.size = 2;
  if (((head.flags & SEAL_KEY_PARAMETERS) != 0) != first || (head.flags & ~(SEAL_KEY_PARAMETERS | SEAL_WHOLE_INDEX))) {
    problem = "an encrypted entry with a head that does not fit its place";
    return false;
  }
  if (!first) return true;
  if (n < 2 + KEY_PARAMETERS || p[2] != SEAL_ALGORITHM_ARGON2ID) {
    problem = "an encrypted archive of an unknown key derivation";
    return false;
  }
  head.ops = static_cast<uint32_t>(get_le(p + 3, 4));
  head.memory_kib = static_cast<uint32_t>(get_le(p + 7, 4));
  std::memcpy(head.salt, p + 11, 16);
  std::memcpy(head.check, p + 27, 16);
  head.size += KEY_PARAMETERS;
  return true;
}

bool parameters_allowed(uint32_t ops, uint32_t memory_kib, std::string& problem) {
  if (memory_kib < SEAL_MEMORY_MIN_KIB || memory_kib > SEAL_MEMORY_MAX_KIB || ops < SEAL_OPS_MIN || ops > SEAL_OPS_MAX) {
    problem = "its key derivation asks for " + std::to_string(memory_kib / 1024) + " MB and " + std::to_string(ops) +
              " passes, outside " + std::to_string(SEAL_MEMORY_MIN_KIB / 1024) + "-" +
              std::to_string(SEAL_MEMORY_MAX_KIB / 1024) + " MB and " + std::to_string(SEAL_OPS_MIN) + "-" +
              std::to_string(SEAL_OPS_MAX) + " passes: refused";
    return false;
  }
  return true;
}

bool derive(const Secret& password, SealKey& key, std::string& problem) {
  if (!sodium_ready()) {
    problem = "the system's random source cannot be used";
    return false;
  }
  auto start = std::chrono::steady_clock::now();
  key.key.resize(32);
  if (crypto_pwhash(key.key.data(), 32, reinterpret_cast<const char*>(password.data()), password.size(), key.salt,
                    key.ops, static_cast<size_t>(key.memory_kib) << 10, crypto_pwhash_ALG_ARGON2ID13) != 0) {
    problem = "not enough memory for the key derivation (" + std::to_string(key.memory_kib / 1024) + " MB)";
    return false;
  }
  key.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return true;
}

uint32_t setting(const char* name, uint32_t low, uint32_t high, uint32_t fallback) {
  const char* text = std::getenv(name);
  if (!text || !*text) return fallback;
  unsigned long value = std::strtoul(text, nullptr, 10);
  return value >= low && value <= high ? static_cast<uint32_t>(value) : fallback;
}

}  // namespace

bool archive_is_encrypted(const std::string& archive_path, bool* whole_index) {
  File in;
  if (!in.open_read(archive_path)) return false;
  int64_t start = index_start(archive_path);
  uint8_t bytes[ENTRY_NAME_OFFSET + 2 + 64];
  int64_t length = in.length();
  if (length < start + static_cast<int64_t>(ENTRY_NAME_OFFSET)) return false;
  size_t n = static_cast<size_t>(std::min<int64_t>(sizeof bytes, length - start));
  if (!in.read_at(start, bytes, n)) return false;
  bool encrypted = bytes[ENTRY_SIGNATURE_OFFSET] == ENTRY_SIGNATURE && (bytes[ENTRY_FLAGS_OFFSET] & ENTRY_FLAG_ENCRYPTED);
  if (whole_index) *whole_index = encrypted && (bytes[ENTRY_FLAGS_OFFSET] & ENTRY_FLAG_SEALED_INDEX);
  return encrypted;
}

bool new_key(const Secret& password, SealKey& key, std::string& problem) {
  if (!sodium_ready()) {
    problem = "the system's random source cannot be used";
    return false;
  }
  key.ops = setting("VANTOR_ARGON2_OPS", SEAL_OPS_MIN, SEAL_OPS_MAX, SEAL_OPS_DEFAULT);
  key.memory_kib = setting("VANTOR_ARGON2_KIB", SEAL_MEMORY_MIN_KIB, SEAL_MEMORY_MAX_KIB, SEAL_MEMORY_DEFAULT_KIB);
  randombytes_buf(key.salt, sizeof key.salt);
  return derive(password, key, problem);
}

bool seal_archive(const std::string& plain_path, File& out_file, const SealKey& key, bool whole_index,
                  std::string& problem) {
  // Reading (and unmasking) the plain archive, sealing it and writing the sealed one each take a
  // thread, so sealing costs little more than its slowest step.
  ForwardReader in;
  if (!in.open(plain_path)) {
    problem = "cannot read the archive being sealed";
    return false;
  }
  int64_t end = in.length();
  WriteBehind out(out_file);
  if (whole_index) {
    EntryHeader h;
    h.flags = ENTRY_FLAG_UTF8_NAMES | ENTRY_FLAG_SEALED_INDEX;
    h.name = SEALED_INDEX_NAME;
    std::vector<uint8_t> header = encode_header(h);
    std::vector<uint8_t> frozen(header.begin(), header.begin() + mark_offset(h));
    std::vector<uint8_t> own;
    put_le(own, static_cast<uint64_t>(end), 8);
    if (!seal_entry(frozen, 0, own, in, 0, static_cast<uint64_t>(end), 0, true,
                    SEAL_KEY_PARAMETERS | SEAL_WHOLE_INDEX, key, out, problem))
      return false;
    return out.flush() || (problem = "cannot write the archive: " + out.error(), false);
  }
  uint32_t place = 0;
  for (int64_t at = 0; at < end; ++place) {
    PlainEntry e;
    if (!read_plain_entry(in, at, end, e, problem)) return false;
    int64_t next = e.data_offset + static_cast<int64_t>(e.compressed);
    std::vector<uint8_t> frozen(e.header.begin(), e.header.begin() + e.mark);
    std::vector<uint8_t> own(e.header.begin() + e.mark + 1, e.header.end());
    if (!seal_entry(frozen, e.header[static_cast<size_t>(e.mark)], own, in, e.data_offset, e.compressed, place,
                    next >= end, place == 0 ? SEAL_KEY_PARAMETERS : 0, key, out, problem))
      return false;
    at = next;
  }
  return out.flush() || (problem = "cannot write the archive: " + out.error(), false);
}

namespace {

// Walks the encrypted archive's entries: checks the key and every entry's head and own fields,
// and lays out the plain archive without reading any data.
UnsealOutcome walk_sealed(File& in, const std::string& archive_path,
                          const std::function<bool(SealKey&, std::string&)>& derive_key, SealKey& key,
                          SealedLayout& layout, std::string& problem) {
  const int64_t start = index_start(archive_path), end = in.length();
  std::vector<uint8_t> bytes;
  bool whole_index = false;
  uint32_t place = 0;
  int64_t plain_at = 0;
  StreamState state;
  auto damaged = [&](const std::string& name, const std::string& why) {
    problem = damaged_text(archive_path, name, why);
    sodium_memzero(&state, sizeof state);
    return UnsealOutcome::DAMAGED;
  };
  for (int64_t at = start; at < end; ++place) {
    if (whole_index) return damaged("", "has entries after its sealed index");
    // The frozen part and the readable head (at most 2 + KEY_PARAMETERS bytes) after the mark.
    size_t want = 4096;
    EntryHeader h;
    size_t needed = 0;
    DecodeStatus status;
    for (;;) {
      size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(want), end - at));
      bytes.resize(n);
      if (!in.read_at(at, bytes.data(), n)) return damaged("", "cannot be read");
      std::string why;
      status = read_frozen_part(bytes.data(), n, 0, h, needed, why);
      if (status != DecodeStatus::NEED_MORE || needed <= n || static_cast<int64_t>(needed) > end - at) break;
      want = needed;
    }
    if (status != DecodeStatus::OK) return damaged("", "has an entry cut short");
    std::string name = h.folder + h.name;
    if (h.signature != ENTRY_SIGNATURE || !(h.flags & ENTRY_FLAG_ENCRYPTED))
      return damaged(name, "is not encrypted in an encrypted archive");
    if (h.entry_length <= 0 || h.entry_length > end - at) return damaged(name, "runs past the end of the archive");
    size_t mark = static_cast<size_t>(mark_offset(h));
    // The mark, the shortest head, a stream header and the own fields' length at the least.
    if (h.entry_length < static_cast<int64_t>(mark + 1 + 2 + STREAM_HEADER + 4)) return damaged(name, "is cut short");
    size_t head_room = static_cast<size_t>(std::min<int64_t>(h.entry_length, static_cast<int64_t>(mark + 1 + 2 + KEY_PARAMETERS + STREAM_HEADER + 4)));
    bytes.resize(head_room);
    if (!in.read_at(at, bytes.data(), head_room)) return damaged(name, "cannot be read");
    Head head;
    std::string why;
    if (!read_head(bytes.data() + mark + 1, head_room - mark - 1, place == 0, head, why)) return damaged(name, why);
    if (place == 0) {
      if (!parameters_allowed(head.ops, head.memory_kib, why)) {
        problem = archive_path + ": " + why;
        return UnsealOutcome::DAMAGED;
      }
      key.ops = head.ops;
      key.memory_kib = head.memory_kib;
      std::memcpy(key.salt, head.salt, 16);
      if (!derive_key(key, problem)) return UnsealOutcome::FAILED;
      uint8_t check[16];
      key_check(key, check);
      if (sodium_memcmp(check, head.check, 16) != 0) {
        problem = "wrong password for " + archive_path;
        return UnsealOutcome::WRONG_PASSWORD;
      }
      whole_index = head.flags & SEAL_WHOLE_INDEX;
      if (whole_index != ((h.flags & ENTRY_FLAG_SEALED_INDEX) != 0)) return damaged(name, "says two things of its index");
    } else if (h.flags & ENTRY_FLAG_SEALED_INDEX) {
      return damaged(name, "stands for a sealed index after other entries");
    }
    size_t stream_at = mark + 1 + head.size;
    if (stream_at + STREAM_HEADER + 4 > head_room) return damaged(name, "is cut short");
    uint64_t own_length = get_le(bytes.data() + stream_at + STREAM_HEADER, 4);
    if (own_length < TAG_BYTES || own_length > OWN_FIELDS_MAX + TAG_BYTES ||
        static_cast<int64_t>(stream_at + STREAM_HEADER + 4 + own_length) > h.entry_length)
      return damaged(name, "has own fields of an impossible length");
    if (crypto_secretstream_xchacha20poly1305_init_pull(&state, bytes.data() + stream_at, key.key.data()) != 0)
      return damaged(name, "has a bad stream header");
    std::vector<uint8_t> ad = additional_data(bytes.data(), mark, bytes.data() + mark + 1, head.size, place,
                                              at + h.entry_length == end);
    std::vector<uint8_t> sealed_own(static_cast<size_t>(own_length)), own(static_cast<size_t>(own_length - TAG_BYTES));
    int64_t own_at = at + static_cast<int64_t>(stream_at + STREAM_HEADER + 4);
    uint8_t tag = 0;
    if (!in.read_at(own_at, sealed_own.data(), sealed_own.size()) ||
        crypto_secretstream_xchacha20poly1305_pull(&state, own.data(), nullptr, &tag, sealed_own.data(),
                                                   sealed_own.size(), ad.data(), ad.size()) != 0)
      return damaged(name, "does not match its seal");
    SealedLayout::Piece piece;
    piece.name = name;
    piece.plain_at = plain_at;
    // The plain entry: the frozen part without the flag and with its plain length, its own fields.
    std::vector<uint8_t> header(bytes.begin(), bytes.begin() + static_cast<int64_t>(mark + 1));
    header.insert(header.end(), own.begin(), own.end());
    header[ENTRY_FLAGS_OFFSET] &= static_cast<uint8_t>(~ENTRY_FLAG_ENCRYPTED);
    if (whole_index) {
      if (own.size() != 8) return damaged(name, "has own fields of an impossible length");
      piece.data_size = get_le(own.data(), 8);
      if (piece.data_size > static_cast<uint64_t>(end)) return damaged(name, "is longer than the archive");
    } else {
      header[ENTRY_FLAGS_OFFSET] &= static_cast<uint8_t>(~ENTRY_FLAG_SEALED_INDEX);
      EntryHeader plain_header;
      read_own_fields(own.data(), own.size(), plain_header);
      piece.data_size = plain_header.compressed_size;
      if (piece.data_size > static_cast<uint64_t>(end)) return damaged(name, "is longer than the archive");
      uint64_t plain_length = header.size() + piece.data_size;
      for (int i = 0; i < 8; ++i) header[static_cast<size_t>(ENTRY_LENGTH_OFFSET) + i] = static_cast<uint8_t>(plain_length >> (8 * i));
      size_t need = 0;
      std::string bad;
      if (decode_header(header.data(), header.size(), plain_header, need, bad) != DecodeStatus::OK || need != header.size())
        return damaged(name, "holds own fields that do not read: " + bad);
      piece.header = std::move(header);
    }
    sodium_memzero(own.data(), own.size());
    if ((tag == crypto_secretstream_xchacha20poly1305_TAG_FINAL) != (piece.data_size == 0))
      return damaged(name, "is cut short");
    if (static_cast<uint64_t>(h.entry_length) != stream_at + STREAM_HEADER + 4 + own_length + sealed_data_size(piece.data_size))
      return damaged(name, "has a length that does not match its data");
    piece.sealed_at = own_at + static_cast<int64_t>(own_length);
    piece.checkpoints.push_back(state);
    plain_at = piece.data_at() + static_cast<int64_t>(piece.data_size);
    layout.pieces.push_back(std::move(piece));
    at += h.entry_length;
  }
  sodium_memzero(&state, sizeof state);
  if (place == 0) {
    problem = archive_path + " holds no encrypted entry";
    return UnsealOutcome::DAMAGED;
  }
  layout.plain_length = plain_at;
  return UnsealOutcome::OK;
}

}  // namespace


UnsealOutcome open_sealed(const std::string& archive_path, const Secret& password, SealKey& key,
                          std::shared_ptr<SealedLayout>& layout, std::string& problem) {
  return open_sealed_with(
      archive_path, [&](SealKey& k, std::string& why) { return derive(password, k, why); }, key, layout, problem);
}

UnsealOutcome open_sealed_with(const std::string& archive_path,
                               const std::function<bool(SealKey&, std::string&)>& derive_key, SealKey& key,
                               std::shared_ptr<SealedLayout>& layout, std::string& problem) {
  if (!sodium_ready()) {
    problem = "the system's random source cannot be used";
    return UnsealOutcome::FAILED;
  }
  File in;
  if (!in.open_read(archive_path)) {
    problem = "cannot open " + archive_path;
    return UnsealOutcome::FAILED;
  }
  auto made = std::make_shared<SealedLayout>();
  made->archive_path = archive_path;
  UnsealOutcome outcome = walk_sealed(in, archive_path, derive_key, key, *made, problem);
  if (outcome == UnsealOutcome::OK) layout = std::move(made);
  return outcome;
}

UnsealOutcome unseal_archive(const std::string& archive_path, const std::string& plain_path, const Secret& password,
                             SealKey& key, std::string& problem) {
  return unseal_archive_with(
      archive_path, plain_path, [&](SealKey& k, std::string& why) { return derive(password, k, why); }, key, problem);
}

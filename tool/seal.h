// Encrypted archives. The engines read and write plain archives; an encrypted archive is a plain
// one whose entries were sealed one by one (or, with names hidden, the whole plain archive sealed
// inside one neutral entry). Sealing turns a plain archive into an encrypted one, unsealing
// checks every byte of an encrypted one and writes the plain archive back.
//
// An encrypted entry keeps the frozen part readable (the front end lists it and rewrites the
// mark); its flags add ENTRY_FLAG_ENCRYPTED and its entry length covers what follows the mark:
//   version (1, = 1), seal flags (1: SEAL_KEY_PARAMETERS, SEAL_WHOLE_INDEX)
//   first entry only: algorithm (1, Argon2id 1.3 = 2), opslimit (4), memlimit in KiB (4),
//     salt (16), key check (16: BLAKE2b of a fixed text keyed with the derived key)
//   secretstream header (24)
//   sealed own fields: ciphertext length (4), then XChaCha20-Poly1305 secretstream message of the
//     plain entry's own fields as they follow its mark (fixed ones and records of more). Its
//     additional data: the frozen part up to the mark (entry length, signature, flags, name,
//     folder, size), the readable head above, the entry's place in the index (4) and whether it
//     is the last entry (1), so nothing readable can be changed and no entry moved, swapped,
//     dropped or cut off unseen.
//   the compressed data in messages of SEAL_CHUNK bytes (the last shorter), each 17 bytes longer
//     sealed; the last message of the entry (own fields when there is no data) carries the final
//     tag, so a cut entry never passes.
// The key: crypto_pwhash (Argon2id) of the password with the archive's salt and parameters, which
// must lie within SEAL_OPS_* and SEAL_MEMORY_* (checked before anything is allocated).
// Names hidden: one entry "encrypted archive" in the root flagged ENTRY_FLAG_ENCRYPTED |
// ENTRY_FLAG_SEALED_INDEX, size 0, sealing as its own fields the plain archive's length (8) and as
// its data the whole plain archive, index included.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "archive_source.h"
#include "password.h"

constexpr uint8_t SEAL_VERSION = 1;
constexpr uint8_t SEAL_KEY_PARAMETERS = 1;
constexpr uint8_t SEAL_WHOLE_INDEX = 2;
constexpr uint8_t SEAL_ALGORITHM_ARGON2ID = 2;
constexpr size_t SEAL_CHUNK = 64 << 10;
constexpr uint32_t SEAL_OPS_MIN = 1, SEAL_OPS_MAX = 16, SEAL_OPS_DEFAULT = 3;
// Argon2id's memory in KiB: at most 256 MB, which a 32-bit process can still find in one piece.
constexpr uint32_t SEAL_MEMORY_MIN_KIB = 64 << 10, SEAL_MEMORY_MAX_KIB = 256 << 10, SEAL_MEMORY_DEFAULT_KIB = 128 << 10;
constexpr const char* SEALED_INDEX_NAME = "encrypted archive";

// Whether the archive's first entry is one of ours flagged ENTRY_FLAG_ENCRYPTED; `whole_index`
// says whether it stands for a sealed index.
bool archive_is_encrypted(const std::string& archive_path, bool* whole_index = nullptr);

// The key and what derived it; wiped when it goes.
struct SealKey {
  Secret key{32};
  uint32_t ops = SEAL_OPS_DEFAULT;
  uint32_t memory_kib = SEAL_MEMORY_DEFAULT_KIB;
  uint8_t salt[16] = {};
  double seconds = 0;  // how long the derivation took
};

// A new key from the password, with a fresh salt and the default parameters (or those of
// VANTOR_ARGON2_KIB and VANTOR_ARGON2_OPS within the limits). False when there is no memory.
bool new_key(const Secret& password, SealKey& key, std::string& problem);

enum class UnsealOutcome { OK, WRONG_PASSWORD, DAMAGED, FAILED };

// Checks the encrypted archive whole and writes the plain archive to `plain_path`. The key comes
// from `password` and the archive's parameters and is handed back in `key` for a rewrite. On
// anything but OK `problem` names the archive (and the entry when one is damaged) and the plain
// file may hold a part: the caller removes it.
UnsealOutcome unseal_archive(const std::string& archive_path, const std::string& plain_path, const Secret& password,
                             SealKey& key, std::string& problem);
// The same with the key made by `derive` from the parameters already in `key` (the fuzz target
// spares itself the derivation's memory and time this way).
UnsealOutcome unseal_archive_with(const std::string& archive_path, const std::string& plain_path,
                                  const std::function<bool(SealKey&, std::string&)>& derive, SealKey& key,
                                  std::string& problem);

// An encrypted archive read in place: every entry's own fields checked and its plain header kept
// in memory, its data decrypted chunk by chunk as it is read and handed out only once its chunk
// passed; nothing plain reaches the disk. Shared by the readers of one run.
class SealedLayout;

// Checks the index of the encrypted archive (the key, every entry's place and own fields) without
// decrypting any data. The outcomes and `key` as for unseal_archive.
UnsealOutcome open_sealed(const std::string& archive_path, const Secret& password, SealKey& key,
                          std::shared_ptr<SealedLayout>& layout, std::string& problem);
UnsealOutcome open_sealed_with(const std::string& archive_path,
                               const std::function<bool(SealKey&, std::string&)>& derive, SealKey& key,
                               std::shared_ptr<SealedLayout>& layout, std::string& problem);
// A reader of the plain archive, with its own handle on the encrypted one; null when that does
// not open. A read into data that does not pass its seal fails, read_problem() saying so.
// `for_index`: for walking the index only, so members' data reads as zeros, never decrypted (a
// sealed index is data and is decrypted).
std::unique_ptr<ArchiveSource> sealed_source(const std::shared_ptr<SealedLayout>& layout, bool for_index = false);
// What such a reader holds at most: two cursors' chunks, the stretch it reads ahead on a thread of
// its own and that thread's stack.
constexpr int64_t SEALED_SOURCE_MEMORY = (4 * SEAL_CHUNK) + (1 << 20) + (2 << 20);

// Writes the encrypted form of the plain archive at `plain_path` to `out` (an open, empty file),
// with `key`; with `whole_index` as one neutral entry.
bool seal_archive(const std::string& plain_path, class File& out, const SealKey& key, bool whole_index,
                  std::string& problem);

// What a run keeps on the disk of an encrypted archive's plain form (its working copy, output
// spilled while compressing, members unpacked for a rewrite) is written masked: XORed with
// XChaCha20 under a key the run draws for itself and never writes anywhere, a nonce per file.
// The engines read and write as ever through File; the disk holds noise to anyone without the
// key, and after a crash to everyone.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "file_io.h"

struct FileMask {
  uint8_t nonce[24];
};

// Files created from now on below `folder` (its path as the run spells it) are masked; their
// masks are known while it stays registered.
bool mask_files_under(const std::string& folder);
// Whether any folder is registered: files elsewhere pay nothing when none is.
bool masking_active();
// Forgets the folder's files and, with the last folder, the key.
void unmask_files_under(const std::string& folder);

// The mask of a file just created at `path` (a new one) or opened there (the one it was created
// with, found by its identity); null outside masked folders. A new file in a masked folder whose
// identity is not known gets none and `refused`: it could not be read back.
std::shared_ptr<const FileMask> mask_for_new_file(const std::string& path, const FileIdentity& id, bool& refused);
std::shared_ptr<const FileMask> mask_of_file(const std::string& path, const FileIdentity& id);
// XORs `size` bytes that lie at `offset` of the file with its key stream.
void apply_mask(const FileMask& mask, int64_t offset, uint8_t* data, size_t size);

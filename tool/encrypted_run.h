// How the commands meet an encrypted archive: its plain form unsealed into a temporary folder for
// the engines to read or change, and sealed again into the archive when they changed it.
#pragma once
#include <string>

#include "seal.h"

// The plain archive of one run, in "<archive>.vantor-<token>.d" beside the archive (which the
// next run writing the archive removes if this one is killed), or in the system's temporary
// folder when the archive's folder cannot be written. Removed when it goes. What is written in
// it reaches the disk masked under a key of the run's own (file_mask.h).
class PlainCopy {
 public:
  PlainCopy() = default;
  PlainCopy(const PlainCopy&) = delete;
  PlainCopy& operator=(const PlainCopy&) = delete;
  ~PlainCopy();
  // Makes the folder; `path()` then names the plain archive in it, which does not exist yet.
  bool create(const std::string& archive_path, std::string& problem);
  // Unseals the archive into path(). Exit code 1 on any failure, with the reason in `problem`.
  bool unseal(const std::string& archive_path, const Secret& password, std::string& problem);
  const std::string& path() const { return plain_; }
  SealKey key;
  bool whole_index = false;

 private:
  std::string folder_, plain_;
};

// Seals the plain archive into `archive_path`, replacing it whole (or creating it) as the engines
// do: the old archive or the whole new one, whatever stops the run. The caller holds the lock.
bool seal_into(const std::string& plain_path, const std::string& archive_path, const SealKey& key, bool whole_index,
               std::string& problem);

// `text` with every `from` replaced by `to` (the plain copy's path by the archive's in messages).
std::string replace_all(std::string text, const std::string& from, const std::string& to);

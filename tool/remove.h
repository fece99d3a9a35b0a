// Removing members and folders from an archive: the archive is written again through a
// Replacement under its lock, so a run that fails or is stopped leaves it as it was.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine.h"

struct RemoveJob {
  std::string archive_path;
  // Member paths (stored folder + name) or folders, with '/' or '\' as separators; a folder
  // takes everything below it.
  std::vector<std::string> paths;
  // How a solid stream that loses a member is compressed again, by its method.
  DeflateSettings deflate;
  ZstdSettings zstd;
  LzmaSettings lzma;                  // for LZMA2 streams; the stream's own dictionary and filter stay
  int threads = 1;                    // zstd's workers for a stream compressed again; 0 = per processor
  int lock_wait_ms = 5000;
  std::function<void(int64_t done, int64_t total)> progress;
  RunControl* control = nullptr;      // may be null
};

struct RemoveResult {
  RunResult run;                      // run.members: the members that remain
  int64_t removed = 0;
};

RemoveResult remove_members(const RemoveJob& job);

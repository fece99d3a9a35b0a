// Writing an archive so that whatever stops the machine leaves the old archive or the new one:
// one writer per archive at a time, a new archive that has no name (or is deleted by the system
// if the run dies) until it is whole and on the disk, and leftovers of killed runs removed.
#pragma once
#include <string>

#include "file_io.h"

// The lock a run holds on an archive while it reads and rewrites it: a file beside the archive
// (its name plus ".vantor-lock") held exclusively and removed on release.
class ArchiveLock {
 public:
  // NOT_PLAIN: the name holds a link, a folder or a file with other names, which is not ours to
  // hold or delete.
  enum class Outcome { TAKEN, BUSY, FAILED, NOT_PLAIN };
  ArchiveLock() = default;
  ArchiveLock(const ArchiveLock&) = delete;
  ArchiveLock& operator=(const ArchiveLock&) = delete;
  ~ArchiveLock();
  // Tries until another run lets go or `wait_ms` have passed; FAILED when the lock cannot be
  // made at all (last_error_text says why).
  Outcome take(const std::string& archive_path, int wait_ms);
  void release();

 private:
  std::string path_;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

// What the user is told when the lock was not TAKEN.
std::string lock_problem(const std::string& archive_path, ArchiveLock::Outcome outcome, int wait_ms);

// The file that replaces `target` whole. Until commit it has no name (Linux, where the file
// system allows) or is marked for deletion, so a killed run leaves nothing; otherwise it is
// named "<target>.vantor-<token>.tmp", which the next run's sweep removes.
class Replacement {
 public:
  Replacement() = default;
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;
  ~Replacement();  // discards what was not committed
  // `token`: random_token(), so nobody can plant the name beforehand.
  bool create(const std::string& target, const std::string& token);
  File& file() { return file_; }
  // Flushes the data to the disk, renames the file over the target and flushes the rename.
  // False with `problem` set when any step fails; the target is then the old file, or the new
  // one whose rename could not be confirmed on the disk.
  bool commit(std::string& problem);

 private:
  void discard();
  File file_;
  std::string target_, temp_;
  bool named_ = false;   // temp_ exists under its name
#ifndef _WIN32
  int folder_fd_ = -1;
#endif
};

// The archive's folder and its file name; "." for a bare name.
void split_archive_path(const std::string& path, std::string& folder, std::string& name);
// Whether `name` is one of the temporaries a run writing the archive `archive_name` makes:
// "<archive>.vantor-<16 hex>" followed by ".tmp", ".tmp.<n>" (spilled output) or ".d" (unpacked
// members).
bool is_archive_temporary(const std::string& archive_name, const std::string& name);
// Whether `name` is the lock of the archive `archive_name` (letter case aside where it is ignored).
bool is_archive_lock(const std::string& archive_name, const std::string& name);
// Removes every temporary of this archive beside it. Only the holder of the archive's lock may
// call it: those files then belong to runs that are gone. Links are never followed.
void remove_stale_temporaries(const std::string& archive_path);
// Removes a file, or a folder and everything below it; a link is removed itself, never followed
// (on Windows, one that opens as what it names, as a Unix link does under Wine, stays).
bool remove_tree(const std::string& path);

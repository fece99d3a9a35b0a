#include "encrypted_run.h"

#include <cstdlib>

#include "archive_commit.h"
#include "file_io.h"
#include "file_mask.h"

namespace {

std::string system_temporary_folder() {
  for (const char* name : {"TMPDIR", "TEMP", "TMP"})
    if (const char* value = std::getenv(name))
      if (*value) return value;
#ifdef _WIN32
  return ".";
#else
  return "/tmp";
#endif
}

}  // namespace

PlainCopy::~PlainCopy() {
  if (folder_.empty()) return;
  remove_tree(folder_);
  unmask_files_under(folder_);
}

bool PlainCopy::create(const std::string& archive_path, std::string& problem) {
  std::string token = random_token();
  std::string beside = archive_path + ".vantor-" + token + ".d";
  std::string folder = create_folder(beside) == FolderStatus::CREATED
                           ? beside
                           : system_temporary_folder() + native_separator() + "vantor-" + token + ".d";
  if (folder != beside && create_folder(folder) != FolderStatus::CREATED) {
    problem = "cannot make a temporary folder for " + archive_path + ": " + last_error_text();
    return false;
  }
  folder_ = folder;
  plain_ = folder + native_separator() + "plain.vnr";
  // Everything the run writes in it, the plain archive first, reaches the disk masked.
  if (!mask_files_under(folder_)) {
    problem = "the system's random source cannot be used";
    return false;
  }
  return true;
}

bool PlainCopy::unseal(const std::string& archive_path, const Secret& password, std::string& problem) {
  if (folder_.empty() && !create(archive_path, problem)) return false;
  archive_is_encrypted(archive_path, &whole_index);
  if (unseal_archive(archive_path, plain_, password, key, problem) != UnsealOutcome::OK) {
    remove_file(plain_);
    return false;
  }
  // Members extracted from it get the archive's Mark of the Web, as from a plain archive.
  std::string mark = read_zone_mark(archive_path);
  if (!mark.empty()) write_zone_mark(plain_, mark);
  return true;
}

bool seal_into(const std::string& plain_path, const std::string& archive_path, const SealKey& key, bool whole_index,
               std::string& problem) {
  std::string mark = read_zone_mark(archive_path);
  Replacement replacement;
  if (!replacement.create(archive_path, random_token())) {
    problem = "cannot write " + archive_path + ": " + last_error_text();
    return false;
  }
  if (!seal_archive(plain_path, replacement.file(), key, whole_index, problem)) return false;
  if (!replacement.commit(problem)) return false;
  if (!mark.empty()) write_zone_mark(archive_path, mark);
  return true;
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
  return text;
}

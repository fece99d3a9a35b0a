#include <windows.h>

#include "operations/placed_extraction.h"
#include "runtime/folders.h"

namespace {

constexpr int ATTEMPTS = 50;  // names taken by someone else between our look and our creation

// Creates parent + the first free name after `wanted`; "" when none could be made.
std::string create_fresh_folder(const std::string& parent, const std::string& wanted) {
  for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
    std::string name = free_name(wanted, false, name_taken_in(parent));
    if (name.empty()) return std::string();
    std::string path = parent + name;
    if (CreateDirectoryA(path.c_str(), nullptr)) return path;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
  }
  return std::string();
}

std::string create_working_folder(const std::string& parent) {
  for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
    std::string path = parent + ".vantor-part-" + std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(GetTickCount() + attempt);
    if (CreateDirectoryA(path.c_str(), nullptr)) {
      SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN);
      return path;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
  }
  return std::string();
}

// Moves `from` to the first free name after `wanted` in parent, never over anything.
std::string move_to_free_name(const std::string& from, const std::string& parent, const std::string& wanted,
                              bool is_file) {
  for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
    std::string name = free_name(wanted, is_file, name_taken_in(parent));
    if (name.empty()) return std::string();
    if (MoveFileExA(from.c_str(), (parent + name).c_str(), 0)) return parent + name;
    DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return std::string();
  }
  return std::string();
}

// The working folder's top item goes out; whatever else is in it stays together under the stem.
std::string move_out(const std::string& work, const std::string& parent, const std::string& stem,
                     const SmartPlan& plan) {
  std::string top = work + "\\" + plan.top;
  std::string placed;
  if (GetFileAttributesA(top.c_str()) != INVALID_FILE_ATTRIBUTES)
    placed = move_to_free_name(top, parent, plan.top, plan.top_is_file);
  if (RemoveDirectoryA(work.c_str())) return placed;
  SetFileAttributesA(work.c_str(), FILE_ATTRIBUTE_NORMAL);
  std::string kept = move_to_free_name(work, parent, stem, false);
  return placed.empty() ? (kept.empty() ? work : kept) : placed;
}

}  // namespace

NameTaken name_taken_in(const std::string& folder) {
  return [folder](const std::string& name) {
    if (GetFileAttributesA((folder + name).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    DWORD error = GetLastError();
    // Only a plain "not there" frees a name; a name we may not look at is treated as taken.
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
  };
}

PlacedExtraction run_placed_extraction(const std::string& program_folder, const std::string& parent,
                                       const std::string& stem, const SmartPlan& plan,
                                       const std::function<std::string(const std::string& into)>& parameters,
                                       const RunView& view, const std::string& password) {
  PlacedExtraction out;
  std::string work;
  // An empty name: every numbered one was taken.
  if (!plan.name.empty())
    work = plan.in_place ? create_working_folder(parent) : create_fresh_folder(parent, stem);
  if (work.empty()) {
    out.problem = "Nothing was extracted: no new folder could be created in " + parent + ".";
    return out;
  }
  out.result = run_archiver(program_folder, parameters(work + "\\"), view, OutputSink(), password);
  if (out.result.cancelled) {
    delete_folder_tree(work + "\\");
    return out;
  }
  out.placed = plan.in_place ? move_out(work, parent, stem, plan) : work;
  return out;
}

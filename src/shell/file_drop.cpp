#include "shell/file_drop.h"

#include "archive/foreign_listing.h"
#include "runtime/text.h"

namespace {

constexpr size_t NAMED_PROBLEMS = 5;

const char* why_refused(DroppedKind kind) {
  switch (kind) {
    case DroppedKind::LINK: return "is a link or junction, which is not followed";
    case DroppedKind::DEVICE: return "is a device, not a file";
    case DroppedKind::MISSING: return "cannot be found";
    case DroppedKind::UNNAMEABLE: return "has a name this system's code page cannot hold";
    case DroppedKind::TOO_LONG: return "is longer than 259 characters";
    default: return "";
  }
}

std::string refusal_text(const std::vector<DroppedItem>& items) {
  std::string lines;
  size_t problems = 0;
  for (const DroppedItem& item : items) {
    if (item.kind == DroppedKind::FILE || item.kind == DroppedKind::FOLDER) continue;
    if (++problems <= NAMED_PROBLEMS) lines += "\n" + item.path + " " + why_refused(item.kind) + ".";
  }
  if (problems == 0) return std::string();
  if (problems > NAMED_PROBLEMS) lines += "\n... and " + str(static_cast<int64_t>(problems - NAMED_PROBLEMS)) + " more.";
  return "Nothing was taken from the drop:" + lines;
}

// Our own archives take new members, except a self-extracting program; of the others only a zip.
bool takes_members(const std::string& archive_path, const std::string& format) {
  if (format.empty()) return to_lower_ascii(file_extension(archive_path)) != "exe";
  return format == "zip" && is_zip_name(archive_path);
}

std::string counted(int n, const char* one, const char* many) { return str(n) + " " + (n == 1 ? one : many); }

}  // namespace

std::string add_question_text(const std::string& archive_path, int files, int folders) {
  std::string what = counted(files + folders, "item", "items");
  if (folders > 0) what += " (" + counted(folders, "folder", "folders") + " with everything below)";
  return "Add " + what + " to " + archive_path +
         "? They are stored as Add stores them, a file of the same path replacing the member.";
}

DropPlan plan_drop(const std::vector<DroppedItem>& items, const std::string& archive_path,
                   const std::string& archive_format, bool (*opens_as_archive)(const std::string&)) {
  DropPlan plan;
  if (items.empty()) return plan;
  plan.message = refusal_text(items);
  if (!plan.message.empty()) {
    plan.action = DropAction::REFUSE;
    return plan;
  }
  if (items.size() == 1 && items[0].kind == DroppedKind::FILE && opens_as_archive(items[0].path)) {
    plan.action = DropAction::OPEN_ARCHIVE;
    return plan;
  }
  if (archive_path.empty()) {
    plan.action = DropAction::CHOOSE_FOR_ADDING;
    return plan;
  }
  if (!takes_members(archive_path, archive_format)) {
    plan.action = DropAction::REFUSE;
    std::string kind = archive_format.empty() ? std::string("self-extracting") : archive_format;
    plan.message = archive_path + " is read-only (" + kind + "): files can be added to .vnr and .zip archives only.";
    return plan;
  }
  int folders = 0;
  for (const DroppedItem& item : items) folders += item.kind == DroppedKind::FOLDER ? 1 : 0;
  plan.action = DropAction::ADD_TO_ARCHIVE;
  plan.message = add_question_text(archive_path, static_cast<int>(items.size()) - folders, folders);
  return plan;
}

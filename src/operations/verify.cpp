#include "operations/verify.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "archive/foreign_listing.h"
#include "archive/index_walk.h"
#include "format/archive_layout.h"
#include "operations/operation_texts.h"
#include "runtime/text.h"

namespace {

constexpr size_t NAMED = 20;  // damaged members named in the box; the rest are counted

bool starts_with(const std::string& s, const std::string& head) { return s.compare(0, head.size(), head) == 0; }

// "damaged archive at offset 123: reason" -> 123 and the reason.
bool index_break(const std::string& line, int64_t& offset, std::string& why) {
  static const std::string HEAD = "damaged archive at offset ";
  if (!starts_with(line, HEAD)) return false;
  char* end = nullptr;
  long long at = std::strtoll(line.c_str() + HEAD.size(), &end, 10);
  if (end == line.c_str() + HEAD.size() || *end != ':') return false;
  offset = at;
  why = std::string(end + 1);
  if (!why.empty() && why[0] == ' ') why.erase(0, 1);
  return true;
}

// One line of the archiver's about the archive as a whole (never about one member: those start
// with DAMAGED_MEMBER_HEAD, so no member's name reaches this).
void read_archive_line(const std::string& line, VerifyFindings& f) {
  static const std::string DAMAGED = "damaged archive: ";
  static const std::string SHORT = "archive is shorter than a self-extracting program";
  int64_t at;
  std::string why;
  if (index_break(line, at, why)) {
    f.index_broken_at = at;
    f.index_problem = why;
  } else if (starts_with(line, DAMAGED)) {
    f.index_problem = line.substr(DAMAGED.size());
  } else if (line == SHORT) {
    f.not_archive = "shorter than a self-extracting program";
  } else {
    f.failure = line;
  }
}

// "N files, B bytes tested, all correct" on the archiver's standard output.
void read_summary(const std::string& output, VerifyFindings& f) {
  for (const std::string& line : problem_lines(output)) {
    long long members = 0, bytes = 0;
    if (std::sscanf(line.c_str(), "%lld files, %lld bytes tested", &members, &bytes) == 2) {
      f.members = members;
      f.bytes = bytes;
    }
  }
}

std::string base_name(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool archive_level(const VerifyFindings& f) { return !f.not_archive.empty() || !f.index_problem.empty(); }

// "the archive is damaged at offset 80 (why)", or without a place when the archiver gave none.
std::string damage_text(const VerifyFindings& f) {
  std::string where = f.index_broken_at >= 0 ? " at offset " + str(f.index_broken_at) : std::string();
  return "the archive is damaged" + where + " (" + f.index_problem + ")";
}

}  // namespace

const char* const DAMAGED_MEMBER_HEAD = "damaged member: ";

VerifyFindings verify_findings(const ArchiverResult& result) {
  VerifyFindings f;
  f.started = result.started;
  f.cancelled = result.cancelled;
  if (!result.started) {
    f.failure = result.reason;
    return f;
  }
  read_summary(result.output, f);
  static const std::string MEMBER = DAMAGED_MEMBER_HEAD;
  bool archive_said = false;  // the first word on the archive as a whole is the one that counts
  for (const std::string& line : result.problems) {
    if (starts_with(line, MEMBER)) {
      f.damaged.push_back(line.substr(MEMBER.size()));
    } else if (!archive_said) {
      read_archive_line(line, f);
      archive_said = true;
    }
  }
  f.intact = result.exit_code == 0 && f.damaged.empty() && !archive_level(f) && f.failure.empty();
  if (!f.intact && !f.cancelled && f.damaged.empty() && !archive_level(f) && f.failure.empty())
    f.failure = result.reason.empty() ? "the archiver ended with code " + str(result.exit_code) : result.reason;
  return f;
}

std::string not_archive_reason(const std::string& path) {
  // Other programs' archives are recognised by the archiver from their bytes.
  if (is_foreign_archive_name(path)) return std::string();
  std::unique_ptr<ByteSource> source = open_file_source(path, false);
  if (!source) return std::string();
  int64_t start = index_start(path), size = source->size();
  if (size < start) return "shorter than a self-extracting program";
  if (size == start) return std::string();  // an archive with no members
  uint8_t signature = 0;
  if (source->read_at(start + ENTRY_SIGNATURE_OFFSET, &signature, 1) != 1 || signature != ENTRY_SIGNATURE)
    return start > 0 ? "no archive follows the program" : "it does not begin with an archive entry";
  return std::string();
}

VerifyFindings not_archive_findings(const std::string& reason) {
  VerifyFindings f;
  f.started = true;
  f.not_archive = reason;
  return f;
}

std::string verify_report_text(const std::string& archive_path, const VerifyFindings& f, float seconds) {
  if (!f.started) return "Verification of " + archive_path + " could not start: " + f.failure + ".";
  if (f.cancelled)
    return "Verification of " + archive_path + " was cancelled after " + str(whole_seconds(seconds)) +
           " sec.; the archive was not changed.";
  if (f.intact)
    return "All " + str(f.members) + " members of " + archive_path + " are intact (" + str(f.bytes) +
           " bytes, checked in " + str(whole_seconds(seconds)) + " sec.).";
  if (!f.not_archive.empty()) return archive_path + " is not an archive (" + f.not_archive + "): nothing was tested.";
  if (!f.index_problem.empty())
    return archive_path + ": " + damage_text(f) + "; its index breaks there, so no member could be tested.";
  if (f.damaged.empty()) return archive_path + " cannot be verified: " + f.failure;
  std::string text = archive_path + ": " + str(static_cast<int64_t>(f.damaged.size())) + " damaged member" +
                     (f.damaged.size() == 1 ? "" : "s") + ":";
  for (size_t i = 0; i < f.damaged.size() && i < NAMED; ++i) text += "\n" + f.damaged[i];
  if (f.damaged.size() > NAMED) text += "\nand " + str(static_cast<int64_t>(f.damaged.size() - NAMED)) + " more.";
  return text;
}

std::string verify_line(const std::string& archive_path, const VerifyFindings& f) {
  std::string name = base_name(archive_path) + ": ";
  if (!f.started) return name + "could not start the archiver (" + f.failure + ")";
  if (f.cancelled) return name + "cancelled";
  if (f.intact) return name + "all " + str(f.members) + " members intact";
  if (!f.not_archive.empty()) return name + "skipped, not an archive (" + f.not_archive + ")";
  if (!f.index_problem.empty()) return name + damage_text(f);
  if (!f.damaged.empty())
    return name + str(static_cast<int64_t>(f.damaged.size())) + " damaged member" + (f.damaged.size() == 1 ? "" : "s") +
           ", the first: " + f.damaged.front();
  return name + "cannot be verified: " + f.failure;
}

std::vector<std::string> verifiable_files(const std::vector<std::string>& chosen) {
  std::vector<std::string> files;
  for (const std::string& path : chosen) {
    std::string extension = file_extension(path);
    if (extension == "vnr" || extension == "exe" || extension == "VNR" || extension == "EXE" ||
        is_foreign_archive_name(path))
      files.push_back(path);
  }
  return files;
}

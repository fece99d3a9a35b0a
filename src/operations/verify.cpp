#include "operations/verify.h"

#include <cstdlib>

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

}  // namespace

VerifyFindings verify_findings(const ArchiverResult& result) {
  VerifyFindings f;
  f.started = result.started;
  f.cancelled = result.cancelled;
  if (!result.started) {
    f.failure = result.reason;
    return f;
  }
  read_summary(result.output, f);
  for (const std::string& line : result.problems) {
    int64_t at;
    std::string why;
    if (f.index_broken_at < 0 && index_break(line, at, why)) {
      f.index_broken_at = at;
      f.index_problem = why;
    } else if (starts_with(line, "cannot open ") || starts_with(line, "out of memory")) {
      f.failure = line;  // the archive as a whole could not be tested
    } else {
      f.damaged.push_back(line);  // every other complaint names the member it is about
    }
  }
  f.intact = result.exit_code == 0 && f.damaged.empty() && f.index_broken_at < 0;
  if (!f.intact && !f.cancelled && f.damaged.empty() && f.index_broken_at < 0 && f.failure.empty())
    f.failure = result.reason.empty() ? "the archiver ended with code " + str(result.exit_code) : result.reason;
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
  if (!f.failure.empty() && f.damaged.empty() && f.index_broken_at < 0)
    return archive_path + " cannot be verified: " + f.failure;
  std::string text;
  if (f.index_broken_at >= 0)
    text = "The index of " + archive_path + " is broken at offset " + str(f.index_broken_at) + " (" +
           f.index_problem + "): the members from there on cannot be read.";
  if (!f.damaged.empty()) {
    if (!text.empty()) text += "\n";
    text += archive_path + ": " + str(static_cast<int64_t>(f.damaged.size())) + " damaged member" +
            (f.damaged.size() == 1 ? "" : "s") + ":";
    for (size_t i = 0; i < f.damaged.size() && i < NAMED; ++i) text += "\n" + f.damaged[i];
    if (f.damaged.size() > NAMED) text += "\nand " + str(static_cast<int64_t>(f.damaged.size() - NAMED)) + " more.";
  }
  return text;
}

std::string verify_line(const std::string& archive_path, const VerifyFindings& f) {
  std::string name = base_name(archive_path) + ": ";
  if (!f.started) return name + "could not start the archiver (" + f.failure + ")";
  if (f.cancelled) return name + "cancelled";
  if (f.intact) return name + "all " + str(f.members) + " members intact";
  if (f.index_broken_at >= 0) return name + "index broken at offset " + str(f.index_broken_at) +
                                     (f.damaged.empty() ? "" : ", " + str(static_cast<int64_t>(f.damaged.size())) + " damaged members");
  if (!f.damaged.empty())
    return name + str(static_cast<int64_t>(f.damaged.size())) + " damaged member" + (f.damaged.size() == 1 ? "" : "s") +
           ", the first: " + f.damaged.front();
  return name + "cannot be verified: " + f.failure;
}

std::vector<std::string> verifiable_files(const std::vector<std::string>& chosen) {
  std::vector<std::string> files;
  for (const std::string& path : chosen) {
    std::string extension = file_extension(path);
    if (extension == "vnr" || extension == "exe" || extension == "VNR" || extension == "EXE") files.push_back(path);
  }
  return files;
}

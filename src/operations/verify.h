// Verify: the archiver tests every member of an archive (`vantor t`); these turn what it said
// into the report the user reads, free of any window.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "operations/archiver_run.h"

// What one test run found.
struct VerifyFindings {
  bool started = false, cancelled = false, intact = false;
  int64_t members = 0, bytes = 0;      // from the archiver's summary of a sound archive
  std::string not_archive;             // why the file is no archive at all (nothing was tested)
  int64_t index_broken_at = -1;        // where the chain of entries breaks, -1 when it holds or is not known
  std::string index_problem;           // why the archive as a whole is damaged (no member was tested)
  std::vector<std::string> damaged;    // one line per damaged member: its name, then what is wrong
  std::string failure;                 // the run failed for another reason (cannot open, ...)
};
// The archiver starts each line about one member with this; any other line is about the archive.
extern const char* const DAMAGED_MEMBER_HEAD;
VerifyFindings verify_findings(const ArchiverResult& result);

// The one box of a verify in an open archive: intact, damaged members (the first 20, then how
// many more), a broken index and where, or why it could not be tested.
std::string verify_report_text(const std::string& archive_path, const VerifyFindings& f, float seconds);
// One line per archive chosen on disk.
std::string verify_line(const std::string& archive_path, const VerifyFindings& f);

// Why the file at path is not an archive the archiver can test ("shorter than a self-extracting
// program", ...), or "" when it looks like one. What it cannot read is left to the archiver.
std::string not_archive_reason(const std::string& path);
// The findings of a file that was not tested because it is no archive.
VerifyFindings not_archive_findings(const std::string& reason);

// The chosen files that can be verified: archives (.vnr and the other programs' kinds the
// archiver reads) and self-extracting programs (.exe).
std::vector<std::string> verifiable_files(const std::vector<std::string>& chosen);

// Tests the open archive under the busy window (its Cancel stops the test) and shows the report.
// An archive the archiver listed as another program's (`foreign`) is handed to it unchecked; an
// encrypted one is tested with its password.
void verify_archive(const std::string& program_folder, const std::string& archive_path, bool foreign = false,
                    const std::string& password = std::string());
// Tests each chosen archive in turn and shows one line for each; with none, says what to choose.
void verify_archives(const std::string& program_folder, const std::vector<std::string>& chosen);

// Jobs started from Explorer's menu: `WinVantor.exe /job:<verb> <path>...`. Each runs the
// archiver with the busy window's bar and Cancel and no main window, says what failed in one
// box and ends the process with the archiver's codes. The rules that need no window are here.
#pragma once
#include <string>
#include <vector>

enum class JobVerb { ADD_VNR, ADD_ZIP, EACH, HERE, TO, VERIFY };

constexpr int JOB_DONE = 0, JOB_PROBLEM = 1, JOB_CANCELLED = 3;

// "add-vnr" -> ADD_VNR ...; false for a verb we do not have.
bool job_verb_from(const std::string& name, JobVerb& verb);
const char* job_verb_name(JobVerb verb);
// Whether the instances Explorer starts, one per chosen item, join into one run.
bool job_joins(JobVerb verb);

// The one box a job shows when it is started wrongly.
std::string job_usage_text();

// An item without the separators Explorer or a script may leave at its end ("C:\x\Photos\").
std::string item_without_trailing_separator(const std::string& item);
// The folder holding an item, ending in "\"; "" for a drive or share root, which has none.
std::string item_folder(const std::string& item);

// What an "Add to" writes: one item gives "<its folder>\<its name>.<ext>" (a file loses its
// own extension: a.txt -> a.vnr), several give "<the folder holding them>\<that folder's
// name>.<ext>". Members are named below `base`, so a folder keeps its own name inside.
struct AddTarget {
  std::string archive;
  std::string base;     // the folder holding every item, ending in "\"
  std::string problem;  // why there is no archive to write
};
AddTarget add_target(const std::vector<std::string>& items, const std::vector<bool>& is_folder,
                     const std::string& extension);

// " a -y -r -w<base> -t0 -m3 x <list file>" with both paths quoted.
std::string job_add_parameters(const std::string& base, const std::string& list_file);

// A name for the named objects that join the instances of one verb on one folder: letter case
// does not matter (ASCII), the folder's bytes are hashed so any length and script fits.
std::string job_join_key(JobVerb verb, const std::string& folder);

// Runs the job on the items (full paths) with the archiver in program_folder ("...\") and returns
// the process's exit code. The instances of a joining verb started for one folder hand their
// items to the first, which runs once; the others return its code.
int run_job(JobVerb verb, const std::vector<std::string>& items, const std::string& program_folder);

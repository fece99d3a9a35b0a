// A whole extraction put where a smart plan says, never merged into what is on disk: the
// archiver writes into a folder this call has just created, and only then is the result moved
// to its free name. A cancelled run leaves nothing.
#pragma once
#include <functional>
#include <string>

#include "operations/archiver_run.h"
#include "operations/smart_extract.h"

struct PlacedExtraction {
  ArchiverResult result;
  std::string placed;   // the folder or file that now holds the extraction, "" when nothing does
  std::string problem;  // why nothing was run
};

// Whether a name is taken in `folder` (ending in "\").
NameTaken name_taken_in(const std::string& folder);

// Runs the archiver with parameters(<folder to extract into, ending in "\">) in `view`, into a new
// folder of `parent`: the first free name after `stem` (the plan's, unless one came meanwhile), or,
// in place, a hidden working folder whose top item is then moved out under its own free name;
// what could not be moved out stays together under the stem's free name. An encrypted archive's
// password goes to the archiver through its pipe.
PlacedExtraction run_placed_extraction(const std::string& program_folder, const std::string& parent,
                                       const std::string& stem, const SmartPlan& plan,
                                       const std::function<std::string(const std::string& into)>& parameters,
                                       const RunView& view, const std::string& password = std::string());

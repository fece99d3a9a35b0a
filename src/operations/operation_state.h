// What the archiver operations read and change: the paths they work with and the compression
// settings. The shell's state block holds one; the operations take it as a parameter.
#pragma once
#include <functional>
#include <string>

#include "archive/tables.h"

struct OperationState {
  std::string program_folder;       // ends with "\"
  std::string archive_path;
  // "" for our own archives; the archiver's name for another program's ("zip", "7z", ...), whose
  // members are chosen by their listed paths instead of marks.
  std::string archive_format;
  std::string destination_folder;
  std::string temp_root;            // %TEMP%\tempvantor\ (long form)
  std::string launch_root;          // %TEMP%\launchvantor\ (long form)
  // %TEMP%\dragvantor\<process id>\: members dragged out land in a fresh folder below it,
  // which stays until the program ends (the target may still be copying after the drop).
  std::string drag_root;
  std::string launch_target;
  // The open archive's password, asked once per opening and handed to every run on it; wiped
  // when the archive loop ends.
  std::string archive_password;

  std::string solid_switch;
  std::string ultra_switch;
  // The compression window's switches that start afresh at every opening.
  std::string recursive_switch;
  std::string self_extraction_switch;
  int task_count = 1;
  int compression_method = 3;
  int buffer_position = 4;
  int dictionary_position = 7;
  float elapsed_seconds = 0.0f;
};

// An operation's inputs: the state, the chosen files, how to let the selection go (empty it and
// clear the list's highlight) when an operation window closes, and the open archive's entries.
struct OperationContext {
  OperationState& state;
  SelectionTable& selection;
  std::function<void()> release_selection;
  const EntryTable* entries = nullptr;  // the open archive's, for the member paths of its entries
};

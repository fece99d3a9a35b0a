// The program's one block of state, owned by the shell. The layers below get their parts of it
// as parameters: the operations' state, the selection and the entry table.
#pragma once
#include <cstdint>
#include <string>

#include "archive/tables.h"
#include "operations/operation_state.h"

struct HighlightRecord {
  uint32_t state = 8;
  uint32_t mask = 8;
};

struct ShellState {
  OperationState operation;
  SelectionTable selection;
  EntryTable entries;

  std::string item_path;
  std::string command_line;
  std::string startup_document;
  std::string start_folder;

  int select_all_active = 0;
  int quit_requested = 0;
  int64_t self_extracting_index_start = INDEX_STUB_SIZE;
  int inner_width = 0;
  int inner_height = 0;
  HighlightRecord highlight_record;
};

extern ShellState shell;

// Allocates the tables once, at their full capacity.
void allocate_shell_tables(ShellState& s);

// The program's one block of state, shared by every subsystem. Tables are 1-based and fixed in
// capacity; every writer checks the bound.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

constexpr int TABLE_CAPACITY = 512000;            // slots 1..512,000
constexpr int ROW_TABLE_SLOTS = 8388609;          // slots 0..8,388,608
constexpr int64_t SELF_EXTRACTING_INDEX_START = 155648;

struct HighlightRecord {
  uint32_t state = 8;
  uint32_t mask = 8;
};

struct ShellState {
  std::string program_folder;       // ends with "\"
  std::string archive_path;
  std::string item_path;
  std::string destination_folder;
  std::string command_line;
  std::string startup_document;
  std::string start_folder;
  std::string temp_root;            // %TEMP%\tempvantor\ (long form)
  std::string launch_root;          // %TEMP%\launchvantor\ (long form)
  std::string launch_target;

  std::vector<std::string> selection_list;   // 512,001 slots, slot 0 unused
  int selection_count = 0;
  std::vector<std::string> created_folders;  // 512,001 slots
  int created_folder_count = 0;
  std::vector<std::string> entry_paths;      // 512,001 slots
  std::vector<int64_t> entry_sizes;          // 512,001 slots
  std::vector<int32_t> entry_keys;           // row_key of each entry path, made when it is added
  int entry_count = 0;
  std::vector<int16_t> row_index_table;      // 8,388,609 slots, never cleared

  int select_all_active = 0;
  int quit_requested = 0;
  std::string solid_switch;
  std::string ultra_switch;
  int task_count = 1;
  int compression_method = 3;
  int buffer_position = 4;
  int dictionary_position = 7;
  int64_t self_extracting_index_start = SELF_EXTRACTING_INDEX_START;
  int inner_width = 0;
  int inner_height = 0;
  HighlightRecord highlight_record;
  float elapsed_seconds = 0.0f;
};

extern ShellState shell;

// Allocates the tables once, at their full capacity.
void allocate_shell_tables(ShellState& s);

// Appends an entry of an opened archive; false (and nothing written) when the table is full.
bool entry_append(ShellState& s, const std::string& mirror_path, int64_t size);

// Appends a path to selection_list; false (and nothing written) when the table is full.
bool selection_append(ShellState& s, const std::string& path);

// The tables an open archive and a selection fill: 1-based, fixed in capacity, allocated once.
// The shell's state holds them; the layers below take them as parameters.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "format/archive_layout.h"

constexpr int ROW_TABLE_SLOTS = 8388609;  // slots 0..8,388,608, one per row key

// Full paths of the chosen files, slots 1..selection_count.
struct SelectionTable {
  std::vector<std::string> selection_list;   // TABLE_CAPACITY + 1 slots, slot 0 unused
  int selection_count = 0;
};

// The most recently opened archive: its entries by mirror path, the folders its mirror tree
// created, and the listing step's row table.
struct EntryTable {
  std::vector<std::string> entry_paths;      // TABLE_CAPACITY + 1 slots
  std::vector<int64_t> entry_sizes;
  // row_key of each entry path, -1 until a listing step of its folder needs it: opening does
  // not pay a SHA-1 per member for folders nobody looks into.
  std::vector<int32_t> entry_keys;
  // An archive of another program: each entry's path as its listing gave it, the name the
  // archiver knows the member by (slots 1..entry_count). Empty for our own archives.
  std::vector<std::string> entry_members;
  int entry_count = 0;
  std::vector<std::string> created_folders;  // TABLE_CAPACITY + 1 slots
  int created_folder_count = 0;
  std::vector<int16_t> row_index_table;      // ROW_TABLE_SLOTS slots, never cleared
};

void allocate_selection_table(SelectionTable& t);
void allocate_entry_table(EntryTable& t);

// Appends a path to selection_list; false (and nothing written) when the table is full.
bool selection_append(SelectionTable& t, const std::string& path);

// Appends an entry of an opened archive; false (and nothing written) when the table is full.
bool entry_append(EntryTable& t, std::string mirror_path, int64_t size);

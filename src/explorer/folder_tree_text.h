// The folder tree's rules over plain text: what a gadget_set_text text asks for, the folder names
// of a location, and the order of a node's children.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Option flags of the folder tree.
constexpr uint32_t TREE_NO_FILES = 0x1;
constexpr uint32_t TREE_NO_DRIVE_REQUESTER = 0x10;
constexpr uint32_t TREE_SORTED = 0x40;
constexpr uint32_t TREE_NO_MY_DOCUMENTS = 0x200;
constexpr uint32_t TREE_NO_CLIENT_EDGE = 0x100000;
constexpr uint32_t TREE_SHOW_SELECTION = 0x1000000;
constexpr uint32_t TREE_NO_LINES = 0x4000000;
constexpr uint32_t TREE_NO_BUTTONS = 0x8000000;

// Node values: the low byte is the kind; 0xFF00 marks a node whose children have been read.
constexpr int NODE_FOLDER = 252;
constexpr int NODE_MY_DOCUMENTS = 253;
constexpr int NODE_FILE = 255;
constexpr long NODE_ROOT = 0xFFFB;
constexpr long NODE_FILLED = 0xFF00;
inline int node_kind(long value) { return static_cast<int>(value & 0xFF); }
inline bool node_filled(long value) { return (value & NODE_FILLED) == NODE_FILLED; }
inline bool node_is_drive(long value) { return value != NODE_ROOT && node_kind(value) < 32; }

struct TreeTextTarget {
  bool rebuild = false;
  bool location_from_selection = false;  // the selected node's path, taken before the rebuild
  std::string location;                  // "" when none is given
  bool new_pattern = false;
  std::string pattern;
};

TreeTextTarget folder_tree_target(const std::string& text);

// "C:\a\b\" -> {"a", "b"}: the names after the drive root, empty parts skipped.
std::vector<std::string> location_folder_names(const std::string& location);
// Drive number of a location (0 = "A"), -1 when it does not start with a drive letter.
int location_drive(const std::string& location);

// Children of an opened node in sorted trees: folders before files, then names regardless of case.
bool tree_child_before(int kind_a, const std::string& name_a, int kind_b, const std::string& name_b);

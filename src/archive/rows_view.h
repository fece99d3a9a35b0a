// What the commands over the file list need of it: rows with states and texts, and its folder.
#pragma once
#include <string>

class RowsView {
 public:
  virtual ~RowsView() = default;
  virtual int count() = 0;
  virtual int state(int row) = 0;  // 1 file, 2 other, +4 when selected
  virtual std::string text(int row, int column) = 0;
  virtual void set_text(int row, int column, const std::string& text) = 0;
  virtual std::string folder() = 0;  // ends with "\"; "" at the drive level
};

// Row states as RowsView::state reports them.
constexpr int ROW_FILE = 1;
constexpr int ROW_OTHER = 2;
constexpr int ROW_SELECTED = 4;
constexpr int ROW_SELECTED_FILE = ROW_FILE + ROW_SELECTED;
constexpr int ROW_SELECTED_OTHER = ROW_OTHER + ROW_SELECTED;

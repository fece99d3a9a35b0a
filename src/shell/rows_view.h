// What the shell's commands need of the file list: rows with states and texts, and its folder.
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

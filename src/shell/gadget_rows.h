// The file list seen through RowsView.
#pragma once
#include "archive/rows_view.h"

class GadgetRows : public RowsView {
 public:
  explicit GadgetRows(int gadget) : gadget_(gadget) {}
  int count() override;
  int state(int row) override;
  std::string text(int row, int column) override;
  void set_text(int row, int column, const std::string& text) override;
  std::string folder() override;

 private:
  int gadget_;
};

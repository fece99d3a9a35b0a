#include "shell/gadget_rows.h"
#include "ui/ui.h"

int GadgetRows::count() { return gadget_count_items(gadget_); }
int GadgetRows::state(int row) { return gadget_get_item_state(gadget_, row); }
std::string GadgetRows::text(int row, int column) { return gadget_get_item_text(gadget_, row, column); }
void GadgetRows::set_text(int row, int column, const std::string& text) {
  gadget_set_item_text(gadget_, row, text, column);
}
std::string GadgetRows::folder() { return gadget_get_text(gadget_); }

#include <windows.h>
#include <commctrl.h>

#include "explorer/explorer_list.h"
#include "explorer/gadget_rows.h"
#include "ui/ui.h"

int GadgetRows::count() { return gadget_count_items(gadget_); }
int GadgetRows::state(int row) { return gadget_get_item_state(gadget_, row); }
std::string GadgetRows::text(int row, int column) { return gadget_get_item_text(gadget_, row, column); }
void GadgetRows::set_text(int row, int column, const std::string& text) {
  gadget_set_item_text(gadget_, row, text, column);
}
std::string GadgetRows::folder() { return gadget_get_text(gadget_); }

void explorer_list_highlight(int number, uint32_t state, uint32_t mask) {
  for (int i = 1; i <= gadget_count_items(number) - 1; ++i) {
    if (gadget_get_item_text(number, i, 0) == "..") continue;
    LVITEMA item = {};
    item.state = state;
    item.stateMask = mask;
    SendMessageA(gadget_handle(number), LVM_SETITEMSTATE, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
  }
}

// Where the gadgets that follow the main window's size sit, for an inner size w x h: the same
// boxes at creation and after every resize.
#pragma once

struct GadgetBox {
  int x, y, w, h;
};

inline GadgetBox file_list_box(int w, int h) { return {1, 95, w - 5, h - 135}; }
inline GadgetBox location_combo_box(int w) { return {30, 66, w - 40, 25}; }
inline GadgetBox memory_text_box(int w, int h) { return {w - 140, h - 40, 140, 20}; }

// Event codes and types of the window layer; plain constants shared by the loops and their tests.
#pragma once

constexpr int EVENT_NONE = 0;
constexpr int EVENT_WINDOW_MOVED = 3;
constexpr int EVENT_WINDOW_SIZED = 5;
constexpr int EVENT_CLOSE_WINDOW = 16;
constexpr int EVENT_WINDOW_REPAINT = 15;
constexpr int EVENT_GADGET = 13100;
constexpr int EVENT_MENU = 13101;
constexpr int EVENT_WINDOW_ACTIVATED = 13104;
constexpr int EVENT_WINDOW_MINIMIZED = 13107;
constexpr int EVENT_WINDOW_MAXIMIZED = 13108;
constexpr int EVENT_WINDOW_RESTORED = 13109;
constexpr int EVENT_TIMER = 13110;
// Files were dropped on a window that accepts them; take_dropped_files hands their names over.
constexpr int EVENT_FILES_DROPPED = 13111;

constexpr int EVENT_TYPE_NONE = -1;
constexpr int EVENT_TYPE_LEFT_CLICK = 0;
constexpr int EVENT_TYPE_RIGHT_CLICK = 1;
constexpr int EVENT_TYPE_LEFT_DOUBLE_CLICK = 2;
constexpr int EVENT_TYPE_RIGHT_DOUBLE_CLICK = 3;
constexpr int EVENT_TYPE_CHANGE = 768;
constexpr int EVENT_TYPE_DRAG_START = 14002;

// Private message the directory watcher posts to a list's parent; lParam is the list control.
constexpr unsigned WM_VANTOR_REFRESH = 0x3340;

// Gadget kinds.
constexpr int GADGET_BUTTON = 1;
constexpr int GADGET_STRING = 2;
constexpr int GADGET_TEXT = 3;
constexpr int GADGET_CHECKBOX = 4;
constexpr int GADGET_TRACKBAR = 17;
constexpr int GADGET_PROGRESS = 18;
constexpr int GADGET_IMAGE_BUTTON = 19;
constexpr int GADGET_EXPLORER_LIST = 23;
constexpr int GADGET_FOLDER_TREE = 24;
constexpr int GADGET_LOCATION_COMBO = 25;

// Colour kinds of gadget_set_color; colours are 0xBBGGRR, -1 the control's default.
constexpr int GADGET_COLOR_TEXT = 1;
constexpr int GADGET_COLOR_BACKGROUND = 2;
constexpr int GADGET_COLOR_LINE = 3;
constexpr int GADGET_COLOR_DEFAULT = -1;

constexpr int rgb(int r, int g, int b) { return r + g * 256 + b * 65536; }

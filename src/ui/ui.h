// The window layer: numbered windows and gadgets, one event queue, requesters and drawing.
// Everything here belongs to the main thread; other threads may only post native messages.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>
#include "ui/events.h"

// Window open flags beyond the native style bits.
constexpr uint32_t WINDOW_CENTER_SCREEN = 0x1;
constexpr uint32_t WINDOW_CENTER_PARENT = 0x2;
constexpr uint32_t WINDOW_TOOL = 0x4;
constexpr uint32_t WINDOW_NO_GADGET_TARGET = 0x8;
constexpr uint32_t WINDOW_HIDDEN = 0x10000000;
constexpr uint32_t WINDOW_MAXIMIZED = 0x1000000;
constexpr uint32_t WINDOW_MINIMIZED = 0x20000000;
constexpr int WINDOW_DEFAULT_POSITION = -0xFFFF;
constexpr int GADGET_KEEP = -0xFFFF;

void ui_init();      // common controls, default font, tables
void ui_shutdown();  // closes every window still open, frees tooltips

// Windows
int window_open(int number, int x, int y, int inner_width, int inner_height, const std::string& title,
                uint32_t flags, HWND parent = nullptr);
void window_close(int number);
HWND window_handle(int number);
int window_number_of(HWND hwnd);  // -1 when the handle is not one of ours
int window_inner_width(int number);
int window_inner_height(int number);  // the menu bar's height is included
void window_disable(int number, int flag);
void window_set_topmost(int number, int flag);
void window_show(int number, int flag);
// For a run: `cursor` stays over the window and its gadgets, disabled as they are, until it is
// set to nullptr. Returns the cursor it replaces there, for a run inside a run to give back.
HCURSOR window_busy_cursor(int number, HCURSOR cursor);
int create_gadget_list(HWND window);  // opening a window already made it the target

// Gadget classes: one handler table per kind. A missing handler gives the generic default.
struct Gadget;
struct GadgetClass {
  int kind;
  // Notices sent to the parent on behalf of this control (WM_NOTIFY, WM_COMMAND, WM_HSCROLL,
  // WM_VSCROLL, WM_CTLCOLOR*, WM_DRAWITEM, WM_VANTOR_REFRESH). Set *handled to keep the default away.
  LRESULT (*notify)(Gadget& g, UINT msg, WPARAM wp, LPARAM lp, bool* handled);
  // Messages sent to the control itself, before its own procedure sees them.
  LRESULT (*control_message)(Gadget& g, UINT msg, WPARAM wp, LPARAM lp, bool* handled);
  void (*destroy)(Gadget& g);
  int (*get_state)(Gadget& g);
  void (*set_state)(Gadget& g, int value);
  std::string (*get_text)(Gadget& g);
  void (*set_text)(Gadget& g, const std::string& text);
  void (*remove_item)(Gadget& g, int item);
  void (*resize)(Gadget& g, int x, int y, int w, int h);
  int (*count_items)(Gadget& g);
  int (*get_item_state)(Gadget& g, int item);
  std::string (*get_item_text)(Gadget& g, int item, int column);
  void (*set_item_text)(Gadget& g, int item, const std::string& text, int column);
  void (*hide)(Gadget& g, int flag);
  int (*add_column)(Gadget& g, int position, const std::string& title, int width);
  void (*remove_column)(Gadget& g, int position);
  intptr_t (*get_attribute)(Gadget& g, int attribute);
  void (*set_attribute)(Gadget& g, int attribute, intptr_t value);
  intptr_t (*get_item_attribute)(Gadget& g, int item, int attribute, int column);
  void (*set_item_attribute)(Gadget& g, int item, int attribute, intptr_t value, int column);
  void (*set_color)(Gadget& g, int kind, int color);
  int (*get_color)(Gadget& g, int kind);
};

struct Gadget {
  int number = -1;
  int window = -1;  // number of the window that holds it
  HWND handle = nullptr;
  const GadgetClass* cls = nullptr;
  WNDPROC previous_proc = nullptr;
  void* state = nullptr;  // owned by the class; freed by its destroy handler
  int colors[3] = {-1, -1, -1};
};

// Registers a freshly created control under a number: font, id, property, common procedure.
// Frees an older gadget of that number first. Returns the handle, or nullptr when hwnd is null.
HWND gadget_register(int number, HWND hwnd, const GadgetClass* cls, void* state);
Gadget* gadget_record(int number);      // nullptr for a free number
Gadget* gadget_from_handle(HWND hwnd);  // nullptr when not ours
HWND gadget_target_window();            // parent for new gadgets
void gadget_free(int number);           // destroys the control

// Gadget creation (plain kinds)
HWND button_gadget(int number, int x, int y, int w, int h, const std::string& text);
HWND string_gadget(int number, int x, int y, int w, int h, const std::string& text);
HWND text_gadget(int number, int x, int y, int w, int h, const std::string& text, int flags = 0);
HWND checkbox_gadget(int number, int x, int y, int w, int h, const std::string& text);
HWND trackbar_gadget(int number, int x, int y, int w, int h, int minimum, int maximum);
constexpr int TEXT_CENTER = 1;
// A progress bar: its state is the position, 0 to PROGRESS_RANGE; PROGRESS_MARQUEE sets it
// moving without a position, for work whose total is not known yet.
HWND progress_gadget(int number, int x, int y, int w, int h);
constexpr int PROGRESS_RANGE = 1000;
constexpr int PROGRESS_MARQUEE = -1;

// Generic gadget operations; an unknown number does nothing and returns 0 or "".
std::string gadget_get_text(int g);
void gadget_set_text(int g, const std::string& text);
int gadget_get_state(int g);
void gadget_set_state(int g, int value);
int gadget_count_items(int g);
int gadget_get_item_state(int g, int item);
std::string gadget_get_item_text(int g, int item, int column = 0);
void gadget_set_item_text(int g, int item, const std::string& text, int column = 0);
void gadget_remove_item(int g, int item);
int gadget_add_column(int g, int position, const std::string& title, int width);
void gadget_remove_column(int g, int position);
intptr_t gadget_get_attribute(int g, int attribute);
void gadget_set_attribute(int g, int attribute, intptr_t value);
intptr_t gadget_get_item_attribute(int g, int item, int attribute, int column = 0);
void gadget_set_item_attribute(int g, int item, int attribute, intptr_t value, int column = 0);
void gadget_set_color(int g, int kind, int color);
int gadget_get_color(int g, int kind);
void gadget_set_tooltip(int g, const std::string& text);
HWND gadget_handle(int g);
void gadget_hide(int g, int flag);
void gadget_resize(int g, int x, int y, int w, int h);
void gadget_disable(int g, int flag);

// Events
int wait_event(int timeout_ms = -1);
int event_gadget_number();
int event_window_number();  // -1 for a native message no handler turned into an event
int event_type();
intptr_t event_data(int which);
// Reports from class handlers: queue_event appends (an event equal to the newest queued one is
// dropped); set_event fills the record that the running wait_event returns.
void queue_event(int code, int gadget, int window, int type, intptr_t data0 = 0, intptr_t data1 = 0);
void set_event(int code, int gadget, int window, int type, intptr_t data0 = 0, intptr_t data1 = 0);
int queued_event_count();

// Files dropped from another program (WM_DROPFILES). A window that accepts them reports a drop as
// EVENT_FILES_DROPPED; a disabled window (one waiting for a run) refuses it with a beep.
struct DroppedName {
  std::string path;    // in the program's code page
  bool exact = true;   // false when the code page cannot hold the name as dropped
  size_t units = 0;    // its length in UTF-16 units, as the system counts it
};
void window_accept_files(int number, int flag);
// The names of the newest drop, handed over once.
std::vector<DroppedName> take_dropped_files();

// Requesters
int message_box(const std::string& title, const std::string& text, unsigned flags);
std::string open_file_requester(const std::string& title, const std::string& default_path,
                                const std::string& pattern, int pattern_index);

// Drawing on a window's inner area
HDC window_output(int number);
int start_drawing(HDC output);
void draw_text(int x, int y, const std::string& text, int color);
void stop_drawing();

// One topmost tooltip window serves every gadget. Each tool is a control itself; the tooltip
// subclasses the control to see the mouse moving over it.
#include "ui/tooltip.h"

#include <commctrl.h>

#include "ui/ui.h"

namespace {

HWND shared_tooltip = nullptr;

HWND tooltip_window() {
  if (shared_tooltip && IsWindow(shared_tooltip)) return shared_tooltip;
  shared_tooltip = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                   GetModuleHandleA(nullptr), nullptr);
  return shared_tooltip;
}

// The version 5 size works with both versions of the common controls.
TTTOOLINFOA tool_for(HWND control) {
  TTTOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = GetParent(control);
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  return tool;
}

void remove_tool(HWND tip, HWND control) {
  TTTOOLINFOA tool = tool_for(control);
  SendMessageA(tip, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void add_tool(HWND tip, HWND control, const std::string& text) {
  TTTOOLINFOA tool = tool_for(control);
  tool.lpszText = const_cast<char*>(text.c_str());  // the tooltip keeps its own copy
  SendMessageA(tip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

struct ToolRequest {
  HWND tip;
  const std::string* text;  // nullptr: remove only
};

// Composite controls (the combo box inside the location combo) cover their own window with
// children; the mouse moves over those, so they carry the same text.
BOOL CALLBACK retool_child(HWND child, LPARAM lp) {
  auto* request = reinterpret_cast<ToolRequest*>(lp);
  remove_tool(request->tip, child);
  if (request->text) add_tool(request->tip, child, *request->text);
  return TRUE;
}

}  // namespace

void gadget_set_tooltip(int g, const std::string& text) {
  HWND control = gadget_handle(g);
  if (!control) return;
  HWND tip = tooltip_window();
  if (!tip) return;
  remove_tool(tip, control);
  add_tool(tip, control, text);
  ToolRequest request{tip, &text};
  EnumChildWindows(control, retool_child, reinterpret_cast<LPARAM>(&request));
}

HWND tooltip_handle() { return shared_tooltip && IsWindow(shared_tooltip) ? shared_tooltip : nullptr; }

void tooltip_shutdown() {
  if (tooltip_handle()) DestroyWindow(shared_tooltip);
  shared_tooltip = nullptr;
}

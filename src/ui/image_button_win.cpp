// The native button paints its face; the image goes on top, clipped inside the frame, moved one
// pixel while pushed, blended from a premultiplied copy when the image has alpha.
#include "ui/image_button.h"

#include "ui/image.h"
#include "ui/ui.h"

namespace {

struct ImageButtonState {
  HANDLE normal = nullptr;
  HANDLE pressed = nullptr;
  HBITMAP normal_copy = nullptr;  // premultiplied (or greyed while disabled); only for alpha images
  HBITMAP pressed_copy = nullptr;
  bool checked = false;
};

ImageButtonState* state_of(Gadget& g) { return static_cast<ImageButtonState*>(g.state); }

void delete_copies(ImageButtonState& s) {
  if (s.normal_copy) DeleteObject(s.normal_copy);
  if (s.pressed_copy) DeleteObject(s.pressed_copy);
  s.normal_copy = s.pressed_copy = nullptr;
}

HBITMAP copy_for(HANDLE image, bool greyed) {
  return image_has_alpha(image) ? image_alpha_copy(image, greyed ? 1 : 0) : nullptr;
}

void rebuild_copies(ImageButtonState& s, bool enabled) {
  delete_copies(s);
  s.normal_copy = copy_for(s.normal, !enabled);
  s.pressed_copy = copy_for(s.pressed, !enabled);
}

LRESULT native(Gadget& g, UINT msg, WPARAM wp, LPARAM lp) {
  return CallWindowProcA(g.previous_proc, g.handle, msg, wp, lp);
}

bool is_pushed(Gadget& g) { return (native(g, BM_GETSTATE, 0, 0) & BST_PUSHED) != 0; }

void draw_image(Gadget& g, HDC dc, const RECT& client, bool pushed) {
  ImageButtonState& s = *state_of(g);
  const bool show_pressed = s.pressed && (s.checked || pushed);
  HANDLE image = show_pressed ? s.pressed : s.normal;
  HBITMAP copy = show_pressed ? s.pressed_copy : s.normal_copy;
  int w = 0, h = 0;
  if (!image || !image_size(image, &w, &h)) return;
  const int inset = visual_styles_active() ? 4 : 2;
  const int saved = SaveDC(dc);
  IntersectClipRect(dc, client.left + inset, client.top + inset, client.right - inset, client.bottom - inset);
  const int shift = pushed ? 1 : 0;
  const int x = (client.right - client.left - w) / 2 + shift;
  const int y = (client.bottom - client.top - h) / 2 + shift;
  if (!copy || !draw_alpha_copy(dc, x, y, copy)) {
    UINT flags = image_is_icon(image) ? DST_ICON : DST_BITMAP;
    flags |= IsWindowEnabled(g.handle) ? DSS_NORMAL : DSS_DISABLED;
    DrawStateA(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(image), 0, x, y, w, h, flags);
  }
  RestoreDC(dc, saved);
}

void draw_focus(Gadget& g, HDC dc, const RECT& client) {
  if (GetFocus() != g.handle) return;
  if (SendMessageA(GetParent(g.handle), WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS) return;
  RECT focus = client;
  InflateRect(&focus, -3, -3);
  if (!windows_xp_or_later()) FrameRect(dc, &focus, GetSysColorBrush(COLOR_BTNFACE));
  DrawFocusRect(dc, &focus);
}

void paint_into(Gadget& g, HDC dc) {
  RECT client;
  GetClientRect(g.handle, &client);
  native(g, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
  draw_image(g, dc, client, is_pushed(g));
  draw_focus(g, dc, client);
}

// With visual styles the face is drawn in layers; building it off-screen keeps it from flickering.
void paint_buffered(Gadget& g, HDC dc) {
  RECT client;
  GetClientRect(g.handle, &client);
  HDC buffer = CreateCompatibleDC(dc);
  HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
  if (!buffer || !bitmap) {
    if (bitmap) DeleteObject(bitmap);
    if (buffer) DeleteDC(buffer);
    paint_into(g, dc);
    return;
  }
  HGDIOBJ old = SelectObject(buffer, bitmap);
  paint_into(g, buffer);
  BitBlt(dc, 0, 0, client.right, client.bottom, buffer, 0, 0, SRCCOPY);
  SelectObject(buffer, old);
  DeleteObject(bitmap);
  DeleteDC(buffer);
}

void on_paint(Gadget& g) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(g.handle, &ps);
  if (visual_styles_active()) paint_buffered(g, dc);
  else paint_into(g, dc);
  EndPaint(g.handle, &ps);
}

void repaint(Gadget& g) { RedrawWindow(g.handle, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); }

// The native face must never draw a focus rectangle of its own: ours is drawn after the image,
// and two dotted rectangles drawn with XOR over each other would cancel out.
void hide_native_focus(Gadget& g) { native(g, WM_UPDATEUISTATE, MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS), 0); }

LRESULT image_button_message(Gadget& g, UINT msg, WPARAM wp, LPARAM lp, bool* handled) {
  ImageButtonState* s = state_of(g);
  if (!s) return 0;
  LRESULT result = 0;
  switch (msg) {
    case WM_PAINT:
      on_paint(g);
      break;
    case WM_PRINTCLIENT:
      paint_into(g, reinterpret_cast<HDC>(wp));
      break;
    case WM_QUERYUISTATE:
      result = native(g, msg, wp, lp) | UISF_HIDEFOCUS;
      break;
    case WM_UPDATEUISTATE:
      result = native(g, msg, wp, lp);
      hide_native_focus(g);
      repaint(g);
      break;
    case WM_ENABLE:
      rebuild_copies(*s, wp != 0);
      result = native(g, msg, wp, lp);
      repaint(g);
      break;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case BM_SETSTATE:
      result = native(g, msg, wp, lp);
      repaint(g);
      break;
    default:
      return 0;
  }
  *handled = true;
  return result;
}

void image_button_destroy(Gadget& g) {
  ImageButtonState* s = state_of(g);
  if (!s) return;
  delete_copies(*s);
  delete s;
}

int image_button_get_state(Gadget& g) { return state_of(g) && state_of(g)->checked ? 1 : 0; }

void image_button_set_state(Gadget& g, int value) {
  if (!state_of(g)) return;
  state_of(g)->checked = value != 0;
  repaint(g);
}

intptr_t image_button_get_attribute(Gadget& g, int attribute) {
  ImageButtonState* s = state_of(g);
  if (!s) return 0;
  if (attribute == IMAGE_BUTTON_NORMAL_IMAGE) return reinterpret_cast<intptr_t>(s->normal);
  if (attribute == IMAGE_BUTTON_PRESSED_IMAGE) return reinterpret_cast<intptr_t>(s->pressed);
  return 0;
}

void image_button_set_attribute(Gadget& g, int attribute, intptr_t value) {
  ImageButtonState* s = state_of(g);
  if (!s) return;
  if (attribute == IMAGE_BUTTON_NORMAL_IMAGE) s->normal = reinterpret_cast<HANDLE>(value);
  else if (attribute == IMAGE_BUTTON_PRESSED_IMAGE) s->pressed = reinterpret_cast<HANDLE>(value);
  else return;
  rebuild_copies(*s, IsWindowEnabled(g.handle) != FALSE);
  repaint(g);
}

const GadgetClass IMAGE_BUTTON_CLASS = [] {
  GadgetClass c{};
  c.kind = GADGET_IMAGE_BUTTON;
  c.control_message = image_button_message;
  c.destroy = image_button_destroy;
  c.get_state = image_button_get_state;
  c.set_state = image_button_set_state;
  c.get_attribute = image_button_get_attribute;
  c.set_attribute = image_button_set_attribute;
  return c;
}();

}  // namespace

HWND image_button_gadget(int number, int x, int y, int w, int h, HANDLE image) {
  HWND parent = gadget_target_window();
  if (!parent || number < 0) return nullptr;
  HWND hwnd = CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, x, y, w, h,
                              parent, reinterpret_cast<HMENU>(static_cast<intptr_t>(number)),
                              GetModuleHandleA(nullptr), nullptr);
  if (!hwnd) return nullptr;
  auto* state = new ImageButtonState;
  state->normal = image;
  if (!gadget_register(number, hwnd, &IMAGE_BUTTON_CLASS, state)) {
    delete state;
    DestroyWindow(hwnd);
    return nullptr;
  }
  Gadget& g = *gadget_record(number);
  hide_native_focus(g);
  rebuild_copies(*state, IsWindowEnabled(hwnd) != FALSE);
  InvalidateRect(hwnd, nullptr, TRUE);
  return hwnd;
}

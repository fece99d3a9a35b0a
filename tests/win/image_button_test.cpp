// Image buttons painted for real: each case prints the button into a 32-bit buffer and reads
// the pixels where the image must or must not be.
#include "ui/image_button.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "../png_fixture.h"
#include "ui/image.h"
#include "ui/ui.h"

namespace {

constexpr int BUTTON = 40;
constexpr int SIDE = 48;  // a 32-pixel image sits 8 pixels in from each edge

std::string write_png(const std::string& name, const PngPicture& p) {
  char folder[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, folder);
  const std::string path = std::string(folder) + "vantor_button_" + name;
  EXPECT_TRUE(write_bytes(path, encode_png(p)));
  return path;
}

// Red on the left half, green on the right, opaque.
PngPicture halves_picture() {
  PngPicture p = solid_rgba_picture(32, 32, 0xFF0000FF);
  for (auto& row : p.rows)
    for (int x = 16; x < 32; ++x) {
      row[x * 4] = 0;
      row[x * 4 + 1] = 0xFF;
    }
  return p;
}

struct Capture {
  uint32_t* pixels = nullptr;
  HBITMAP bitmap = nullptr;
  HDC dc = nullptr;

  explicit Capture(HWND button) {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), SIDE, -SIDE, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    dc = CreateCompatibleDC(nullptr);
    bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&pixels), nullptr, 0);
    SelectObject(dc, bitmap);
    SendMessageA(button, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    GdiFlush();
  }
  ~Capture() {
    DeleteDC(dc);
    DeleteObject(bitmap);
  }
  uint32_t rgb(int x, int y) const { return pixels[y * SIDE + x] & 0xFFFFFF; }
};

constexpr uint32_t RED = 0xFF0000;
constexpr uint32_t GREEN = 0x00FF00;
constexpr uint32_t BLUE = 0x0000FF;

class ImageButton : public testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    ui_init();
    set_alpha_drawing_override(GetParam());
    ASSERT_TRUE(window_open(0, 0, 0, 200, 200, "buttons", 0xCF0000));
    halves = load_image(0, write_png("halves.png", halves_picture()));
    blue = load_image(1, write_png("blue.png", solid_rgba_picture(32, 32, 0x0000FFFF)));
    ASSERT_NE(halves, nullptr);
    ASSERT_NE(blue, nullptr);
  }
  void TearDown() override {
    window_close(0);
    free_images();
    set_alpha_drawing_override(-1);
  }
  HWND make_button(HANDLE image) { return image_button_gadget(BUTTON, 10, 10, SIDE, SIDE, image); }

  HANDLE halves = nullptr;
  HANDLE blue = nullptr;
};

TEST_P(ImageButton, ImageIsCentredAndClippedInsideTheFrame) {
  HWND button = make_button(halves);
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(gadget_record(BUTTON)->cls->kind, GADGET_IMAGE_BUTTON);
  Capture shot(button);
  EXPECT_EQ(shot.rgb(8, 24), RED) << "first image column";
  EXPECT_NE(shot.rgb(7, 24), RED) << "left of the image is face";
  EXPECT_EQ(shot.rgb(39, 24), GREEN) << "last image column";
  EXPECT_NE(shot.rgb(40, 24), GREEN);

  PngPicture wide = solid_rgba_picture(SIDE, SIDE, 0xFF0000FF);
  gadget_set_attribute(BUTTON, IMAGE_BUTTON_NORMAL_IMAGE,
                       reinterpret_cast<intptr_t>(load_image(2, write_png("wide.png", wide))));
  Capture clipped(button);
  EXPECT_EQ(clipped.rgb(24, 24), RED);
  EXPECT_EQ(clipped.rgb(4, 24), RED) << "the clip is at most 4 pixels in";
  EXPECT_NE(clipped.rgb(1, 24), RED) << "the frame is never covered";
  EXPECT_NE(clipped.rgb(46, 24), RED);
}

TEST_P(ImageButton, PushedButtonMovesItsImageOneRightAndDown) {
  HWND button = make_button(halves);
  SendMessageA(button, BM_SETSTATE, TRUE, 0);
  Capture pushed(button);
  EXPECT_NE(pushed.rgb(8, 24), RED);
  EXPECT_EQ(pushed.rgb(9, 24), RED);
  EXPECT_EQ(pushed.rgb(24, 24), RED) << "column 16 of the image is now at 25";
  EXPECT_EQ(pushed.rgb(25, 24), GREEN);
  SendMessageA(button, BM_SETSTATE, FALSE, 0);
  Capture released(button);
  EXPECT_EQ(released.rgb(8, 24), RED);
  EXPECT_EQ(released.rgb(24, 24), GREEN);
}

TEST_P(ImageButton, PressedImageShowsWhileCheckedOrPushed) {
  HWND button = make_button(halves);
  gadget_set_attribute(BUTTON, IMAGE_BUTTON_PRESSED_IMAGE, reinterpret_cast<intptr_t>(blue));
  EXPECT_EQ(gadget_get_attribute(BUTTON, IMAGE_BUTTON_NORMAL_IMAGE), reinterpret_cast<intptr_t>(halves));
  EXPECT_EQ(gadget_get_attribute(BUTTON, IMAGE_BUTTON_PRESSED_IMAGE), reinterpret_cast<intptr_t>(blue));
  EXPECT_EQ(gadget_get_attribute(BUTTON, 3), 0);
  EXPECT_EQ(Capture(button).rgb(12, 24), RED);

  EXPECT_EQ(gadget_get_state(BUTTON), 0);
  gadget_set_state(BUTTON, 1);
  EXPECT_EQ(gadget_get_state(BUTTON), 1);
  EXPECT_EQ(Capture(button).rgb(12, 24), BLUE);
  gadget_set_state(BUTTON, 0);
  EXPECT_EQ(Capture(button).rgb(12, 24), RED);

  SendMessageA(button, BM_SETSTATE, TRUE, 0);
  EXPECT_EQ(Capture(button).rgb(12, 24), BLUE);
}

TEST_P(ImageButton, DisablingGreysTheImageAndEnablingRestoresIt) {
  HWND button = make_button(halves);
  gadget_disable(BUTTON, 1);
  EXPECT_FALSE(IsWindowEnabled(button));
  const uint32_t disabled = Capture(button).rgb(12, 24);
  EXPECT_NE(disabled, RED);
  if (GetParam() == 1) {
    // Red at full alpha: grey = (0 + 0 + 3 * 255) / 10 = 76.
    EXPECT_EQ(disabled, 0x4C4C4Cu);
  }
  gadget_disable(BUTTON, 0);
  EXPECT_EQ(Capture(button).rgb(12, 24), RED);
}

TEST_P(ImageButton, ButtonWithoutImageShowsOnlyItsFace) {
  EXPECT_EQ(load_image(3, "C:\\no\\such\\icon.png"), nullptr);
  HWND button = make_button(image_handle(3));
  ASSERT_NE(button, nullptr);
  Capture shot(button);
  const uint32_t face = shot.rgb(24, 24);
  EXPECT_EQ(shot.rgb(12, 12), face);
  EXPECT_EQ(shot.rgb(36, 36), face);
}

TEST_P(ImageButton, ClickReportsAGadgetEvent) {
  HWND button = make_button(halves);
  // Posted, so that the click is dispatched inside wait_event, as a user's would be.
  PostMessageA(button, BM_CLICK, 0, 0);
  int code = 0;
  for (int i = 0; i < 50 && code != EVENT_GADGET; ++i) code = wait_event(20);
  EXPECT_EQ(code, EVENT_GADGET);
  EXPECT_EQ(event_gadget_number(), BUTTON);
  EXPECT_EQ(event_type(), EVENT_TYPE_LEFT_CLICK);
}

// 0: drawn with the system's state drawing; 1: blended from the premultiplied copies.
INSTANTIATE_TEST_SUITE_P(DrawingPaths, ImageButton, testing::Values(0, 1));

}  // namespace

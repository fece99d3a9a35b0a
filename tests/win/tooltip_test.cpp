// The one shared tooltip: a gadget has at most one tool, and a second text replaces the first.
#include "ui/tooltip.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

#include "ui/ui.h"

namespace {

std::string tool_text(HWND control) {
  char text[256] = {};
  TTTOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.hwnd = GetParent(control);
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  tool.lpszText = text;
  SendMessageA(tooltip_handle(), TTM_GETTEXTA, sizeof text, reinterpret_cast<LPARAM>(&tool));
  return text;
}

int tool_count() { return static_cast<int>(SendMessageA(tooltip_handle(), TTM_GETTOOLCOUNT, 0, 0)); }

class Tooltip : public testing::Test {
 protected:
  void SetUp() override {
    ui_init();
    ASSERT_TRUE(window_open(0, 0, 0, 300, 200, "tips", 0xCF0000));
  }
  void TearDown() override {
    window_close(0);
    tooltip_shutdown();
  }
};

TEST_F(Tooltip, SecondTooltipReplacesTheFirst) {
  HWND button = button_gadget(1, 10, 10, 80, 24, "Go");
  gadget_set_tooltip(1, "first text");
  ASSERT_NE(tooltip_handle(), nullptr);
  EXPECT_EQ(tool_count(), 1);
  EXPECT_EQ(tool_text(button), "first text");
  gadget_set_tooltip(1, "second text");
  EXPECT_EQ(tool_count(), 1);
  EXPECT_EQ(tool_text(button), "second text");
}

TEST_F(Tooltip, OneControlServesEveryGadgetAndShowsAmpersands) {
  HWND a = button_gadget(1, 10, 10, 80, 24, "A");
  HWND b = button_gadget(2, 10, 40, 80, 24, "B");
  gadget_set_tooltip(1, "Verify archive ");
  HWND tip = tooltip_handle();
  gadget_set_tooltip(2, "Find & replace");
  EXPECT_EQ(tooltip_handle(), tip);
  EXPECT_EQ(tool_count(), 2);
  EXPECT_EQ(tool_text(a), "Verify archive ") << "trailing blank kept";
  EXPECT_EQ(tool_text(b), "Find & replace");
  const LONG style = GetWindowLongA(tip, GWL_STYLE);
  EXPECT_TRUE(style & TTS_NOPREFIX);
  EXPECT_TRUE(style & TTS_ALWAYSTIP);
  EXPECT_TRUE(GetWindowLongA(tip, GWL_EXSTYLE) & WS_EX_TOPMOST);
}

TEST_F(Tooltip, ChildrenOfACompositeControlCarryTheText) {
  HWND combo = CreateWindowExA(0, WC_COMBOBOXEXA, "", WS_CHILD | WS_VISIBLE | CBS_DROPDOWN, 10, 10, 150, 200,
                               window_handle(0), nullptr, GetModuleHandleA(nullptr), nullptr);
  static const GadgetClass plain{};
  ASSERT_NE(gadget_register(3, combo, &plain, nullptr), nullptr);
  HWND inner = FindWindowExA(combo, nullptr, "ComboBox", nullptr);
  ASSERT_NE(inner, nullptr);
  gadget_set_tooltip(3, "Change drive");
  gadget_set_tooltip(3, "Change drive");
  EXPECT_EQ(tool_text(combo), "Change drive");
  EXPECT_EQ(tool_text(inner), "Change drive");
  const int tools = tool_count();
  gadget_set_tooltip(3, "Change drive");
  EXPECT_EQ(tool_count(), tools) << "setting again adds nothing";
}

TEST_F(Tooltip, UnknownGadgetIsIgnored) {
  gadget_set_tooltip(77, "nobody");
  EXPECT_EQ(tooltip_handle(), nullptr);
}

}  // namespace

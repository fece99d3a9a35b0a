// The window layer against real windows under Wine: events, the queue, focus keys, inner sizes.
#include <gtest/gtest.h>

#include "ui/ui.h"

#include <thread>

namespace {

class WindowLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    ui_init();
    ASSERT_TRUE(window_open(5, 10, 10, 300, 200, "test window", 0xCF0000));
    drain();
  }
  void TearDown() override { window_close(5); }
  static void drain() {
    while (wait_event(10) != 0) {
    }
  }
  // Waits until an event with this code arrives, taking at most `tries` messages.
  static bool wait_for(int code, int tries = 200) {
    for (int i = 0; i < tries; ++i)
      if (wait_event(20) == code) return true;
    return false;
  }
};

TEST_F(WindowLayer, CloseBoxReportsTheWindowAndLeavesItOpen) {
  PostMessageA(window_handle(5), WM_SYSCOMMAND, SC_CLOSE, 0);
  ASSERT_TRUE(wait_for(EVENT_CLOSE_WINDOW));
  EXPECT_EQ(event_window_number(), 5);
  EXPECT_TRUE(IsWindow(window_handle(5)));
  window_close(5);
  EXPECT_EQ(window_handle(5), nullptr);
  EXPECT_EQ(window_inner_width(5), 0);
}

TEST_F(WindowLayer, IdenticalQueuedEventsComeBackOnce) {
  queue_event(EVENT_GADGET, 7, 5, 0);
  queue_event(EVENT_GADGET, 7, 5, 0);
  queue_event(EVENT_GADGET, 7, 5, 1);
  EXPECT_EQ(wait_event(0), EVENT_GADGET);
  EXPECT_EQ(event_gadget_number(), 7);
  EXPECT_EQ(event_type(), 0);
  EXPECT_EQ(wait_event(0), EVENT_GADGET);
  EXPECT_EQ(event_type(), 1);
  EXPECT_EQ(wait_event(0), 0);
}

TEST_F(WindowLayer, ClosingAWindowDropsItsQueuedEvents) {
  ASSERT_TRUE(window_open(6, 0, 0, 100, 100, "other", 0xCF0000));
  queue_event(EVENT_GADGET, 3, 6, 0);
  queue_event(EVENT_GADGET, 3, 5, 0);
  window_close(6);
  bool saw_window_5 = false;
  while (queued_event_count() > 0) {
    wait_event(0);
    EXPECT_NE(event_window_number(), 6);
    saw_window_5 = saw_window_5 || (event_gadget_number() == 3 && event_window_number() == 5);
  }
  EXPECT_TRUE(saw_window_5);
}

TEST_F(WindowLayer, WaitWithoutTimeoutReturnsZeroAtOnce) {
  DWORD start = GetTickCount();
  EXPECT_EQ(wait_event(0), 0);
  EXPECT_EQ(event_type(), EVENT_TYPE_NONE);
  EXPECT_LT(GetTickCount() - start, 1000u);
}

TEST_F(WindowLayer, RawMessagesReturnTheirOwnNumber) {
  PostMessageA(window_handle(5), WM_USER + 5, 11, 22);
  int code = 0;
  for (int i = 0; i < 50 && code != WM_USER + 5; ++i) code = wait_event(20);
  ASSERT_EQ(code, WM_USER + 5);
  EXPECT_EQ(event_window_number(), -1) << "a native message is no event of window 0";
  EXPECT_EQ(event_data(0), 11);
  EXPECT_EQ(event_data(1), 22);
}

TEST_F(WindowLayer, MenuItemsReportTheirNumbers) {
  HMENU bar = CreateMenu(), drop = CreatePopupMenu();
  AppendMenuA(drop, MF_STRING, 3, "Delete");
  AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(drop), "File");
  SetMenu(window_handle(5), bar);
  PostMessageA(window_handle(5), WM_COMMAND, MAKEWPARAM(3, 0), 0);
  ASSERT_TRUE(wait_for(EVENT_MENU));
  EXPECT_EQ(event_gadget_number(), 3);
}

TEST_F(WindowLayer, InnerHeightIncludesTheMenuBar) {
  int without = window_inner_height(5);
  EXPECT_EQ(without, 200);
  EXPECT_EQ(window_inner_width(5), 300);
  HMENU bar = CreateMenu();
  AppendMenuA(bar, MF_STRING, 1, "File");
  SetMenu(window_handle(5), bar);
  RECT client;
  GetClientRect(window_handle(5), &client);
  EXPECT_GT(window_inner_height(5), client.bottom);
}

TEST_F(WindowLayer, TabAndShiftTabMoveTheFocusWithoutEvents) {
  button_gadget(1, 0, 0, 50, 20, "one");
  button_gadget(2, 60, 0, 50, 20, "two");
  checkbox_gadget(3, 120, 0, 50, 20, "three");
  SetForegroundWindow(window_handle(5));
  SetActiveWindow(window_handle(5));
  SetFocus(gadget_handle(1));
  drain();
  auto press = [](bool shift) {
    if (shift) PostMessageA(GetFocus(), WM_KEYDOWN, VK_SHIFT, 0);
    PostMessageA(GetFocus(), WM_KEYDOWN, VK_TAB, 0);
  };
  // The accelerator table reads the shift state from the keyboard, so only plain Tab is posted.
  press(false);
  int events = 0;
  for (int i = 0; i < 20; ++i) {
    int code = wait_event(10);
    if (code == EVENT_GADGET || code == EVENT_MENU) ++events;
  }
  EXPECT_EQ(GetFocus(), gadget_handle(2));
  EXPECT_EQ(events, 0);
  SendMessageA(window_handle(5), WM_COMMAND, MAKEWPARAM(64002, 1), 0);
  EXPECT_EQ(GetFocus(), gadget_handle(1));
  for (int code = wait_event(0); code != 0; code = wait_event(0)) {
    EXPECT_NE(code, EVENT_GADGET);
    EXPECT_NE(code, EVENT_MENU);
  }
}

TEST_F(WindowLayer, PlainGadgetsReportThroughTheirNotices) {
  button_gadget(1, 0, 0, 50, 20, "one");
  string_gadget(2, 0, 30, 100, 20, "text");
  trackbar_gadget(3, 0, 60, 100, 20, 1, 256);
  checkbox_gadget(4, 0, 90, 100, 20, "check");
  PostMessageA(gadget_handle(1), BM_CLICK, 0, 0);
  ASSERT_TRUE(wait_for(EVENT_GADGET));
  EXPECT_EQ(event_gadget_number(), 1);
  EXPECT_EQ(event_type(), EVENT_TYPE_LEFT_CLICK);

  gadget_set_state(3, 7);
  EXPECT_EQ(gadget_get_state(3), 7);
  gadget_set_state(4, 1);
  EXPECT_EQ(gadget_get_state(4), 1);
  gadget_set_text(2, "changed");
  EXPECT_EQ(gadget_get_text(2), "changed");
  PostMessageA(gadget_handle(2), WM_CHAR, 'x', 0);  // typing reaches the program as a change
  bool saw_change = false;
  for (int i = 0; i < 50 && !saw_change; ++i)
    saw_change = wait_event(10) == EVENT_GADGET && event_gadget_number() == 2 && event_type() == EVENT_TYPE_CHANGE;
  EXPECT_TRUE(saw_change);
}

TEST_F(WindowLayer, NoticesSentFromAnotherThreadAreNotLost) {
  string_gadget(2, 0, 30, 100, 20, "text");
  HWND window = window_handle(5), field = gadget_handle(2);
  std::thread sender([window, field] {
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(2, EN_CHANGE), reinterpret_cast<LPARAM>(field));
  });
  bool seen = false;
  for (int i = 0; i < 100 && !seen; ++i)
    seen = wait_event(20) == EVENT_GADGET && event_gadget_number() == 2 && event_type() == EVENT_TYPE_CHANGE;
  sender.join();
  EXPECT_TRUE(seen);
}

TEST_F(WindowLayer, UnknownNumbersDoNothing) {
  EXPECT_EQ(gadget_get_text(49), "");
  EXPECT_EQ(gadget_get_state(49), 0);
  EXPECT_EQ(gadget_count_items(4000), 0);
  gadget_set_text(-3, "x");
  EXPECT_EQ(window_handle(77), nullptr);
}

TEST_F(WindowLayer, DestroyingAGadgetDropsItsEvents) {
  button_gadget(9, 0, 0, 50, 20, "nine");
  queue_event(EVENT_GADGET, 9, 5, 0);
  gadget_free(9);
  EXPECT_EQ(gadget_record(9), nullptr);
  while (queued_event_count() > 0) EXPECT_NE(wait_event(0), EVENT_GADGET);
}

}  // namespace

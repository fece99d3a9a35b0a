// The windows while a run goes on: what a close of its window does, the cursor over the main
// window, who owns the run's window, and when the main window is given back.
#include <gtest/gtest.h>

#include "operations/busy_window.h"
#include "operations_fixture.h"

namespace {

using namespace operations_fixture;

class RunEvents : public Operations {
 protected:
  // The cursor the window sets as the mouse moves over its inner area.
  static HCURSOR cursor_over(HWND hwnd) {
    SetCursor(nullptr);
    SendMessageA(hwnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(hwnd), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    return GetCursor();
  }
  // A press on the main window, disabled as it is during a run, while another window is active.
  static HWND active_after_press_on_main() {
    HWND other = CreateWindowExA(0, "STATIC", "elsewhere", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100,
                                 nullptr, nullptr, nullptr, nullptr);
    SetForegroundWindow(other);
    SetActiveWindow(other);
    HWND before = GetActiveWindow();
    SendMessageA(window_handle(0), WM_SETCURSOR, reinterpret_cast<WPARAM>(window_handle(0)),
                 MAKELPARAM(HTERROR, WM_LBUTTONDOWN));
    HWND after = GetActiveWindow();
    DestroyWindow(other);
    return before == other ? after : nullptr;
  }
  static bool owned_by_main_without_taskbar_button(HWND hwnd) {
    return GetWindow(hwnd, GW_OWNER) == window_handle(0) && !(GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_APPWINDOW);
  }
  // The disk loop takes events again: true when it got as far as the first step of the user's.
  static bool disk_loop_lives_on() {
    bool reached = false;
    run_script({[&] {
                  reached = IsWindowEnabled(window_handle(0)) != 0;
                  exit_menu();
                }},
               [] { run_disk_loop(); });
    shell.quit_requested = 0;
    return reached;
  }
};

// Whether the main window was enabled when the watched window began to go away: closing a
// window can take a while (two seconds in a fresh Wine prefix), and the main window is given
// back before it.
int main_enabled_as_it_went = -1;
WNDPROC watched_previous = nullptr;

LRESULT CALLBACK watch_going(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  bool hiding = msg == WM_WINDOWPOSCHANGING && (reinterpret_cast<WINDOWPOS*>(lp)->flags & SWP_HIDEWINDOW);
  if ((hiding || msg == WM_DESTROY) && main_enabled_as_it_went < 0)
    main_enabled_as_it_went = IsWindowEnabled(window_handle(0)) ? 1 : 0;
  return CallWindowProcA(watched_previous, hwnd, msg, wp, lp);
}

void watch_going_of(HWND hwnd) {
  main_enabled_as_it_went = -1;
  watched_previous = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(watch_going)));
}

TEST_F(RunEvents, ClosingTheBusyWindowCancelsTheWorkAndNothingMore) {
  const HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT), arrow = LoadCursorA(nullptr, IDC_ARROW);
  HWND main = window_handle(0);
  bool cancelled = false;
  {
    BusyWork busy("testing");
    for (DWORD start = GetTickCount(); !window_handle(3) && GetTickCount() - start < 5000; Sleep(10))
      busy.poll(0, -1, "working");
    ASSERT_NE(window_handle(3), nullptr);
    EXPECT_FALSE(IsWindowEnabled(main));
    EXPECT_EQ(cursor_over(main), wait);
    EXPECT_EQ(cursor_over(gadget_handle(MEMORY_TEXT)), wait) << "a gadget of the main window";
    EXPECT_TRUE(owned_by_main_without_taskbar_button(window_handle(3)));
    EXPECT_EQ(active_after_press_on_main(), window_handle(3));
    // taskkill without /F posts WM_CLOSE to each window of the program.
    PostMessageA(window_handle(3), WM_CLOSE, 0, 0);
    for (DWORD start = GetTickCount(); !busy.cancelled() && GetTickCount() - start < 5000; Sleep(10))
      busy.poll(0, -1, "working");
    cancelled = busy.cancelled();
    watch_going_of(window_handle(3));
  }
  EXPECT_TRUE(cancelled);
  EXPECT_EQ(main_enabled_as_it_went, 1);
  EXPECT_EQ(window_handle(3), nullptr);
  EXPECT_EQ(cursor_over(main), arrow);
  EXPECT_TRUE(disk_loop_lives_on());
}

TEST_F(RunEvents, ClosingTheCompressionWindowCancelsTheRunAndNothingMore) {
  write_file(work_ + "data\\big.bin", noise(48 << 20));
  choose({"big.bin"});
  shell.operation.ultra_switch = "x";
  shell.operation.archive_path = work_ + "out.vnr";
  std::string box;
  HCURSOR during = nullptr;
  bool owned = false, brought_forward = false;
  int ticks = 0;
  run_script({[] { press(12, 1); },
              [&] {  // the run is under way once its bar has moved
                if (gadget_get_state(42) <= 0 && ++ticks < 250) return retry_step();
                during = cursor_over(window_handle(0));
                owned = owned_by_main_without_taskbar_button(window_handle(1));
                brought_forward = active_after_press_on_main() == window_handle(1);
                watch_going_of(window_handle(1));
                PostMessageA(window_handle(1), WM_CLOSE, 0, 0);
              },
              [&] {  // a run that ended on its own says "Added": taken too, so a failure cannot hang
                for (const char* title : {"Note:", "Added"}) {
                  HWND shown = FindWindowA("#32770", title);
                  char text[1024] = {};
                  if (!shown || GetDlgItemTextA(shown, 0xFFFF, text, sizeof text) == 0) continue;
                  box = text;
                  PostMessageA(shown, WM_COMMAND, IDOK, 0);
                  return;
                }
                retry_step();
              }},
             [] { compression_window(operation_context()); });
  shell.operation.ultra_switch.clear();
  EXPECT_EQ(box.rfind("Compression was cancelled after ", 0), 0u) << box;
  EXPECT_EQ(during, LoadCursorA(nullptr, IDC_APPSTARTING));
  EXPECT_TRUE(owned);
  EXPECT_TRUE(brought_forward);
  EXPECT_EQ(window_handle(1), nullptr);
  EXPECT_EQ(main_enabled_as_it_went, 1) << "given back with the box, before the window went";
  EXPECT_EQ(cursor_over(window_handle(0)), LoadCursorA(nullptr, IDC_ARROW));
  EXPECT_TRUE(disk_loop_lives_on());
}

}  // namespace

// Directory change watcher. One thread waits on the change notifications of the folders on view;
// slot 0 of its wait is the request event. The main thread hands it one request at a time through
// a slot under a lock and waits for the done event. The thread only ever posts WM_VANTOR_REFRESH:
// it never calls into a window, so every re-listing runs on the main thread in message order.
// WaitForMultipleObjects takes at most MAXIMUM_WAIT_OBJECTS handles, hence 63 folders.
#include "explorer/watcher.h"

#include <vector>

#include "ui/events.h"

namespace {

constexpr DWORD REQUEST_LIMIT_MS = 5000;
constexpr size_t SLOT_GROWTH = 5;
constexpr size_t FOLDER_LIMIT = MAXIMUM_WAIT_OBJECTS - 1;
constexpr DWORD WATCHED_CHANGES = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                  FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE |
                                  FILE_NOTIFY_CHANGE_LAST_WRITE;

// The request slot: written by the main thread under request_lock, read by the thread only
// between the request event and the done event.
struct Request {
  HWND list = nullptr;
  HWND parent = nullptr;            // where the refresh goes; looked up on the main thread
  HANDLE notification = nullptr;    // none: stop watching this list
};

CRITICAL_SECTION request_lock;
Request request;
HANDLE request_event = nullptr;
HANDLE done_event = nullptr;
HANDLE thread = nullptr;
bool started = false;
volatile LONG disabled = 0;

bool is_disabled() { return InterlockedCompareExchange(&disabled, 0, 0) != 0; }
void disable() { InterlockedExchange(&disabled, 1); }

struct Watched {
  HWND list;
  HWND parent;
};

// Thread side: handles[0] is the request event, handles[k] / watched[k] the k-th folder.
class SlotTable {
 public:
  SlotTable() {
    handles_.reserve(SLOT_GROWTH);
    watched_.reserve(SLOT_GROWTH);
    handles_.push_back(request_event);
    watched_.push_back({nullptr, nullptr});
  }
  DWORD count() const { return static_cast<DWORD>(handles_.size()); }
  const HANDLE* handles() const { return handles_.data(); }
  HANDLE handle(size_t k) const { return handles_[k]; }
  const Watched& watched(size_t k) const { return watched_[k]; }

  size_t find(HWND list) const {
    for (size_t k = 1; k < handles_.size(); ++k)
      if (watched_[k].list == list) return k;
    return 0;
  }
  // Takes the notification; a table already holding FOLDER_LIMIT folders closes it instead, as
  // one more handle would make every later wait fail and end the watcher for all lists.
  void add(const Request& r) {
    if (handles_.size() > FOLDER_LIMIT) {
      FindCloseChangeNotification(r.notification);
      return;
    }
    if (handles_.size() == handles_.capacity()) {
      handles_.reserve(handles_.capacity() + SLOT_GROWTH);
      watched_.reserve(watched_.capacity() + SLOT_GROWTH);
    }
    handles_.push_back(r.notification);
    watched_.push_back({r.list, r.parent});
  }
  void replace(size_t k, const Request& r) {
    FindCloseChangeNotification(handles_[k]);
    handles_[k] = r.notification;
    watched_[k] = {r.list, r.parent};
  }
  void remove(size_t k) {
    FindCloseChangeNotification(handles_[k]);
    handles_.erase(handles_.begin() + static_cast<ptrdiff_t>(k));
    watched_.erase(watched_.begin() + static_cast<ptrdiff_t>(k));
  }

 private:
  std::vector<HANDLE> handles_;
  std::vector<Watched> watched_;
};

void take_request(SlotTable& slots) {
  size_t k = slots.find(request.list);
  if (k && request.notification) {
    slots.replace(k, request);
  } else if (k) {
    slots.remove(k);
  } else if (request.notification) {
    slots.add(request);
  }
  ResetEvent(request_event);
  SetEvent(done_event);
}

void folder_changed(SlotTable& slots, size_t k) {
  const Watched& w = slots.watched(k);
  PostMessageA(w.parent, WM_VANTOR_REFRESH, 0, reinterpret_cast<LPARAM>(w.list));
  if (!FindNextChangeNotification(slots.handle(k))) slots.remove(k);
}

DWORD WINAPI watcher_thread(LPVOID) {
  SlotTable slots;
  for (;;) {
    DWORD result = WaitForMultipleObjects(slots.count(), slots.handles(), FALSE, INFINITE);
    if (result == WAIT_FAILED) break;
    DWORD k = result - WAIT_OBJECT_0;
    if (k >= slots.count()) continue;  // abandoned or time-out codes
    if (k == 0) {
      take_request(slots);
    } else {
      folder_changed(slots, k);
    }
  }
  disable();
  return 0;
}

// Hands one request to the thread and waits for it to be taken. A thread that does not answer in
// time is ended and the watcher stays off for the rest of the process.
void send_request(HWND list, HANDLE notification) {
  EnterCriticalSection(&request_lock);
  if (is_disabled()) {
    if (notification) FindCloseChangeNotification(notification);
  } else {
    request.list = list;
    request.parent = GetParent(list);
    request.notification = notification;
    ResetEvent(done_event);
    SetEvent(request_event);
    if (WaitForSingleObject(done_event, REQUEST_LIMIT_MS) != WAIT_OBJECT_0) {
      disable();
      TerminateThread(thread, 0);
    }
  }
  LeaveCriticalSection(&request_lock);
}

}  // namespace

void watcher_start() {
  if (started) return;
  started = true;
  InitializeCriticalSection(&request_lock);
  request_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  done_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (request_event && done_event) thread = CreateThread(nullptr, 0, watcher_thread, nullptr, 0, nullptr);
  if (!thread) disable();
}

// A folder that cannot be watched makes no request, so the list's earlier watch stays.
void watch_folder(HWND list, const std::string& folder) {
  if (!list || folder.empty() || !started || is_disabled()) return;
  HANDLE notification = FindFirstChangeNotificationA(folder.c_str(), FALSE, WATCHED_CHANGES);
  if (notification == INVALID_HANDLE_VALUE) return;
  send_request(list, notification);
}

void stop_watching(HWND list) {
  if (!list || !started || is_disabled()) return;
  send_request(list, nullptr);
}

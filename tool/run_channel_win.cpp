#include <windows.h>

#include <cstdlib>

#include "run_channel_io.h"

namespace {

// A handle the caller let this process inherit, named by its value in the environment.
intptr_t inherited_handle(const char* name) {
  char text[32];
  DWORD length = GetEnvironmentVariableA(name, text, sizeof text);
  if (length == 0 || length >= sizeof text) return -1;
  char* end = nullptr;
  unsigned long long value = std::strtoull(text, &end, 10);
  DWORD flags = 0;
  HANDLE h = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
  if (*end != '\0' || value == 0 || !GetHandleInformation(h, &flags)) return -1;
  // A program this run starts must not hold the channel open.
  SetHandleInformation(h, HANDLE_FLAG_INHERIT, 0);
  return static_cast<intptr_t>(value);
}

HANDLE handle_of(intptr_t value) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value)); }

}  // namespace

bool channel_ends_from_environment(ChannelEnds& ends) {
  ends.progress = inherited_handle("VANTOR_PROGRESS");
  ends.cancel = inherited_handle("VANTOR_CANCEL");
  return ends.progress != -1 || ends.cancel != -1;
}

bool channel_wait_for_cancel(const ChannelEnds& ends, int ms) {
  return WaitForSingleObject(handle_of(ends.cancel), static_cast<DWORD>(ms)) == WAIT_OBJECT_0;
}

bool channel_send(const ChannelEnds& ends, const std::string& line) {
  DWORD written = 0;
  return WriteFile(handle_of(ends.progress), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
         written == line.size();
}

#include <windows.h>

#include <cstdlib>
#include <cwchar>

#include "run_channel_io.h"

namespace {

enum class End { PROGRESS, CANCEL };

bool is_standard(HANDLE h) {
  return h == GetStdHandle(STD_INPUT_HANDLE) || h == GetStdHandle(STD_OUTPUT_HANDLE) || h == GetStdHandle(STD_ERROR_HANDLE);
}

// Whether the handle is the end of a pipe that CreatePipe gives the writer (the client end),
// not a file, console, the reading end or a pipe of some other kind the process inherited.
bool is_write_end(HANDLE h) {
  DWORD flags = 0;
  return GetFileType(h) == FILE_TYPE_PIPE && GetNamedPipeInfo(h, &flags, nullptr, nullptr, nullptr) &&
         !(flags & PIPE_SERVER_END);
}

// Whether the kernel object behind the handle is an event.
bool is_event(HANDLE h) {
  struct TypeName {
    USHORT length, maximum;
    wchar_t* text;
    ULONG reserved[22];
  };
  using Query = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  static const Query query =
      reinterpret_cast<Query>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject")));
  // Room for the name after the record, where the system puts it.
  alignas(8) unsigned char buffer[512] = {};
  const int OBJECT_TYPE_INFORMATION = 2;
  if (!query || query(h, OBJECT_TYPE_INFORMATION, buffer, sizeof buffer, nullptr) < 0) return false;
  const TypeName* type = reinterpret_cast<const TypeName*>(buffer);
  return type->text && type->length == 10 && std::wcsncmp(type->text, L"Event", 5) == 0;
}

// A handle the caller let this process inherit, named by its value in the environment. Any
// other handle the process has (its standard ones, a file, its window station) would have the
// run write progress into its output or cancel itself at once: only a pipe, or an event to
// cancel with, is taken.
intptr_t inherited_handle(const char* name, End end) {
  char text[32];
  DWORD length = GetEnvironmentVariableA(name, text, sizeof text);
  if (length == 0 || length >= sizeof text) return -1;
  char* end_of_number = nullptr;
  unsigned long long value = std::strtoull(text, &end_of_number, 10);
  DWORD flags = 0;
  HANDLE h = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
  if (*end_of_number != '\0' || value == 0 || !GetHandleInformation(h, &flags) || is_standard(h)) return -1;
  if (end == End::PROGRESS ? !is_write_end(h) : !is_event(h)) return -1;
  // A program this run starts must not hold the channel open.
  SetHandleInformation(h, HANDLE_FLAG_INHERIT, 0);
  return static_cast<intptr_t>(value);
}

HANDLE handle_of(intptr_t value) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value)); }

}  // namespace

bool channel_ends_from_environment(ChannelEnds& ends) {
  ends.progress = inherited_handle("VANTOR_PROGRESS", End::PROGRESS);
  ends.cancel = inherited_handle("VANTOR_CANCEL", End::CANCEL);
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

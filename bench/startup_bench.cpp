// Start-up time and memory of the front end: starts WinVantor.exe, waits for its main window,
// reads its peak working set, then closes it the way a user does. Run under Wine.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

int main() {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string folder = self;
  folder = folder.substr(0, folder.find_last_of('\\'));
  folder = folder.substr(0, folder.find_last_of('\\') + 1);  // bench\ sits beside the program
  std::string command = "\"" + folder + "WinVantor.exe\"";
  for (int run = 0; run < 3; ++run) {
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    LARGE_INTEGER start, end, frequency;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi)) {
      std::printf("cannot start %s\n", command.c_str());
      return 1;
    }
    HWND main_window = nullptr;
    for (int i = 0; i < 4000 && !main_window; ++i) {
      main_window = FindWindowA("WindowClass_0", "Vantor Archiver");
      if (!main_window) Sleep(5);
    }
    // The window is up once its file list has been filled and painted.
    WaitForInputIdle(pi.hProcess, 10000);
    QueryPerformanceCounter(&end);
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(pi.hProcess, &memory, sizeof(memory));
    if (main_window) PostMessageA(main_window, WM_CLOSE, 0, 0);
    DWORD waited = WaitForSingleObject(pi.hProcess, 20000);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    std::printf("start-up %.3f s, peak working set %.1f MB, closed %s with exit code %lu\n",
                double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart),
                double(memory.PeakWorkingSetSize) / 1048576.0, waited == WAIT_OBJECT_0 ? "normally" : "late",
                static_cast<unsigned long>(code));
    if (waited != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  return 0;
}

// Whole-file reads and writes for the Windows tests.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace test_files {

inline void write_file(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

inline std::string read_file(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return "(missing)";
  std::string bytes;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0) bytes.append(buffer, n);
  std::fclose(f);
  return bytes;
}

inline bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The output file a child's standard output and error go to, inheritable.
inline HANDLE inheritable_output(const std::string& output) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileA(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
}

// The real vantor.exe with `arguments`, inheriting our handles and environment, its standard
// output and error into `out` (closed here); its exit code once it ended (1000: not started).
inline DWORD run_tool(const std::string& arguments, HANDLE out) {
  std::string program = "Z:" + std::string(VANTOR_TOOL_EXE);
  std::replace(program.begin(), program.end(), '/', '\\');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = out;
  PROCESS_INFORMATION process = {};
  std::string line = "\"" + program + "\" " + arguments;
  BOOL started = CreateProcessA(program.c_str(), &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                                &startup, &process);
  CloseHandle(out);
  if (!started) return 1000;
  DWORD code = 1001;
  WaitForSingleObject(process.hProcess, 180000);
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return code;
}

// The real vantor.exe with `arguments`, its password written into an inherited pipe named by
// VANTOR_PASSWORD_HANDLE (or, with `password_file`, that file's handle named instead), as the
// front end hands it; its exit code, what it printed in `output`.
inline DWORD run_with_password(const std::string& arguments, const std::string& password, const std::string& output,
                               const std::string& password_file = "") {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  if (password_file.empty()) {
    CreatePipe(&read_end, &write_end, &inherit, 0);
    SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0);
    DWORD written = 0;
    WriteFile(write_end, password.data(), static_cast<DWORD>(password.size()), &written, nullptr);
    CloseHandle(write_end);
  } else {
    read_end = CreateFileA(password_file.c_str(), GENERIC_READ, FILE_SHARE_READ, &inherit, OPEN_EXISTING, 0, nullptr);
  }
  SetEnvironmentVariableA("VANTOR_PASSWORD_HANDLE", std::to_string(reinterpret_cast<uintptr_t>(read_end)).c_str());
  SetEnvironmentVariableA("VANTOR_ARGON2_KIB", "65536");
  SetEnvironmentVariableA("VANTOR_ARGON2_OPS", "1");
  DWORD code = run_tool(arguments, inheritable_output(output));
  SetEnvironmentVariableA("VANTOR_PASSWORD_HANDLE", nullptr);
  CloseHandle(read_end);
  return code;
}

}  // namespace test_files

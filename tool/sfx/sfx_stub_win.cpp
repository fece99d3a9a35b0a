// The program in front of a self-extracting archive: it asks for a folder, extracts its own
// entries (which start right after this program's fixed-size slot) and reports the result.
// "/s <folder>" extracts without asking and reports only through the exit code.
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "engine.h"
#include "format/archive_format.h"
#include "format/path_safety.h"
#include "options.h"

namespace {

std::string own_path() {
  char buffer[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  return (n > 0 && n < sizeof buffer) ? std::string(buffer, n) : std::string();
}

std::string ask_folder() {
  char chosen[MAX_PATH] = "";
  BROWSEINFOA info = {};
  info.lpszTitle = "Extract the files of this archive into:";
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  LPITEMIDLIST item = SHBrowseForFolderA(&info);
  if (!item) return std::string();
  bool ok = SHGetPathFromIDListA(item, chosen) != 0;
  CoTaskMemFree(item);
  return ok ? std::string(chosen) : std::string();
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  std::vector<std::string> args = split_parameters(parameters_after_program(GetCommandLineA()));
  bool silent = args.size() == 2 && (args[0] == "/s" || args[0] == "-s");
  ReadJob job;
  job.archive_path = own_path();
  job.index_start = INDEX_STUB_SIZE;
  if (silent) {
    job.destination = args[1];
  } else {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    job.destination = ask_folder();
    if (job.destination.empty()) return 1;
  }
  RunResult result = read_archive_with(job, nullptr);
  if (!silent) {
    std::string text;
    if (result.ok) {
      text = std::to_string(result.members) + " files extracted into " + job.destination + ".";
      for (size_t i = 0; i < result.notes.size() && i < 10; ++i) text += "\n" + printable(result.notes[i]);
    } else {
      text = std::to_string(result.problems.size()) + " problem(s); " +
             std::to_string(result.members) + " files extracted.\n";
      for (size_t i = 0; i < result.problems.size() && i < 10; ++i) text += "\n" + printable(result.problems[i]);
    }
    MessageBoxA(nullptr, text.c_str(), "Vantor self-extractor",
                MB_OK | (result.ok ? MB_ICONINFORMATION : MB_ICONWARNING));
  }
  return result.ok ? 0 : 1;
}


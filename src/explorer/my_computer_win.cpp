#include "explorer/my_computer_win.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

namespace {

const char* const MY_COMPUTER_CLASS = "::{20D04FE0-3AEA-1069-A2D8-08002B30309D}";

// By the computer folder's item identifier, or failing that its class identifier.
MyComputer load_my_computer() {
  MyComputer mc;
  SHFILEINFOA info = {};
  LPITEMIDLIST pidl = nullptr;
  bool found = false;
  if (SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &pidl) == S_OK && pidl) {
    found = SHGetFileInfoA(reinterpret_cast<LPCSTR>(pidl), 0, &info, sizeof info,
                           SHGFI_PIDL | SHGFI_DISPLAYNAME | SHGFI_SYSICONINDEX | SHGFI_SMALLICON) != 0;
    CoTaskMemFree(pidl);
  }
  if (!found)
    found = SHGetFileInfoA(MY_COMPUTER_CLASS, 0, &info, sizeof info,
                           SHGFI_DISPLAYNAME | SHGFI_SYSICONINDEX | SHGFI_SMALLICON) != 0;
  if (found) {
    if (info.szDisplayName[0]) mc.name = info.szDisplayName;
    mc.icon = info.iIcon;
  }
  return mc;
}

}  // namespace

const MyComputer& my_computer() {
  static const MyComputer mc = load_my_computer();
  return mc;
}

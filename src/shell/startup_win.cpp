// Start-up, the main window with its gadgets, menu and buttons, and the end sequence.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include "runtime/folders.h"
#include "runtime/text.h"
#include "shell/browsing.h"
#include "shell/dispatch.h"
#include "shell/globals.h"
#include "shell/main_window_layout.h"
#include "shell/shell.h"
#include "shell/startup.h"
#include "ui/ui.h"

#include "explorer/explorer_list.h"
#include "operations/shell_job.h"
#include "ui/note.h"
#include "explorer/location_combo.h"
#include "process/process_runner.h"
#include "ui/image.h"
#include "ui/image_button.h"
#include "ui/menu.h"

namespace {

constexpr int MAIN_WINDOW = 0;
constexpr uint32_t MAIN_WINDOW_STYLE = 0xCF0000;

HIMAGELIST system_small_icons = nullptr;
HIMAGELIST list_icon_copy = nullptr;

struct ButtonSpec {
  int gadget;
  int image;
  const char* file;
  int x, y, size;
};

// Creation order of the icon row.
const ButtonSpec BUTTONS[] = {
    {PARENT_BUTTON, 6, "data\\return.png", 1, 65, 28},   {ADD_BUTTON, 0, "data\\Add.png", 0, 1, 64},
    {EXTRACT_BUTTON, 1, "data\\Extract.png", 64, 1, 64}, {VERIFY_BUTTON, 2, "data\\Verify.png", 128, 1, 64},
    {DELETE_BUTTON, 3, "data\\Delete.png", 192, 1, 64},  {FIND_BUTTON, 5, "data\\Find.png", 256, 1, 64},
    {SELECT_ALL_BUTTON, 7, "data\\SelectAll.png", 320, 1, 64}, {INFO_BUTTON, 4, "data\\Info.png", 384, 1, 64},
};

struct TooltipSpec {
  int gadget;
  const char* text;
};

const TooltipSpec TOOLTIPS[] = {
    {ADD_BUTTON, "Add files or folders into archive"},
    {EXTRACT_BUTTON, "Extract opened archive"},
    {VERIFY_BUTTON, "Verify archive "},
    {DELETE_BUTTON, "Delete file or folder in archive "},
    {INFO_BUTTON, "Info author"},
    {FIND_BUTTON, "Find file"},
    {LOCATION_COMBO, "Change drive"},
    {PARENT_BUTTON, "return to parent directory"},
};

// 260 characters of a path take up to three bytes each in UTF-8, the programs' code page.
constexpr DWORD PATH_BYTES = MAX_PATH * 3;

std::string module_file_name() {
  char name[PATH_BYTES + 1] = {};
  DWORD n = GetModuleFileNameA(nullptr, name, PATH_BYTES);
  return n < PATH_BYTES ? std::string(name, n) : std::string();
}

std::string current_directory() {
  char dir[PATH_BYTES + 1] = {};
  DWORD n = GetCurrentDirectoryA(PATH_BYTES, dir);
  return n > 0 && n <= PATH_BYTES ? std::string(dir, n) : std::string();
}

std::string long_temp_folder() {
  char temp[PATH_BYTES + 1] = {};
  char long_form[PATH_BYTES + 1] = {};
  DWORD n = GetTempPathA(PATH_BYTES, temp);
  if (n == 0 || n > PATH_BYTES) return std::string();
  DWORD m = GetLongPathNameA(temp, long_form, PATH_BYTES);
  return with_trailing_backslash(m > 0 && m <= PATH_BYTES ? std::string(long_form, m) : std::string(temp, n));
}

void create_file_list(int w, int h) {
  GadgetBox b = file_list_box(w, h);
  explorer_list_create(FILE_LIST, b.x, b.y, b.w, b.h, "*.*", 0x200000);
}

void create_location_combo(int w) {
  GadgetBox b = location_combo_box(w);
  location_combo_create(LOCATION_COMBO, b.x, b.y, b.w, b.h, "C:\\", 0);
}

void create_main_menu() {
  if (!create_menu(0, window_handle(MAIN_WINDOW))) return;
  menu_title("File");
  menu_item(MENU_OPEN_ARCHIVE, "Open archive");
  menu_item(MENU_ADD, "Add to archive");
  menu_item(MENU_DELETE, "Delete");
  menu_item(MENU_SELECT_ALL, "Select all");
  menu_item(5, "-----");
  menu_item(6, "-----");
  menu_item(7, "-----");
  menu_bar_separator();
  menu_item(MENU_EXIT, "Exit");
  menu_title("?");
  menu_item(MENU_CONTENTS, "Contents");
  menu_bar_separator();
}

void create_buttons() {
  for (const ButtonSpec& b : BUTTONS) {
    load_image(b.image, shell.operation.program_folder + b.file);
    image_button_gadget(b.gadget, b.x, b.y, b.size, b.size, image_handle(b.image));
  }
}

// Gives the list a private copy of the system icons on the chosen background.
void setup_list_colours(int gadget, int background, int text) {
  HWND list = gadget_handle(gadget);
  if (system_small_icons && list) {
    list_icon_copy = ImageList_Duplicate(system_small_icons);
    if (list_icon_copy) {
      ImageList_SetBkColor(list_icon_copy, static_cast<COLORREF>(background));
      SendMessageA(list, LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(list_icon_copy));
    }
  }
  gadget_set_color(gadget, GADGET_COLOR_TEXT, text);
  gadget_set_color(gadget, GADGET_COLOR_BACKGROUND, background);
}

void query_system_small_icons() {
  SHFILEINFOA info = {};
  system_small_icons = reinterpret_cast<HIMAGELIST>(
      SHGetFileInfoA("", 0, &info, sizeof(info), SHGFI_SYSICONINDEX | SHGFI_ICON | SHGFI_SMALLICON));
  if (info.hIcon) DestroyIcon(info.hIcon);
}

// Runs when the disk loop has ended (or the window could not be opened).
int end_sequence() {
  if (!shell.operation.archive_path.empty() || shell.selection.selection_count > 0) reset_temp_folders();
  window_close(MAIN_WINDOW);
  end_program_now();
}

std::string full_path(const std::string& path) {
  char full[PATH_BYTES + 1] = {};
  DWORD n = GetFullPathNameA(path.c_str(), PATH_BYTES, full, nullptr);
  return n > 0 && n <= PATH_BYTES ? std::string(full, n) : path;
}

// A job from Explorer's menu: no main window, and the process ends with the job's code.
int run_job_command(const std::string& verb_name, const std::vector<std::string>& paths) {
  ui_init();
  JobVerb verb;
  int code = JOB_PROBLEM;
  if (!job_verb_from(verb_name, verb)) {
    message_box("Note:", "Unknown job \"" + verb_name + "\".\n" + job_usage_text(), NOTE_WARNING);
  } else {
    std::vector<std::string> items;
    for (const std::string& p : paths) items.push_back(full_path(p));
    code = run_job(verb, items, path_part(module_file_name()));
  }
  end_jobless_programs();
  ui_shutdown();
  ExitProcess(static_cast<UINT>(code));
}

}  // namespace

void destroy_list_icon_copy() {
  if (list_icon_copy) ImageList_Destroy(list_icon_copy);
  list_icon_copy = nullptr;
}

void end_program_now() {
  // ExitProcess runs no exit handlers: an archiver the system gave no job is ended here.
  end_jobless_programs();
  // Members dragged out were copied by their targets during the drop; our copies go with us.
  if (!shell.operation.drag_root.empty()) delete_folder_tree(shell.operation.drag_root);
  ui_shutdown();
  free_images();
  ExitProcess(0);
}

int vantor_main() {
  std::string verb;
  std::vector<std::string> paths;
  if (job_arguments(GetCommandLineA(), verb, paths)) return run_job_command(verb, paths);
  if (!open_main_window()) return end_sequence();
  run_disk_loop();
  return end_sequence();
}

bool open_main_window() {
  ui_init();
  query_system_small_icons();
  allocate_shell_tables(shell);
  shell.operation.solid_switch.clear();
  shell.self_extracting_index_start = INDEX_STUB_SIZE;
  shell.operation.task_count = 1;
  shell.select_all_active = 0;
  shell.operation.program_folder = path_part(module_file_name());
  shell.command_line = GetCommandLineA();
  shell.startup_document = startup_document_from(current_directory(), shell.command_line);

  if (!window_open(MAIN_WINDOW, 0, 0, 800, 600, "Vantor Archiver", MAIN_WINDOW_STYLE) ||
      !create_gadget_list(window_handle(MAIN_WINDOW)))
    return false;
  shell.inner_height = window_inner_height(MAIN_WINDOW);
  shell.inner_width = window_inner_width(MAIN_WINDOW);
  int w = shell.inner_width, h = shell.inner_height;

  create_file_list(w, h);
  create_location_combo(w);
  GadgetBox m = memory_text_box(w, h);
  text_gadget(MEMORY_TEXT, m.x, m.y, m.w, m.h, memory_text(free_physical_memory()));
  create_main_menu();
  setup_list_colours(FILE_LIST, 0xFFFFFF, 0x000000);
  window_show(MAIN_WINDOW, 1);
  window_accept_files(MAIN_WINDOW, 1);
  create_buttons();
  shell.operation.task_count = 1;
  shell.operation.buffer_position = 4;
  shell.operation.compression_method = 3;
  shell.operation.dictionary_position = 7;
  if (gadget_count_items(FILE_LIST) >= 2) {
    gadget_set_item_attribute(FILE_LIST, 0, 1, w - 345, 0);
    gadget_set_item_attribute(FILE_LIST, 0, 1, 120, 1);
  }
  for (const TooltipSpec& t : TOOLTIPS) gadget_set_tooltip(t.gadget, t.text);
  shell.start_folder = gadget_get_text(FILE_LIST);
  std::string temp = long_temp_folder();
  shell.operation.temp_root = temp + "tempvantor\\";
  shell.operation.launch_root = temp + "launchvantor\\";
  shell.operation.drag_root = temp + "dragvantor\\" + std::to_string(GetCurrentProcessId()) + "\\";
  return true;
}

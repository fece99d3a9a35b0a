// Dragging in and out of the main window with the real vantor.exe: drops arrive as the shell
// sends them (WM_DROPFILES with an HDROP of wide names made here by hand), and the drag's data
// object is asked as a drop target would ask it.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <set>

#include "archive/foreign_listing.h"
#include "operations/drag_members.h"
#include "operations/foreign_members.h"
#include "operations_fixture.h"
#include "ui/drag_out.h"

namespace {

using namespace operations_fixture;

class DragDrop : public Operations {
 protected:
  void TearDown() override {
    delete_tree(shell.operation.drag_root);
    Operations::TearDown();
  }
};

// The shell's DROPFILES (shlobj.h, whose names clash with the archiver's here), then each wide
// name with its zero, then one more zero.
struct DROPFILES {
  DWORD pFiles;
  POINT pt;
  BOOL fNC;
  BOOL fWide;
};
static_assert(sizeof(DROPFILES) == 20, "the shell's layout");

void drop_on_main_window(const std::vector<std::string>& paths) {
  std::wstring names;
  for (const std::string& p : paths) {
    wchar_t name[1024] = {};
    MultiByteToWideChar(CP_UTF8, 0, p.c_str(), -1, name, 1024);
    names += std::wstring(name) + L'\0';
  }
  names += L'\0';
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + names.size() * sizeof(wchar_t));
  auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
  header->pFiles = sizeof(DROPFILES);
  header->fWide = TRUE;
  memcpy(header + 1, names.data(), names.size() * sizeof(wchar_t));
  GlobalUnlock(memory);
  PostMessageW(window_handle(0), WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
}

std::set<std::string> member_set(const std::string& archive) {
  std::set<std::string> names;
  for (std::string name : members(archive)) {
    for (char& c : name)
      if (c == '/') c = '\\';
    names.insert(name);
  }
  return names;
}

// A step that waits for a yes/no box with this title, keeps its text and answers Yes.
std::function<void()> answer_yes(const char* title, std::string* text) {
  return [title, text] {
    HWND box = FindWindowA("#32770", title);
    char buffer[1024] = {};
    if (!box || GetDlgItemTextA(box, 0xFFFF, buffer, sizeof(buffer)) == 0) return retry_step();
    *text = buffer;
    PostMessageA(box, WM_COMMAND, IDYES, 0);
  };
}

std::vector<std::string> hdrop_paths(HGLOBAL memory) {
  std::vector<std::string> paths;
  HDROP drop = static_cast<HDROP>(memory);
  for (UINT i = 0, n = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0); i < n; ++i) {
    wchar_t name[1024] = {};
    DragQueryFileW(drop, i, name, 1024);
    char utf8[4096] = {};
    WideCharToMultiByte(CP_UTF8, 0, name, -1, utf8, sizeof utf8, nullptr, nullptr);
    paths.push_back(utf8);
  }
  return paths;
}

FORMATETC hdrop_format() { return {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}; }

TEST_F(DragDrop, FilesDroppedOnTheDiskViewAreChosenInTheCompressionWindow) {
  write_file(work_ + "data\\my notes.txt", "blanks");
  write_file(work_ + "data\\Ωμέγα 日本.txt", "scripts");
  std::vector<std::string> in_window;
  run_script({[&] { drop_on_main_window({work_ + "data\\my notes.txt", work_ + "data\\Ωμέγα 日本.txt",
                                         work_ + "data\\docs"}); },
              when([] { return window_handle(1) != nullptr; },
                   [&] {
                     const auto& list = shell.selection.selection_list;
                     in_window.assign(list.begin() + 1, list.begin() + 1 + shell.selection.selection_count);
                     press(13, 1);
                   }),
              exit_menu},
             [] { run_disk_loop(); });
  std::sort(in_window.begin(), in_window.end());
  EXPECT_EQ(in_window, (std::vector<std::string>{work_ + "data\\docs\\a.txt", work_ + "data\\docs\\sub\\c.txt",
                                                 work_ + "data\\my notes.txt", work_ + "data\\Ωμέγα 日本.txt"}));
  EXPECT_EQ(shell.selection.selection_count, 0) << "let go when the window closed";
}

// An archive dropped alone opens; files and a folder dropped on it then join it after the
// question, and the view is read again with them.
TEST_F(DragDrop, AnArchiveDroppedAloneOpensAndFilesDroppedOnItAreAdded) {
  choose({"b.txt"});
  std::string archive = work_ + "out.vnr";
  compress_into(archive);
  write_file(work_ + "data\\my notes.txt", "blanks");
  std::string question;
  bool listed = false;
  run_script({[&] { drop_on_main_window({archive}); },
              [&] {
                if (!archive_on_view()) return retry_step();
                drop_on_main_window({work_ + "data\\my notes.txt", work_ + "data\\docs"});
              },
              answer_yes("Add", &question),
              when([] { return row_of("my notes.txt") > 0 && archive_on_view(); },
                   [&] {
                     listed = row_of("my notes.txt") > 0 && row_of("docs") > 0 && row_of("b.txt") > 0;
                     exit_menu();
                   }),
              exit_menu},
             [] { run_disk_loop(); });
  EXPECT_EQ(question, "Add 2 items (1 folder with everything below) to " + archive +
                          "? They are stored as Add stores them, a file of the same path replacing the member.");
  EXPECT_TRUE(listed);
  EXPECT_EQ(member_set(archive),
            (std::set<std::string>{"b.txt", "my notes.txt", "docs\\a.txt", "docs\\sub\\c.txt"}));
}

// Links, devices and names longer than the program's paths are named; nothing opens or runs.
TEST_F(DragDrop, HostileDropsAreRefusedByNameAndNothingRuns) {
  std::string link = "Z:" + std::string(VANTOR_WIN_LINKS) + "/stage_swap/docs";
  for (char& c : link)
    if (c == '/') c = '\\';
  std::string long_name = work_ + std::string(250, 'n') + ".txt";
  std::string box;
  bool window_opened = false;
  run_script({[&] { drop_on_main_window({work_ + "data\\b.txt", link, "\\\\.\\NUL", long_name}); },
              answer_box("Note:", &box), [&] { window_opened = window_handle(1) != nullptr; }, exit_menu},
             [] { run_disk_loop(); });
  EXPECT_FALSE(window_opened);
  EXPECT_EQ(box, "Nothing was taken from the drop:\n" + link +
                     " is a link or junction, which is not followed.\n\\\\.\\NUL is a device, not a file.\n" +
                     long_name + " is longer than 259 characters.")
      << box;
}

// While a run keeps the main window disabled, a drop is refused, not kept for afterwards.
TEST_F(DragDrop, ADropDuringARunIsRefused) {
  window_disable(0, 1);
  drop_on_main_window({work_ + "data\\b.txt"});
  for (int i = 0; i < 10; ++i) EXPECT_NE(wait_event(20), EVENT_FILES_DROPPED);
  window_disable(0, 0);
  EXPECT_TRUE(take_dropped_files().empty());
}

// The archive of `name` open in the view without its loop, with b.txt and the folder docs chosen.
struct DraggedFromView {
  std::string folder;
  std::vector<std::string> paths;
};

DraggedFromView open_and_choose(const std::string& archive, int drag) {
  shell.operation.archive_path = archive;
  shell.operation.archive_format.clear();
  if (is_foreign_archive_name(archive)) {
    ArchiveSession s = open_foreign_archive_busy(shell.operation.program_folder, archive, shell.operation.temp_root,
                                                 shell.entries);
    shell.operation.archive_format = s.format;
  } else {
    open_archive(archive, shell.operation.temp_root, shell.entries, [](int64_t, int64_t, int) { return true; });
  }
  const std::string& root = shell.operation.temp_root;
  shell.selection.selection_count = 0;
  selection_append(shell.selection, root + "b.txt");
  selection_append(shell.selection, root + "docs\\a.txt");
  DraggedFromView d;
  d.folder = drag_folder(shell.operation.drag_root, drag);
  d.paths = dragged_member_paths(d.folder, root, root, {"b.txt", "docs"});
  return d;
}

IDataObject* drop_object(const DraggedFromView& d) {
  return new_file_drop_object(d.paths, [d] { return extract_for_drop(operation_context(), d.folder, d.paths); });
}

// Asking for the formats, or letting the object go unasked, writes nothing; at the drop the
// members are extracted where the HDROP says, byte for byte, from ours and from a zip (chosen by a
// list file, as the archiver knows it).
TEST_F(DragDrop, GetDataAtTheDropExtractsWhereTheHdropSays) {
  for (const char* name : {"out.vnr", "out.zip"}) {
    choose({"b.txt", "docs\\a.txt", "docs\\sub\\c.txt"});
    compress_into(work_ + name);
    DraggedFromView d = open_and_choose(work_ + name, name[4] == 'v' ? 201 : 202);
    FORMATETC format = hdrop_format(), text = {CF_TEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    IDataObject* unasked = drop_object(d);
    EXPECT_EQ(unasked->QueryGetData(&format), S_OK);
    EXPECT_EQ(unasked->QueryGetData(&text), DV_E_FORMATETC);
    unasked->Release();
    EXPECT_FALSE(exists(shell.operation.drag_root)) << name;
    IDataObject* data = drop_object(d);
    STGMEDIUM medium = {};
    ASSERT_EQ(data->GetData(&format, &medium), S_OK) << name;
    std::vector<std::string> paths = hdrop_paths(medium.hGlobal);
    ReleaseStgMedium(&medium);
    data->Release();
    ASSERT_EQ(paths, d.paths) << name;
    EXPECT_EQ(read_file(paths[0]), "bravo") << name;
    EXPECT_EQ(read_file(paths[1] + "\\a.txt"), "alpha\r\n") << name;
    EXPECT_FALSE(exists(paths[1] + "\\sub")) << name << ": only the chosen members";
    delete_tree(shell.operation.drag_root);
  }
}

// A drag cancelled with Esc (held down here before it starts) makes nothing.
TEST_F(DragDrop, ACancelledDragExtractsNothing) {
  choose({"b.txt"});
  compress_into(work_ + "out.vnr");
  DraggedFromView d = open_and_choose(work_ + "out.vnr", 301);
  bool rendered = false;
  keybd_event(VK_ESCAPE, 0, 0, 0);
  DragOutcome outcome = drag_files_out(d.paths, [&] { return rendered = true; });
  keybd_event(VK_ESCAPE, 0, KEYEVENTF_KEYUP, 0);
  EXPECT_EQ(outcome, DragOutcome::CANCELLED);
  EXPECT_FALSE(rendered);
  EXPECT_FALSE(exists(d.folder));
}

}  // namespace

namespace {

// A drop target that takes copies and asks for the files at the drop, as Explorer does.
class TakingTarget final : public IDropTarget {
 public:
  virtual ~TakingTarget() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    *out = (riid == IID_IUnknown || riid == IID_IDropTarget) ? this : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  // Explorer too may ask for the names while the pointer only passes over it.
  HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* data, DWORD, POINTL, DWORD* effect) override {
    FORMATETC format = hdrop_format();
    STGMEDIUM medium = {};
    if (data->GetData(&format, &medium) == S_OK) {
      std::vector<std::string> names = hdrop_paths(medium.hGlobal);
      made_before_drop = names.empty() || exists(names[0]);
      ReleaseStgMedium(&medium);
    }
    return copy(effect);
  }
  HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL, DWORD* effect) override { return copy(effect); }
  HRESULT STDMETHODCALLTYPE DragLeave() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) override {
    FORMATETC format = hdrop_format();
    STGMEDIUM medium = {};
    if (data->GetData(&format, &medium) == S_OK) {
      paths = hdrop_paths(medium.hGlobal);
      ReleaseStgMedium(&medium);
    }
    return copy(effect);
  }
  std::vector<std::string> paths;
  bool made_before_drop = true;

 private:
  HRESULT copy(DWORD* effect) {
    *effect = DROPEFFECT_COPY;
    return S_OK;
  }
};

void mouse(DWORD flags) {
  INPUT input = {};
  input.type = INPUT_MOUSE;
  input.mi.dwFlags = flags;
  SendInput(1, &input, sizeof input);
}

void CALLBACK release_button(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  mouse(MOUSEEVENTF_MOVE);
  mouse(MOUSEEVENTF_LEFTUP);
}

}  // namespace

// The whole drag with the button pressed and released over a target: the members are extracted
// when the target asks at the drop, and it finds them where the HDROP says.
TEST_F(DragDrop, ARealDragDropsTheMembersOnTheTarget) {
  choose({"b.txt", "docs\\a.txt"});
  compress_into(work_ + "out.vnr");
  DraggedFromView d = open_and_choose(work_ + "out.vnr", 401);
  ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
  WNDCLASSA plain = {};
  plain.lpfnWndProc = DefWindowProcA;
  plain.lpszClassName = "DropTargetWindow";
  RegisterClassA(&plain);  // a static control is transparent to the pointer
  HWND window = CreateWindowExA(WS_EX_TOPMOST, "DropTargetWindow", "", WS_POPUP | WS_VISIBLE, 600, 400, 200, 200,
                                nullptr, nullptr, nullptr, nullptr);
  TakingTarget target;
  ASSERT_EQ(RegisterDragDrop(window, &target), S_OK);
  SetCursorPos(700, 500);
  mouse(MOUSEEVENTF_LEFTDOWN);
  for (int i = 0; i < 10 && !(GetKeyState(VK_LBUTTON) & 0x8000); ++i) wait_event(20);  // the press is taken
  SetTimer(nullptr, 0, 500, release_button);
  DragOutcome outcome =
      drag_files_out(d.paths, [&] { return extract_for_drop(operation_context(), d.folder, d.paths); });
  RevokeDragDrop(window);
  DestroyWindow(window);
  OleUninitialize();
  EXPECT_EQ(outcome, DragOutcome::DROPPED);
  EXPECT_FALSE(target.made_before_drop);
  ASSERT_EQ(target.paths, d.paths);
  EXPECT_EQ(read_file(d.paths[0]), "bravo");
  EXPECT_EQ(read_file(d.paths[1] + "\\a.txt"), "alpha\r\n");
}

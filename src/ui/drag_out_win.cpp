// The data object and drop source of a drag out of our windows. Pitfalls:
// - DoDragDrop runs its own message loop on this thread; a target in another process calls back
//   into this one (GetData) from inside it, so the files are made while that loop waits, with
//   our windows still answering through the run's own pumping.
// - Explorer may ask for CF_HDROP while the pointer merely passes over it (to choose between copy
//   and move): until the button is released it gets the names and nothing is made.
#include "ui/drag_out.h"

#include <shlobj.h>

#include <memory>

namespace {

std::wstring wide(const std::string& text) {
  int n = text.empty() ? 0 : MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

bool is_hdrop(const FORMATETC* f) {
  return f && f->cfFormat == CF_HDROP && (f->tymed & TYMED_HGLOBAL) && f->dwAspect == DVASPECT_CONTENT;
}

class FileDropObject final : public IDataObject {
 public:
  FileDropObject(std::vector<std::string> paths, RenderFiles render, std::function<bool()> held)
      : paths_(std::move(paths)), render_(render), held_(std::move(held)) {}
  virtual ~FileDropObject() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDataObject) {
      *out = static_cast<IDataObject*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
    if (!medium) return E_POINTER;
    if (!is_hdrop(format)) return DV_E_FORMATETC;
    bool before_drop = held_ && held_();
    if (!before_drop && !made()) return E_FAIL;
    HGLOBAL memory = make_hdrop(paths_);
    if (!memory) return E_OUTOFMEMORY;
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = memory;
    medium->pUnkForRelease = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override {
    return is_hdrop(format) ? S_OK : DV_E_FORMATETC;
  }
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
    if (out) out->ptd = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (direction != DATADIR_GET) return E_NOTIMPL;
    FORMATETC hdrop = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    return SHCreateStdEnumFmtEtc(1, &hdrop, out);
  }
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

 private:
  enum class Files { WAITING, MADE, FAILED };

  // Once: a second request (a target asking twice, or asking while the run pumps) gets the answer
  // of the first.
  bool made() {
    if (files_ == Files::WAITING && !making_) {
      making_ = true;
      files_ = render_ && render_() ? Files::MADE : Files::FAILED;
      making_ = false;
    }
    return files_ == Files::MADE;
  }

  ULONG references_ = 1;
  std::vector<std::string> paths_;
  RenderFiles render_;
  std::function<bool()> held_;
  Files files_ = Files::WAITING;
  bool making_ = false;
};

class DropSource final : public IDropSource {
 public:
  explicit DropSource(bool* held) : held_(held) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDropSource) {
      *out = static_cast<IDropSource*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }  // lives on the caller's stack

  HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL escape, DWORD keys) override {
    if (escape) return DRAGDROP_S_CANCEL;
    if (keys & (MK_LBUTTON | MK_RBUTTON)) return S_OK;
    *held_ = false;  // from here on a request for the files makes them
    return DRAGDROP_S_DROP;
  }
  HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD) override { return DRAGDROP_S_USEDEFAULTCURSORS; }

 private:
  ULONG references_ = 1;
  bool* held_;
};

}  // namespace

HGLOBAL make_hdrop(const std::vector<std::string>& paths) {
  std::wstring names;
  for (const std::string& path : paths) {
    names += wide(path);
    names += L'\0';
  }
  names += L'\0';
  size_t bytes = sizeof(DROPFILES) + names.size() * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
  if (!memory) return nullptr;
  auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
  header->pFiles = sizeof(DROPFILES);
  header->fWide = TRUE;
  memcpy(reinterpret_cast<char*>(header) + sizeof(DROPFILES), names.data(), names.size() * sizeof(wchar_t));
  GlobalUnlock(memory);
  return memory;
}

IDataObject* new_file_drop_object(const std::vector<std::string>& paths, const RenderFiles& render,
                                  std::function<bool()> button_held) {
  return new FileDropObject(paths, render, std::move(button_held));
}

DragOutcome drag_files_out(const std::vector<std::string>& paths, const RenderFiles& render) {
  if (FAILED(OleInitialize(nullptr))) return DragOutcome::FAILED;
  bool held = true;
  IDataObject* data = new_file_drop_object(paths, render, [&] { return held; });
  DropSource source(&held);
  DWORD effect = DROPEFFECT_NONE;
  HRESULT result = DoDragDrop(data, &source, DROPEFFECT_COPY, &effect);
  data->Release();
  OleUninitialize();
  if (result == DRAGDROP_S_DROP && effect != DROPEFFECT_NONE) return DragOutcome::DROPPED;
  return result == DRAGDROP_S_CANCEL || result == DRAGDROP_S_DROP ? DragOutcome::CANCELLED : DragOutcome::FAILED;
}

#include "proppage/page_test_support.h"

#include <gtest/gtest.h>
#include <oleauto.h>
#include <shellapi.h>

#include <cstring>

#include "play/play_graph.h"

namespace kestrel::test {

ComPtr<IPropertyPage> CreatePage() {
  ComPtr<IClassFactory> factory;
  ComPtr<IPropertyPage> page;
  HRESULT hr = play::GetKestrelClassObject(CLSID_KestrelProp, factory.ReleaseAndGetAddressOf());
  EXPECT_HR(S_OK, hr);
  if (FAILED(hr)) return page;
  EXPECT_HR(S_OK, factory->CreateInstance(nullptr, IID_IPropertyPage, page.ReleaseAndGetVoidAddress()));
  return page;
}

HMODULE KestrelModule() { return GetModuleHandleW(L"kestrel.ax"); }

void PumpPending() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    PumpPending();
    if (done()) return true;
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeout_ms) return done();
    MsgWaitForMultipleObjectsEx(0, nullptr, timeout_ms - elapsed, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

// ---- StubFilter

HRESULT STDMETHODCALLTYPE StubFilter::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IUnknown) {
    *ppv = Unknown();
  } else if (riid == IID_IQTInfo && offer_info) {
    *ppv = static_cast<IQTInfo*>(this);
  } else if (riid == IID_IQTControl && offer_control) {
    *ppv = static_cast<IQTControl*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG STDMETHODCALLTYPE StubFilter::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }

// Owned by the test: never deleted here.
ULONG STDMETHODCALLTYPE StubFilter::Release() { return static_cast<ULONG>(InterlockedDecrement(&m_cRef)); }

HRESULT STDMETHODCALLTYPE StubFilter::SetVideoQuality(QT_VIDEO_QUALITY eQuality) {
  ++calls;
  quality_sets.push_back(eQuality);
  movie.quality = eQuality;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE StubFilter::GetVideoQuality(QT_VIDEO_QUALITY* peQuality) {
  ++calls;
  if (movie.quality_hr == S_OK) *peQuality = movie.quality;
  return movie.quality_hr;
}

HRESULT STDMETHODCALLTYPE StubFilter::SetVideoFieldMode(QT_VIDEO_FIELDMODE eFieldMode) {
  ++calls;
  fieldmode_sets.push_back(eFieldMode);
  movie.fieldmode = eFieldMode;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE StubFilter::GetVideoFieldMode(QT_VIDEO_FIELDMODE* peFieldMode) {
  ++calls;
  if (movie.fieldmode_hr == S_OK) *peFieldMode = movie.fieldmode;
  return movie.fieldmode_hr;
}

HRESULT STDMETHODCALLTYPE StubFilter::GetVideoInfo(BSTR* pbstrCodec, ULONG* pnWidth, ULONG* pnHeight, ULONG* pnDepth,
                                                   double* pdFrameRate, ULONG* pdwFrameCount, double* pdDuration) {
  ++calls;
  if (movie.video_hr != S_OK) return movie.video_hr;
  *pbstrCodec = SysAllocString(movie.video_codec.c_str());
  *pnWidth = movie.width;
  *pnHeight = movie.height;
  *pnDepth = movie.depth;
  *pdFrameRate = movie.frame_rate;
  *pdwFrameCount = movie.frame_count;
  *pdDuration = movie.duration;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE StubFilter::GetAudioInfo(BSTR* pbstrCodec, BSTR* pbstrLayout, ULONG* pnSampleRate) {
  ++calls;
  if (movie.audio_hr != S_OK) return movie.audio_hr;
  *pbstrCodec = SysAllocString(movie.audio_codec.c_str());
  *pbstrLayout = SysAllocString(movie.layout.c_str());
  *pnSampleRate = movie.sample_rate;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE StubFilter::GetUserDataCount(ULONG* pdwCount) {
  ++calls;
  *pdwCount = movie.user_data_hr == S_OK ? static_cast<ULONG>(movie.tags.size()) : 0;
  return movie.user_data_hr;
}

HRESULT STDMETHODCALLTYPE StubFilter::GetUserDataName(ULONG dwIndex, BSTR* bstrName) {
  ++calls;
  if (dwIndex >= movie.tags.size()) return E_INVALIDARG;
  *bstrName = SysAllocString(movie.tags[dwIndex].first.c_str());
  return S_OK;
}

HRESULT STDMETHODCALLTYPE StubFilter::GetUserDataValue(ULONG dwIndex, BSTR* bstrValue) {
  ++calls;
  if (dwIndex >= movie.tags.size()) return E_INVALIDARG;
  *bstrValue = SysAllocString(movie.tags[dwIndex].second.c_str());
  return S_OK;
}

HRESULT STDMETHODCALLTYPE StubFilter::GetTimeCode(LONG*, BYTE*, BYTE*, BYTE*, BYTE*) {
  ++calls;
  return E_FAIL;
}

// ---- StubPageSite

HRESULT STDMETHODCALLTYPE StubPageSite::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid != IID_IUnknown && riid != IID_IPropertyPageSite) return E_NOINTERFACE;
  *ppv = static_cast<IPropertyPageSite*>(this);
  AddRef();
  return S_OK;
}

ULONG STDMETHODCALLTYPE StubPageSite::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }

ULONG STDMETHODCALLTYPE StubPageSite::Release() { return static_cast<ULONG>(InterlockedDecrement(&m_cRef)); }

HRESULT STDMETHODCALLTYPE StubPageSite::OnStatusChange(DWORD dwFlags) {
  status_changes.push_back(dwFlags);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE StubPageSite::GetLocaleID(LCID* pLocaleID) {
  if (!pLocaleID) return E_POINTER;
  *pLocaleID = 0x409;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE StubPageSite::GetPageContainer(IUnknown** ppUnk) {
  if (ppUnk) *ppUnk = nullptr;
  return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE StubPageSite::TranslateAccelerator(MSG*) { return S_FALSE; }

// ---- PageHost and OpenPage

int ScreenDpi() {
  HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return dpi;
}

HWND PageHost() {
  static const HWND host = [] {
    static const wchar_t kClass[] = L"KestrelPageTestHost";
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = kClass;
    RegisterClassW(&wc);
    // The whole screen, which grows with the scaling as the page does.
    HWND hwnd = CreateWindowExW(0, kClass, L"Kestrel page test", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
                                GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    SetForegroundWindow(hwnd);
    return hwnd;
  }();
  EXPECT_NE(host, nullptr);
  return host;
}

OpenPage::OpenPage(IUnknown* object) {
  m_page = CreatePage();
  if (!m_page) return;
  EXPECT_HR(S_OK, m_page->SetPageSite(&site));
  EXPECT_HR(S_OK, m_page->SetObjects(1, &object));
  PROPPAGEINFO info = {};
  EXPECT_HR(S_OK, m_page->GetPageInfo(&info));
  CoTaskMemFree(info.pszTitle);
  RECT rect = {0, 0, info.size.cx, info.size.cy};
  EXPECT_HR(S_OK, m_page->Activate(PageHost(), &rect, FALSE));
  m_window = page::FindPageWindow(PageHost());
  EXPECT_NE(m_window, nullptr);
  PumpPending();
}

OpenPage::~OpenPage() { Close(); }

void OpenPage::Close() {
  if (!m_page) return;
  EXPECT_HR(S_OK, m_page->Deactivate());
  EXPECT_HR(S_OK, m_page->SetObjects(0, nullptr));
  EXPECT_HR(S_OK, m_page->SetPageSite(nullptr));
  m_page.Reset();
  m_window = nullptr;
}

// ---- Import hooks

namespace {

// The import address slot of dll!name in module, or null.
void** FindImportSlot(HMODULE module, const char* dll, const char* name) {
  if (!module) return nullptr;
  auto* base = reinterpret_cast<BYTE*>(module);
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!imports.VirtualAddress) return nullptr;
  for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name; ++d) {
    if (_stricmp(reinterpret_cast<const char*>(base + d->Name), dll) != 0) continue;
    auto* names =
        reinterpret_cast<IMAGE_THUNK_DATA*>(base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (strcmp(reinterpret_cast<const char*>(by_name->Name), name) == 0)
        return reinterpret_cast<void**>(&slots->u1.Function);
    }
  }
  return nullptr;
}

void WriteSlot(void** slot, void* value) {
  DWORD old = 0;
  VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &old);
  *slot = value;
  VirtualProtect(slot, sizeof(*slot), old, &old);
}

std::vector<ShellCall> g_shell_calls;

HINSTANCE WINAPI RecordShellExecute(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory,
                                    INT show) {
  g_shell_calls.push_back(
      {owner, verb ? verb : L"", file ? file : L"", parameters != nullptr, directory != nullptr, show});
  return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));  // above 32: success
}

volatile LONG g_registry_writes = 0;

// Counts a call of one registry function, then makes it.
template <int N, typename R, typename... A>
struct CountedCall {
  static inline R(WINAPI* original)(A...) = nullptr;
  static R WINAPI Call(A... args) {
    InterlockedIncrement(&g_registry_writes);
    return original(args...);
  }
};

template <int N, typename R, typename... A>
std::unique_ptr<ImportHook> CountCalls(const char* name, R(WINAPI*)(A...)) {
  auto hook =
      std::make_unique<ImportHook>("advapi32.dll", name, reinterpret_cast<void*>(&CountedCall<N, R, A...>::Call));
  CountedCall<N, R, A...>::original = reinterpret_cast<R(WINAPI*)(A...)>(hook->Original());
  return hook;
}

}  // namespace

ImportHook::ImportHook(const char* dll, const char* name, void* replacement) {
  m_slot = FindImportSlot(KestrelModule(), dll, name);
  if (!m_slot) return;
  m_original = *m_slot;
  WriteSlot(m_slot, replacement);
}

ImportHook::~ImportHook() {
  if (m_slot) WriteSlot(m_slot, m_original);
}

ShellRecorder::ShellRecorder() : m_hook("shell32.dll", "ShellExecuteW", reinterpret_cast<void*>(RecordShellExecute)) {
  g_shell_calls.clear();
}

ShellRecorder::~ShellRecorder() { g_shell_calls.clear(); }

const std::vector<ShellCall>& ShellRecorder::Calls() const { return g_shell_calls; }

RegistryWriteCounter::RegistryWriteCounter() {
  g_registry_writes = 0;
  m_hooks.push_back(CountCalls<0>("RegSetValueExW", &RegSetValueExW));
  m_hooks.push_back(CountCalls<1>("RegSetValueExA", &RegSetValueExA));
  m_hooks.push_back(CountCalls<2>("RegCreateKeyExW", &RegCreateKeyExW));
  m_hooks.push_back(CountCalls<3>("RegCreateKeyExA", &RegCreateKeyExA));
  m_hooks.push_back(CountCalls<4>("RegCreateKeyW", &RegCreateKeyW));
  m_hooks.push_back(CountCalls<5>("RegSetValueW", &RegSetValueW));
  m_hooks.push_back(CountCalls<6>("RegDeleteValueW", &RegDeleteValueW));
  m_hooks.push_back(CountCalls<7>("RegDeleteKeyW", &RegDeleteKeyW));
  m_hooks.push_back(CountCalls<8>("RegDeleteTreeW", &RegDeleteTreeW));
  m_hooks.push_back(CountCalls<9>("RegSetKeyValueW", &RegSetKeyValueW));
}

RegistryWriteCounter::~RegistryWriteCounter() = default;

int RegistryWriteCounter::Writes() const { return static_cast<int>(g_registry_writes); }

std::vector<std::string> SettingsSnapshot() {
  std::vector<std::string> lines;
  const std::pair<HKEY, const char*> roots[] = {{HKEY_LOCAL_MACHINE, "HKLM"}, {HKEY_CURRENT_USER, "HKCU"}};
  for (const auto& [root, root_name] : roots) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, L"SOFTWARE\\Corvane\\Kestrel", 0, KEY_READ, &key) != ERROR_SUCCESS) {
      lines.push_back(std::string(root_name) + " (no key)");
      continue;
    }
    for (DWORD i = 0;; ++i) {
      char name[256];
      BYTE data[1024];
      DWORD name_chars = sizeof(name), type = 0, bytes = sizeof(data);
      if (RegEnumValueA(key, i, name, &name_chars, nullptr, &type, data, &bytes) != ERROR_SUCCESS) break;
      std::string line = std::string(root_name) + "\\" + name + "=" + std::to_string(type) + ":";
      for (DWORD b = 0; b < bytes; ++b) line += std::to_string(data[b]) + ",";
      lines.push_back(line);
    }
    RegCloseKey(key);
  }
  return lines;
}

}  // namespace kestrel::test

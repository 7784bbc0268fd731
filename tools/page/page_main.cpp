// kestrel-page: the filter's property page for a movie, in a real property
// frame (OleCreatePropertyFrame).
//   kestrel-page [FILE] [--shot OUT.png]
// Without FILE the filter has nothing loaded. With --shot, once the page is
// on screen the frame's part of the screen is saved into OUT.png, every
// control is read back through Win32 and printed as JSON
// ({"controls": {id: text}, "quality": index, "fieldmode": index,
// "disabled": [id ...], "tags": [[name, value] ...]}) and the frame is closed.
// Without --shot the frame stays until the user closes it. A file that does
// not load gets one line saying why.
// Exit status: 0 done, 1 the filter, the file, the page or the shot failed,
// 2 usage.
#include <windows.h>

#include <dshow.h>
#include <olectl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/play_reason.h"
#include "page/page_reader.h"
#include "page/screen_shot.h"
#include "play/play_graph.h"

namespace {

using kestrel::ComPtr;
using kestrel::play::HResultName;

// The page is looked for every tick; once found, it is left a few ticks to
// be painted and reach the display before the shot.
constexpr UINT kTickMs = 100;
constexpr int kSettleTicks = 5;
constexpr int kGiveUpTicks = 300;

struct Shooter {
  std::wstring out;
  DWORD thread = 0;
  UINT_PTR timer = 0;
  int ticks = 0;
  int settled = 0;
  HWND frame = nullptr;
  HWND page = nullptr;
  bool done = false;
  HRESULT shot = E_PENDING;
  kestrel::page::PageControls controls;
};
Shooter* g_shooter = nullptr;

BOOL CALLBACK FindFrame(HWND hwnd, LPARAM param) {
  auto* shooter = reinterpret_cast<Shooter*>(param);
  HWND page = IsWindowVisible(hwnd) ? kestrel::page::FindPageWindow(hwnd) : nullptr;
  if (!page) return TRUE;
  shooter->frame = hwnd;
  shooter->page = page;
  return FALSE;
}

void Finish(Shooter& s) {
  s.done = true;
  KillTimer(nullptr, s.timer);
  if (s.frame) PostMessageW(s.frame, WM_CLOSE, 0, 0);
}

// Runs inside the frame's modal loop, on its thread.
void CALLBACK OnTick(HWND, UINT, UINT_PTR, DWORD) {
  Shooter& s = *g_shooter;
  if (s.done) return;
  if (++s.ticks > kGiveUpTicks) {
    fprintf(stderr, "kestrel-page: the page did not appear\n");
    Finish(s);
    return;
  }
  if (!s.page) {
    EnumThreadWindows(s.thread, FindFrame, reinterpret_cast<LPARAM>(&s));
    return;
  }
  if (++s.settled < kSettleTicks) return;
  RECT area;
  GetWindowRect(s.frame, &area);
  RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  IntersectRect(&area, &area, &screen);
  s.shot = kestrel::page::SaveScreenPng(area, s.out.c_str());
  s.controls = kestrel::page::ReadPageControls(s.page);
  Finish(s);
}

// Until the module is registered its page class is made known to COM for
// this process only, so that the frame can create the page.
HRESULT ProvidePageClasses(const CAUUID& pages, std::vector<DWORD>* cookies) {
  for (ULONG i = 0; i < pages.cElems; ++i) {
    ComPtr<IClassFactory> factory;
    if (SUCCEEDED(CoGetClassObject(pages.pElems[i], CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                   factory.ReleaseAndGetVoidAddress())))
      continue;
    HRESULT hr = kestrel::play::GetKestrelClassObject(pages.pElems[i], factory.ReleaseAndGetAddressOf());
    if (FAILED(hr)) return hr;
    DWORD cookie = 0;
    hr = CoRegisterClassObject(pages.pElems[i], factory.Get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    if (FAILED(hr)) return hr;
    cookies->push_back(cookie);
  }
  return S_OK;
}

int Fail(const char* what, HRESULT hr) {
  fprintf(stderr, "kestrel-page: %s failed: %s\n", what, HResultName(hr).c_str());
  return 1;
}

int Run(const std::wstring& file, const std::wstring& shot) {
  ComPtr<IBaseFilter> filter;
  HRESULT hr = kestrel::play::CreateKestrelFilter(filter.ReleaseAndGetAddressOf());
  if (FAILED(hr)) return Fail("creating the filter", hr);
  if (!file.empty()) {
    ComPtr<IFileSourceFilter> source;
    hr = filter->QueryInterface(IID_IFileSourceFilter, source.ReleaseAndGetVoidAddress());
    if (SUCCEEDED(hr)) hr = source->Load(file.c_str(), nullptr);
    if (FAILED(hr)) {
      kestrel::MovieDiagnosis diagnosis;
      if (!kestrel::tools::DiagnoseMovieFile(file, &diagnosis)) return Fail("loading the file", hr);
      kestrel::tools::PrintReason("kestrel-page", kestrel::tools::LoadFailure(diagnosis, true));
      return 1;
    }
  }
  ComPtr<ISpecifyPropertyPages> specify;
  hr = filter->QueryInterface(IID_ISpecifyPropertyPages, specify.ReleaseAndGetVoidAddress());
  CAUUID pages = {};
  if (SUCCEEDED(hr)) hr = specify->GetPages(&pages);
  if (FAILED(hr)) return Fail("asking for the pages", hr);

  std::vector<DWORD> cookies;
  hr = ProvidePageClasses(pages, &cookies);
  Shooter shooter;
  if (SUCCEEDED(hr)) {
    if (!shot.empty()) {
      shooter.out = shot;
      shooter.thread = GetCurrentThreadId();
      shooter.timer = SetTimer(nullptr, 0, kTickMs, OnTick);
      g_shooter = &shooter;
    }
    IUnknown* object = filter.Get();
    hr = OleCreatePropertyFrame(nullptr, 0, 0, L"Corvane Kestrel", 1, &object, pages.cElems, pages.pElems,
                                LOCALE_USER_DEFAULT, 0, nullptr);
    if (shooter.timer) KillTimer(nullptr, shooter.timer);
    g_shooter = nullptr;
  }
  for (DWORD cookie : cookies) CoRevokeClassObject(cookie);
  CoTaskMemFree(pages.pElems);
  if (FAILED(hr)) return Fail("showing the property frame", hr);
  if (shot.empty()) return 0;
  if (!shooter.page) return 1;
  if (FAILED(shooter.shot)) return Fail("saving the screenshot", shooter.shot);
  printf("%s\n", kestrel::page::PageControlsJson(shooter.controls).c_str());
  return 0;
}

int Usage() {
  fprintf(stderr, "usage: kestrel-page [FILE] [--shot OUT.png]\n");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring file, shot;
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i];
    if (a == L"--shot") {
      if (i + 1 >= argc) return Usage();
      shot = argv[++i];
    } else if (a.empty() || a[0] == L'-' || !file.empty()) {
      return Usage();
    } else {
      file = a;
    }
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  int status = Run(file, shot);
  CoUninitialize();
  return status;
}

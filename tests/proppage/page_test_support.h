// What the page's tests share: the page from kestrel.ax's class factory, a
// stand-in filter with exact IQTInfo and IQTControl answers, a page site, a
// visible host window, and hooks on the module's imports (the shell's open
// and the registry's writes) that record calls instead of making them.
#ifndef KESTREL_TESTS_PROPPAGE_PAGE_TEST_SUPPORT_H
#define KESTREL_TESTS_PROPPAGE_PAGE_TEST_SUPPORT_H

#include <windows.h>

#include <ocidl.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "framework/com_ptr.h"
#include "framework/framework_test_util.h"
#include "kestrel_idl.h"
#include "page/page_reader.h"

namespace kestrel::test {

// A new page from kestrel.ax's class factory.
ComPtr<IPropertyPage> CreatePage();
// kestrel.ax as loaded by CreatePage.
HMODULE KestrelModule();

// Handles messages until done() holds or timeout_ms has passed; the answer
// is done()'s last.
bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms = 5000);
// Handles the messages that are waiting.
void PumpPending();

// The movie a StubFilter describes; every answer can be set.
struct StubMovie {
  HRESULT video_hr = S_OK;
  std::wstring video_codec = L"Photo - JPEG";
  ULONG width = 320, height = 240, depth = 24;
  double frame_rate = 25.0;
  ULONG frame_count = 250;
  double duration = 10.0;

  HRESULT audio_hr = S_OK;
  std::wstring audio_codec = L"AAC";
  std::wstring layout = L"Stereo (L R)";
  ULONG sample_rate = 48000;

  HRESULT user_data_hr = S_OK;
  std::vector<std::pair<std::wstring, std::wstring>> tags;  // the catalogue, name and value

  HRESULT quality_hr = S_OK;
  QT_VIDEO_QUALITY quality = Video_NormalQuality;
  HRESULT fieldmode_hr = S_OK;
  QT_VIDEO_FIELDMODE fieldmode = Video_FieldMode_BothFields;
};

// A filter stand-in answering IQTInfo and IQTControl from a StubMovie and
// recording the settings it is given. Either interface can be withheld.
class StubFilter : public IQTInfo, public IQTControl {
 public:
  explicit StubFilter(StubMovie movie = {}) : movie(std::move(movie)) {}

  StubMovie movie;
  bool offer_info = true, offer_control = true;
  std::vector<int> quality_sets, fieldmode_sets;
  int calls = 0;  // every method but IUnknown's

  IUnknown* Unknown() { return static_cast<IQTInfo*>(this); }
  ULONG References() const { return static_cast<ULONG>(m_cRef); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  // IQTControl
  HRESULT STDMETHODCALLTYPE SetVideoQuality(QT_VIDEO_QUALITY eQuality) override;
  HRESULT STDMETHODCALLTYPE GetVideoQuality(QT_VIDEO_QUALITY* peQuality) override;
  HRESULT STDMETHODCALLTYPE SetVideoFieldMode(QT_VIDEO_FIELDMODE eFieldMode) override;
  HRESULT STDMETHODCALLTYPE GetVideoFieldMode(QT_VIDEO_FIELDMODE* peFieldMode) override;
  // IQTInfo
  HRESULT STDMETHODCALLTYPE GetVideoInfo(BSTR* pbstrCodec, ULONG* pnWidth, ULONG* pnHeight, ULONG* pnDepth,
                                         double* pdFrameRate, ULONG* pdwFrameCount, double* pdDuration) override;
  HRESULT STDMETHODCALLTYPE GetAudioInfo(BSTR* pbstrCodec, BSTR* pbstrLayout, ULONG* pnSampleRate) override;
  HRESULT STDMETHODCALLTYPE GetUserDataCount(ULONG* pdwCount) override;
  HRESULT STDMETHODCALLTYPE GetUserDataName(ULONG dwIndex, BSTR* bstrName) override;
  HRESULT STDMETHODCALLTYPE GetUserDataValue(ULONG dwIndex, BSTR* bstrValue) override;
  HRESULT STDMETHODCALLTYPE GetTimeCode(LONG* pbDropFrame, BYTE* pHours, BYTE* pMinutes, BYTE* pSeconds,
                                        BYTE* pFrames) override;

 private:
  volatile LONG m_cRef = 1;  // the test's own
};

// A page site that counts its references and status changes.
class StubPageSite : public IPropertyPageSite {
 public:
  ULONG References() const { return static_cast<ULONG>(m_cRef); }
  std::vector<DWORD> status_changes;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE OnStatusChange(DWORD dwFlags) override;
  HRESULT STDMETHODCALLTYPE GetLocaleID(LCID* pLocaleID) override;
  HRESULT STDMETHODCALLTYPE GetPageContainer(IUnknown** ppUnk) override;
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* pMsg) override;

 private:
  volatile LONG m_cRef = 1;
};

// The screen's pixels an inch (Wine's LogPixels): 96 at 100 %.
int ScreenDpi();

// A visible top-level window over the whole screen, the pages' parent,
// made once for the process (a top-level window takes Wine's X11 driver
// two seconds to destroy).
HWND PageHost();

// A page with a site and an object, activated in a host window: what a
// property frame does, without the frame.
class OpenPage {
 public:
  // Asserts (through gtest) that every step succeeds.
  explicit OpenPage(IUnknown* object);
  ~OpenPage();
  OpenPage(const OpenPage&) = delete;
  OpenPage& operator=(const OpenPage&) = delete;

  IPropertyPage* Page() const { return m_page.Get(); }
  HWND Window() const { return m_window; }
  HWND Control(int id) const { return GetDlgItem(m_window, id); }
  page::PageControls Read() const { return page::ReadPageControls(m_window); }
  // Deactivates, takes the object and the site back, lets go of the page.
  void Close();

  StubPageSite site;

 private:
  ComPtr<IPropertyPage> m_page;
  HWND m_window = nullptr;
};

// One import of kestrel.ax replaced for the hook's life.
class ImportHook {
 public:
  ImportHook(const char* dll, const char* name, void* replacement);
  ~ImportHook();
  ImportHook(const ImportHook&) = delete;
  ImportHook& operator=(const ImportHook&) = delete;

  // False when the module does not import the function.
  bool Installed() const { return m_slot != nullptr; }
  void* Original() const { return m_original; }

 private:
  void** m_slot = nullptr;
  void* m_original = nullptr;
};

// A call of ShellExecuteW made by the module.
struct ShellCall {
  HWND owner;
  std::wstring verb, file;
  bool has_parameters, has_directory;
  INT show;
};

// Records the module's ShellExecuteW calls and opens nothing.
class ShellRecorder {
 public:
  ShellRecorder();
  ~ShellRecorder();
  const std::vector<ShellCall>& Calls() const;
  bool Installed() const { return m_hook.Installed(); }

 private:
  ImportHook m_hook;
};

// Counts the module's calls of the registry functions that write, passing
// each on.
class RegistryWriteCounter {
 public:
  RegistryWriteCounter();
  ~RegistryWriteCounter();
  int Writes() const;

 private:
  std::vector<std::unique_ptr<ImportHook>> m_hooks;
};

// Every value under HKLM and HKCU "SOFTWARE\Corvane\Kestrel" as
// "ROOT\name=type:bytes" lines, for before-and-after comparisons.
std::vector<std::string> SettingsSnapshot();

}  // namespace kestrel::test

#endif

// Programs that just open a movie, with Kestrel registered as it is
// installed: Wine's filter graph rendering a file with its default
// renderers, Wine's MCI (which plays through RenderFile) and Wine's
// multimedia streams (amstream). Each plays a fixture to its end with
// Kestrel as the source. On a display of their own (Xvfb).
#include <windows.h>

#include <amstream.h>
#include <dshow.h>
#include <gtest/gtest.h>
#include <shlobj.h>

#include <cmath>
#include <cstdlib>
#include <regex>
#include <string>

#include "framework/com_ptr.h"
#include "framework/framework_test_util.h"
#include "play/play_graph.h"
#include "support/test_env.h"

namespace kestrel::test {
namespace {

constexpr CLSID kClsidKestrel = {0xe6e6e32e, 0xbb36, 0x4aaa, {0xbb, 0xc3, 0xd7, 0x16, 0xe7, 0x75, 0x57, 0xcc}};
constexpr char kMovie[] = "h264_bframes.mov";  // 2 s: 50 pictures and AAC sound

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// The module the clients are to load: KESTREL_INSTALLED names an installed
// one (the program then registers nothing); otherwise kestrel.ax of the
// build, registered for the program's run as an installation registers it.
std::wstring InstalledModule() {
  const char* installed = getenv("KESTREL_INSTALLED");
  return installed ? Wide(installed) : std::wstring();
}

class Registered : public testing::Environment {
 public:
  void SetUp() override {
    if (!InstalledModule().empty()) return;
    const char* bin = getenv("KESTREL_BIN");
    std::wstring path = Wide(WindowsPathOf(bin ? bin : ".") + "\\kestrel.ax");
    m_module = LoadLibraryW(path.c_str());
    ASSERT_NE(m_module, nullptr);
    ASSERT_HR(S_OK, Call("DllRegisterServer"));
  }
  void TearDown() override {
    if (!m_module) return;
    EXPECT_HR(S_OK, Call("DllUnregisterServer"));
    // The graphs' own references are gone; ours goes last.
    FreeLibrary(m_module);
  }

 private:
  HRESULT Call(const char* name) {
    auto entry = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(GetProcAddress(m_module, name)));
    return entry ? entry() : E_FAIL;
  }
  HMODULE m_module = nullptr;
};

// The filter's log, where each new filter instance starts afresh.
std::string KestrelLog() {
  char folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, 0, folder))) return {};
  return ReadFileBytes(std::string(folder) + "\\KestrelFilter.log");
}
void ForgetKestrelLog() {
  char folder[MAX_PATH] = {};
  if (SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, 0, folder)))
    DeleteFileA((std::string(folder) + "\\KestrelFilter.log").c_str());
}

// Whether the filter's log says it loaded the fixture. Windows paths are
// compared without case: Wine's MCI lower-cases the command it parses, the
// file name with it.
bool KestrelLoaded(const std::string& fixture) {
  auto lower = [](std::string text) {
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
  };
  return lower(KestrelLog()).find(lower("Loading file: " + FixturePath(fixture))) != std::string::npos;
}

// ffprobe's duration of a fixture in whole milliseconds.
long ProbeDurationMs(const std::string& fixture) {
  std::string json = ReadFileBytes(FixturePath(fixture + ".probe.json"));
  std::smatch match;
  std::regex format("\"format\"[\\s\\S]*\"duration\": \"([0-9.]+)\"");
  if (!std::regex_search(json, match, format)) return -1;
  return std::lround(std::stod(match[1].str()) * 1000.0);
}

// The filter's pin of the given name ("Video", "Audio"); FindPin takes a
// pin's identifier, which for Kestrel is its position.
ComPtr<IPin> PinNamed(IBaseFilter* filter, const wchar_t* name) {
  ComPtr<IEnumPins> pins;
  ComPtr<IPin> pin;
  if (FAILED(filter->EnumPins(pins.ReleaseAndGetAddressOf()))) return pin;
  while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    PIN_INFO info = {};
    if (FAILED(pin->QueryPinInfo(&info))) continue;
    if (info.pFilter) info.pFilter->Release();
    if (wcscmp(info.achName, name) == 0) return pin;
  }
  return ComPtr<IPin>();
}

std::string FilterName(IBaseFilter* filter) {
  FILTER_INFO info = {};
  if (FAILED(filter->QueryFilterInfo(&info))) return "?";
  if (info.pGraph) info.pGraph->Release();
  std::wstring name = info.achName;
  return std::string(name.begin(), name.end());
}

TEST(Clients, RenderFileWithTheDefaultRenderersPlaysToTheEnd) {
  ComPtr<IGraphBuilder> graph;
  ASSERT_HR(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                   graph.ReleaseAndGetVoidAddress()));
  HRESULT rendered = graph->RenderFile(Wide(FixturePath(kMovie)).c_str(), nullptr);
  ASSERT_TRUE(SUCCEEDED(rendered)) << play::HResultName(rendered);

  // The source is Kestrel; what the graph builder put after it.
  ComPtr<IBaseFilter> source;
  ComPtr<IEnumFilters> filters;
  ASSERT_HR(S_OK, graph->EnumFilters(filters.ReleaseAndGetAddressOf()));
  ComPtr<IBaseFilter> filter;
  std::string chain;
  while (filters->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    CLSID clsid = {};
    filter->GetClassID(&clsid);
    if (clsid == kClsidKestrel) source = filter;
    chain += (chain.empty() ? "" : ", ") + FilterName(filter.Get());
  }
  ASSERT_TRUE(source) << chain;
  printf("RenderFile (%s): %s\n", play::HResultName(rendered).c_str(), chain.c_str());
  // The graph builder loaded the registered server.
  wchar_t module[MAX_PATH] = {};
  GetModuleFileNameW(GetModuleHandleW(L"kestrel.ax"), module, MAX_PATH);
  printf("Kestrel from %ls\n", module);
  if (!InstalledModule().empty()) {
    EXPECT_EQ(_wcsicmp(module, InstalledModule().c_str()), 0);
  }

  // Where no sound device opens, the sound goes to a Null Renderer.
  ComPtr<IPin> audio = PinNamed(source.Get(), L"Audio");
  ASSERT_TRUE(audio);
  ComPtr<IPin> peer;
  if (audio->ConnectedTo(peer.ReleaseAndGetAddressOf()) != S_OK) {
    ComPtr<IBaseFilter> null;
    ASSERT_HR(S_OK, CoCreateInstance(play::CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                     null.ReleaseAndGetVoidAddress()));
    ASSERT_HR(S_OK, graph->AddFilter(null.Get(), L"Null Renderer"));
    ComPtr<IEnumPins> pins;
    ComPtr<IPin> input;
    ASSERT_HR(S_OK, null->EnumPins(pins.ReleaseAndGetAddressOf()));
    ASSERT_HR(S_OK, pins->Next(1, input.ReleaseAndGetAddressOf(), nullptr));
    ASSERT_HR(S_OK, graph->Connect(audio.Get(), input.Get()));
    printf("no sound device: the sound goes to a Null Renderer\n");
  }
  ComPtr<IPin> video = PinNamed(source.Get(), L"Video");
  ASSERT_TRUE(video);
  ASSERT_HR(S_OK, video->ConnectedTo(peer.ReleaseAndGetAddressOf()));

  ComPtr<IMediaControl> control;
  ComPtr<IMediaEvent> events;
  ASSERT_HR(S_OK, graph->QueryInterface(IID_IMediaControl, control.ReleaseAndGetVoidAddress()));
  ASSERT_HR(S_OK, graph->QueryInterface(IID_IMediaEvent, events.ReleaseAndGetVoidAddress()));
  DWORD started = GetTickCount();
  ASSERT_TRUE(SUCCEEDED(control->Run()));
  long code = 0;
  EXPECT_HR(S_OK, events->WaitForCompletion(30000, &code));
  EXPECT_EQ(code, EC_COMPLETE);
  DWORD elapsed = GetTickCount() - started;
  printf("played to EC_COMPLETE in %lu ms on the graph's clock\n", static_cast<unsigned long>(elapsed));
  EXPECT_GE(elapsed, 1800u);  // two seconds of movie at normal speed
  EXPECT_HR(S_OK, control->Stop());
}

std::string Mci(const std::wstring& command, MCIERROR* error, HWND callback = nullptr) {
  wchar_t answer[256] = {};
  *error = mciSendStringW(command.c_str(), answer, 256, callback);
  std::wstring text = answer;
  return std::string(text.begin(), text.end());
}

// A message-only window of the test's thread that MCI notifies
// (MM_MCINOTIFY) when a command given "notify" ends.
class NotifyWindow {
 public:
  NotifyWindow() : m_hwnd(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr)) {}
  ~NotifyWindow() {
    if (m_hwnd) DestroyWindow(m_hwnd);
  }
  NotifyWindow(const NotifyWindow&) = delete;
  NotifyWindow& operator=(const NotifyWindow&) = delete;
  HWND Get() const { return m_hwnd; }

  // The next notification's code (MCI_NOTIFY_SUCCESSFUL ...), pumping the
  // thread's messages; 0 when none comes within timeout_ms.
  WPARAM Wait(UINT timeout_ms) {
    UINT_PTR timer = SetTimer(m_hwnd, 1, timeout_ms, nullptr);
    WPARAM code = 0;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (msg.hwnd == m_hwnd && msg.message == MM_MCINOTIFY) {
        code = msg.wParam;
        break;
      }
      if (msg.hwnd == m_hwnd && msg.message == WM_TIMER) break;
      DispatchMessageW(&msg);
    }
    KillTimer(m_hwnd, timer);
    return code;
  }

 private:
  HWND m_hwnd;
};

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// Wine's MCI driver for movies (mciqtz32) plays through RenderFile. What it
// does not do, as of Wine 8: "play ... wait" starts the graph and returns
// without waiting (the end is told by "notify"), and "seek ... to" a
// position answers MCIERR_INTERNAL ("MCI_TO not implemented yet"); "seek
// ... to start" and "play ... from" position the graph.
TEST(Clients, MciOpensAndPlaysAMovieThroughKestrel) {
  ForgetKestrelLog();
  NotifyWindow window;
  ASSERT_TRUE(window.Get());
  std::wstring path = Wide(FixturePath(kMovie));
  const long duration = ProbeDurationMs(kMovie);
  MCIERROR error = 0;
  Mci(L"open \"" + path + L"\" type mpegvideo alias movie", &error);
  ASSERT_EQ(error, 0u);
  // The filter logs the file it loads: MCI's graph holds Kestrel.
  EXPECT_TRUE(KestrelLoaded(kMovie)) << KestrelLog();

  Mci(L"set movie time format milliseconds", &error);
  EXPECT_EQ(error, 0u);
  std::string length = Mci(L"status movie length", &error);
  EXPECT_EQ(error, 0u);
  printf("status movie length: %s ms (ffprobe %ld ms)\n", length.c_str(), duration);
  EXPECT_EQ(atol(length.c_str()), duration);

  // To the end: the notification comes once the graph has played it all.
  DWORD started = GetTickCount();
  Mci(L"play movie wait notify", &error, window.Get());
  EXPECT_EQ(error, 0u);
  DWORD returned = GetTickCount() - started;
  EXPECT_EQ(window.Wait(30000), static_cast<WPARAM>(MCI_NOTIFY_SUCCESSFUL));
  DWORD ended = GetTickCount() - started;
  printf("play movie wait notify: returned after %lu ms, notified the end after %lu ms\n",
         static_cast<unsigned long>(returned), static_cast<unsigned long>(ended));
  if (!UnderWine()) {
    EXPECT_GE(returned, static_cast<DWORD>(duration - 200));
  }
  EXPECT_GE(ended, static_cast<DWORD>(duration - 200));
  EXPECT_LT(ended, static_cast<DWORD>(duration + 3000));
  std::string position = Mci(L"status movie position", &error);
  EXPECT_EQ(error, 0u);
  printf("status movie position at the end: %s ms\n", position.c_str());
  // Wine's driver notifies the end, then stops the graph; Wine's graph
  // keeps the position itself: the end until it is stopped, then 0.
  if (UnderWine()) {
    EXPECT_TRUE(atol(position.c_str()) == duration || atol(position.c_str()) == 0) << position;
  } else {
    EXPECT_NEAR(atol(position.c_str()), duration, 50) << position;
  }

  Mci(L"seek movie to 500", &error);
  printf("seek movie to 500: MCI error %lu\n", static_cast<unsigned long>(error));
  if (UnderWine()) {
    EXPECT_EQ(error, static_cast<MCIERROR>(MCIERR_INTERNAL));
  } else {
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(atol(Mci(L"status movie position", &error).c_str()), 500);
  }
  Mci(L"seek movie to start", &error);
  EXPECT_EQ(error, 0u);
  position = Mci(L"status movie position", &error);
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(atol(position.c_str()), 0) << position;

  // From half a second in to the end.
  started = GetTickCount();
  Mci(L"play movie from 500 notify", &error, window.Get());
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(window.Wait(30000), static_cast<WPARAM>(MCI_NOTIFY_SUCCESSFUL));
  ended = GetTickCount() - started;
  printf("play movie from 500 notify: the end after %lu ms\n", static_cast<unsigned long>(ended));
  EXPECT_GE(ended, static_cast<DWORD>(duration - 500 - 200));
  EXPECT_LT(ended, static_cast<DWORD>(duration - 500 + 3000));
  EXPECT_TRUE(KestrelLoaded(kMovie)) << KestrelLog();

  Mci(L"close movie", &error);
  EXPECT_EQ(error, 0u);
}

TEST(Clients, MultimediaStreamReadsThePicturesThroughKestrel) {
  ForgetKestrelLog();
  ComPtr<IAMMultiMediaStream> stream;
  ASSERT_HR(S_OK, CoCreateInstance(CLSID_AMMultiMediaStream, nullptr, CLSCTX_INPROC_SERVER, IID_IAMMultiMediaStream,
                                   stream.ReleaseAndGetVoidAddress()));
  ASSERT_HR(S_OK, stream->Initialize(STREAMTYPE_READ, 0, nullptr));
  ASSERT_HR(S_OK, stream->AddMediaStream(nullptr, &MSPID_PrimaryVideo, 0, nullptr));
  // The sound's default renderer is DirectSound's, which needs a sound
  // device; where none opens, the stream is read without sound.
  HRESULT sound = stream->AddMediaStream(nullptr, &MSPID_PrimaryAudio, AMMSF_ADDDEFAULTRENDERER, nullptr);
  ComPtr<IBaseFilter> dsound;
  HRESULT device = CoCreateInstance(CLSID_DSoundRender, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                    dsound.ReleaseAndGetVoidAddress());
  dsound.Reset();
  printf("AddMediaStream(MSPID_PrimaryAudio, AMMSF_ADDDEFAULTRENDERER): %s (the DirectSound renderer: %s)\n",
         play::HResultName(sound).c_str(), play::HResultName(device).c_str());
  if (SUCCEEDED(device)) {
    EXPECT_HR(S_OK, sound);
  } else {
    EXPECT_HR(device, sound);
  }
  HRESULT opened = stream->OpenFile(Wide(FixturePath(kMovie)).c_str(), 0);
  printf("IAMMultiMediaStream::OpenFile: %s\n", play::HResultName(opened).c_str());
  ASSERT_HR(S_OK, opened);
  EXPECT_TRUE(KestrelLoaded(kMovie)) << KestrelLog();

  // The source is Kestrel, its video connected to the stream's pictures.
  // Wine's OpenFile renders only the source's first output pin.
  ComPtr<IGraphBuilder> graph;
  ASSERT_HR(S_OK, stream->GetFilterGraph(graph.ReleaseAndGetAddressOf()));
  ComPtr<IBaseFilter> source;
  ASSERT_HR(S_OK, graph->FindFilterByName(L"Source", source.ReleaseAndGetAddressOf()));
  CLSID clsid = {};
  EXPECT_HR(S_OK, source->GetClassID(&clsid));
  EXPECT_TRUE(clsid == kClsidKestrel);
  ComPtr<IPin> pin = PinNamed(source.Get(), L"Video"), peer;
  ASSERT_TRUE(pin);
  EXPECT_HR(S_OK, pin->ConnectedTo(peer.ReleaseAndGetAddressOf()));
  pin = PinNamed(source.Get(), L"Audio");
  ASSERT_TRUE(pin);
  HRESULT sound_connected = pin->ConnectedTo(peer.ReleaseAndGetAddressOf());
  printf("Kestrel's Audio pin after OpenFile: %s\n", sound_connected == S_OK ? "connected" : "not connected");
  if (UnderWine()) {
    EXPECT_HR(VFW_E_NOT_CONNECTED, sound_connected);
  }

  ComPtr<IMediaStream> media;
  ASSERT_HR(S_OK, stream->GetMediaStream(MSPID_PrimaryVideo, media.ReleaseAndGetAddressOf()));
  ComPtr<IDirectDrawMediaStream> video;
  ASSERT_HR(S_OK, media->QueryInterface(IID_IDirectDrawMediaStream, video.ReleaseAndGetVoidAddress()));
  ComPtr<IDirectDrawStreamSample> sample;
  ASSERT_HR(S_OK, video->CreateSample(nullptr, nullptr, 0, sample.ReleaseAndGetAddressOf()));
  ASSERT_HR(S_OK, stream->SetState(STREAMSTATE_RUN));
  int pictures = 0;
  HRESULT hr = S_OK;
  STREAM_TIME last = -1;
  for (; pictures < 1000; ++pictures) {
    hr = sample->Update(0, nullptr, nullptr, 0);
    if (hr != S_OK) break;
    STREAM_TIME start = 0, stop = 0, current = 0;
    EXPECT_HR(S_OK, sample->GetSampleTimes(&start, &stop, &current));
    EXPECT_GT(start, last);
    last = start;
  }
  printf("IDirectDrawStreamSample::Update: %d pictures, then %s\n", pictures, play::HResultName(hr).c_str());
  EXPECT_EQ(hr, MS_S_ENDOFSTREAM);
  EXPECT_EQ(pictures, 50);
  EXPECT_HR(S_OK, stream->SetState(STREAMSTATE_STOP));
}

}  // namespace
}  // namespace kestrel::test

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  testing::AddGlobalTestEnvironment(new kestrel::test::Registered);
  int result = RUN_ALL_TESTS();
  CoUninitialize();
  return result;
}

// Plays a movie through a filter graph and prints, as one JSON object, what
// arrived and how long it took. The source is Kestrel's filter, or Wine's
// own GStreamer parser behind the File Source (Async); each output pin goes
// into a Sample Grabber and a Null Renderer.
//
// Without --seek the graph has no clock and runs as fast as it can: the
// time is from Run to EC_COMPLETE. With --seek the graph runs on its clock
// and each position is set through the graph's IMediaSeeking; the time is
// from SetPositions to the first sample at or after the position arriving
// at the grabber.
//   kestrel-bench-graph [--source kestrel|wine] [--format UYVY|YUY2|RGB32|ARGB32]
//                       [--quality N] [--seek SECONDS,SECONDS,...] FILE
// A source that cannot play the file answers {"error": reason}.
#include <windows.h>

#include <dshow.h>
#include <evcode.h>
#include <uuids.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/json_writer.h"
#include "kestrel_idl.h"
#include "play/play_graph.h"

namespace {

using kestrel::ComPtr;
using namespace kestrel::play;
using namespace kestrel::tools;

// Wine's GStreamer parser ("decodebin"), winegstreamer.dll.
constexpr CLSID kClsidDecodebinParser = {0xf9d8d64e, 0xa144, 0x47dc, {0x8e, 0xe0, 0xf5, 0x34, 0x98, 0x37, 0x2c, 0x29}};

struct Options {
  std::wstring file;
  bool wine = false;
  std::string format = "UYVY";
  int quality = -1;  // < 0: the registry's (the filter's default)
  std::vector<double> seeks;
};

int Usage() {
  fprintf(stderr,
          "usage: kestrel-bench-graph [--source kestrel|wine] [--format UYVY|YUY2|RGB32|ARGB32] [--quality N]\n"
          "                           [--seek SECONDS,SECONDS,...] FILE\n");
  return 2;
}

bool ParseOptions(int argc, wchar_t** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i];
    std::string value = i + 1 < argc ? Utf8(argv[i + 1]) : std::string();
    if (a == L"--source" && i + 1 < argc) {
      if (value != "kestrel" && value != "wine") return false;
      o->wine = value == "wine";
      ++i;
    } else if (a == L"--format" && i + 1 < argc) {
      if (!VideoSubtypeByName(value)) return false;
      o->format = value;
      ++i;
    } else if (a == L"--quality" && i + 1 < argc) {
      o->quality = atoi(value.c_str());
      ++i;
    } else if (a == L"--seek" && i + 1 < argc) {
      for (size_t at = 0; at < value.size();) {
        char* end = nullptr;
        double s = strtod(value.c_str() + at, &end);
        if (end == value.c_str() + at || !std::isfinite(s) || s < 0) return false;
        o->seeks.push_back(s);
        at = static_cast<size_t>(end - value.c_str());
        if (at < value.size() && value[at] != ',') return false;
        if (at < value.size()) ++at;
      }
      ++i;
    } else if (!a.empty() && a[0] != L'-' && o->file.empty()) {
      o->file = a;
    } else {
      return false;
    }
  }
  return !o->file.empty();
}

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The major type of a pin's first media type.
GUID MajorTypeOf(IPin* pin) {
  GUID major = GUID_NULL;
  ComPtr<IEnumMediaTypes> types;
  AM_MEDIA_TYPE* mt = nullptr;
  if (SUCCEEDED(pin->EnumMediaTypes(types.ReleaseAndGetAddressOf())) && types->Next(1, &mt, nullptr) == S_OK && mt) {
    major = mt->majortype;
    if (mt->pbFormat) CoTaskMemFree(mt->pbFormat);
    if (mt->pUnk) mt->pUnk->Release();
    CoTaskMemFree(mt);
  }
  return major;
}

// Notes when the first sample of a new position arrives: the first
// discontinuity after Arm (both sources mark the first sample after a seek).
class SeekWatch {
 public:
  SeekWatch() : m_event(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  ~SeekWatch() { CloseHandle(m_event); }
  void Arm() {
    m_arrived = 0;
    InterlockedExchange(&m_armed, 1);
  }
  // On the streaming thread.
  void Sample(const SampleRecord& r) {
    if (r.discontinuity && r.has_start && r.start >= 0 && InterlockedCompareExchange(&m_armed, 0, 1) == 1) {
      m_arrived = Now();
      SetEvent(m_event);
    }
  }
  HANDLE Event() const { return m_event; }
  double Arrived() const { return m_arrived; }

 private:
  HANDLE m_event;
  volatile LONG m_armed = 0;
  double m_arrived = 0;
};

class Bench {
 public:
  explicit Bench(const Options& o) : m_o(o) {}
  // Fills the report; false when the source cannot play the file.
  bool Run(JsonObject& report);

 private:
  HRESULT BuildKestrel(std::string* why);
  HRESULT BuildWine(std::string* why);
  HRESULT ConnectOutputs(std::string* why);
  bool Play(JsonObject& report);
  bool Seek(JsonObject& report);

  const Options& m_o;
  PlayGraph m_graph;
  ComPtr<IBaseFilter> m_source, m_reader;
  ComPtr<SampleRecorder> m_video, m_audio;
  PinChain* m_audioChain = nullptr;
  SeekWatch m_watch;
};

HRESULT Bench::BuildKestrel(std::string* why) {
  HRESULT hr = CreateKestrelFilter(m_source.ReleaseAndGetAddressOf());
  if (FAILED(hr)) {
    *why = "the filter cannot be created (" + HResultName(hr) + ")";
    return hr;
  }
  ComPtr<IFileSourceFilter> file;
  hr = m_source->QueryInterface(IID_IFileSourceFilter, file.ReleaseAndGetVoidAddress());
  if (SUCCEEDED(hr)) hr = file->Load(m_o.file.c_str(), nullptr);
  if (FAILED(hr)) {
    *why = "the file does not load (" + HResultName(hr) + ")";
    return hr;
  }
  if (FAILED(hr = m_graph.Create(m_source.Get()))) *why = "no filter graph (" + HResultName(hr) + ")";
  return hr;
}

HRESULT Bench::BuildWine(std::string* why) {
  HRESULT hr = CoCreateInstance(kClsidDecodebinParser, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                m_source.ReleaseAndGetVoidAddress());
  if (FAILED(hr)) {
    *why = "Wine's GStreamer parser cannot be created (" + HResultName(hr) + "; GStreamer or its plugins are missing)";
    return hr;
  }
  hr = CoCreateInstance(CLSID_AsyncReader, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                        m_reader.ReleaseAndGetVoidAddress());
  ComPtr<IFileSourceFilter> file;
  if (SUCCEEDED(hr)) hr = m_reader->QueryInterface(IID_IFileSourceFilter, file.ReleaseAndGetVoidAddress());
  if (SUCCEEDED(hr)) hr = file->Load(m_o.file.c_str(), nullptr);
  if (FAILED(hr)) {
    *why = "the File Source (Async) does not load the file (" + HResultName(hr) + ")";
    return hr;
  }
  if (FAILED(hr = m_graph.Create(m_source.Get()))) {
    *why = "no filter graph (" + HResultName(hr) + ")";
    return hr;
  }
  hr = m_graph.Graph()->AddFilter(m_reader.Get(), L"File Source");
  ComPtr<IPin> out, in;
  for (const ComPtr<IPin>& pin : m_graph.SourcePins()) {
    PIN_DIRECTION dir;
    if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == PINDIR_INPUT) in = pin;
  }
  ComPtr<IEnumPins> pins;
  if (SUCCEEDED(hr)) hr = m_reader->EnumPins(pins.ReleaseAndGetAddressOf());
  if (SUCCEEDED(hr) && pins->Next(1, out.ReleaseAndGetAddressOf(), nullptr) != S_OK) hr = E_FAIL;
  if (SUCCEEDED(hr) && !in) hr = E_FAIL;
  // The parser reads the stream here: a file it cannot demultiplex or
  // decode fails now.
  if (SUCCEEDED(hr)) hr = m_graph.Graph()->ConnectDirect(out.Get(), in.Get(), nullptr);
  if (FAILED(hr)) *why = "the parser does not take the file (" + HResultName(hr) + ")";
  return hr;
}

HRESULT Bench::ConnectOutputs(std::string* why) {
  for (const ComPtr<IPin>& pin : m_graph.SourcePins()) {
    PIN_DIRECTION dir;
    if (FAILED(pin->QueryDirection(&dir)) || dir != PINDIR_OUTPUT) continue;
    GUID major = MajorTypeOf(pin.Get());
    HRESULT hr = S_OK;
    if (major == MEDIATYPE_Video && !m_video) {
      m_video.Attach(new SampleRecorder);
      SeekWatch* watch = &m_watch;
      m_video->SetHandler([watch](const SampleRecord& r, const BYTE*, size_t) { watch->Sample(r); });
      hr = m_graph.Connect(pin.Get(), VideoSubtypeByName(m_o.format), m_video.Get());
      if (FAILED(hr)) *why = "the video pin does not connect in " + m_o.format + " (" + HResultName(hr) + ")";
    } else if (major == MEDIATYPE_Audio && !m_audio && m_o.seeks.empty()) {
      m_audio.Attach(new SampleRecorder);
      hr = m_graph.Connect(pin.Get(), nullptr, m_audio.Get(), &m_audioChain);
      if (FAILED(hr)) *why = "the audio pin does not connect (" + HResultName(hr) + ")";
    }
    if (FAILED(hr)) return hr;
  }
  if (!m_video && !m_audio) {
    *why = "no video or audio pin";
    return E_FAIL;
  }
  if (m_o.quality >= 0 && !m_o.wine) {
    ComPtr<IQTControl> control;
    HRESULT hr = m_source->QueryInterface(IID_IQTControl, control.ReleaseAndGetVoidAddress());
    if (SUCCEEDED(hr)) hr = control->SetVideoQuality(static_cast<QT_VIDEO_QUALITY>(m_o.quality));
    if (FAILED(hr)) {
      *why = "the quality cannot be set (" + HResultName(hr) + ")";
      return hr;
    }
  }
  return S_OK;
}

bool Bench::Play(JsonObject& report) {
  m_graph.RemoveClock();
  double started = Now();
  HRESULT hr = m_graph.Run(), abort_code = S_OK;
  EndResult end = SUCCEEDED(hr) ? m_graph.WaitForEnd(600000, &abort_code) : EndResult::kErrorAbort;
  double seconds = Now() - started;
  m_graph.Stop();
  if (end != EndResult::kComplete) {
    std::string why = FAILED(hr)                      ? "the graph does not run (" + HResultName(hr) + ")"
                      : end == EndResult::kErrorAbort ? "the stream was aborted (" + HResultName(abort_code) + ")"
                                                      : "no end within 600 s";
    report.Add("error", JsonString(why));
    return false;
  }
  report.Add("seconds", JsonNumber(seconds));
  report.Add("frames", JsonNumber(static_cast<int64_t>(m_video ? m_video->Count() : 0)));
  int64_t bytes = 0;
  if (m_audio)
    for (const SampleRecord& r : m_audio->Records()) bytes += r.bytes > 0 ? r.bytes : 0;
  report.Add("audio_bytes", JsonNumber(bytes));
  if (m_audioChain && m_audioChain->type.cbFormat >= sizeof(WAVEFORMATEX) - sizeof(WORD)) {
    auto* wf = reinterpret_cast<const WAVEFORMATEX*>(m_audioChain->type.pbFormat);
    report.Add("audio_seconds", JsonNumber(wf->nAvgBytesPerSec ? static_cast<double>(bytes) / wf->nAvgBytesPerSec : 0));
  }
  return true;
}

bool Bench::Seek(JsonObject& report) {
  ComPtr<IMediaSeeking> seeking;
  HRESULT hr = m_graph.Graph()->QueryInterface(IID_IMediaSeeking, seeking.ReleaseAndGetVoidAddress());
  if (SUCCEEDED(hr)) hr = m_graph.Run();
  if (FAILED(hr)) {
    report.Add("error", JsonString("the graph does not run (" + HResultName(hr) + ")"));
    return false;
  }
  Sleep(500);  // playing
  std::vector<std::string> times;
  double total = 0, worst = 0;
  for (double at : m_o.seeks) {
    LONGLONG position = static_cast<LONGLONG>(std::llround(at * 1e7));
    m_watch.Arm();
    double started = Now();
    hr = seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
    DWORD wait = SUCCEEDED(hr) ? WaitForSingleObject(m_watch.Event(), 20000) : WAIT_FAILED;
    if (wait != WAIT_OBJECT_0) {
      char why[120];
      snprintf(why, sizeof(why), "no sample after a seek to %.3f s (%s)", at,
               FAILED(hr) ? HResultName(hr).c_str() : "time-out");
      report.Add("error", JsonString(why));
      m_graph.Stop();
      return false;
    }
    double ms = (m_watch.Arrived() - started) * 1e3;
    times.push_back(JsonNumber(ms));
    total += ms;
    worst = ms > worst ? ms : worst;
    Sleep(300);  // the stream moves on
  }
  m_graph.Stop();
  std::string list = "[";
  for (size_t i = 0; i < times.size(); ++i) list += (i ? ", " : "") + times[i];
  report.Add("seek_ms", list + "]");
  report.Add("mean_ms", JsonNumber(times.empty() ? 0.0 : total / static_cast<double>(times.size())));
  report.Add("worst_ms", JsonNumber(worst));
  return true;
}

bool Bench::Run(JsonObject& report) {
  report.Add("source", JsonString(m_o.wine ? "wine" : "kestrel"));
  std::string why;
  HRESULT hr = m_o.wine ? BuildWine(&why) : BuildKestrel(&why);
  if (SUCCEEDED(hr)) hr = ConnectOutputs(&why);
  if (FAILED(hr)) {
    report.Add("error", JsonString(why));
    return false;
  }
  return m_o.seeks.empty() ? Play(report) : Seek(report);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) return Usage();
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
    fprintf(stderr, "kestrel-bench-graph: COM does not start\n");
    return 1;
  }
  JsonObject report;
  bool ok;
  {
    Bench bench(options);
    ok = bench.Run(report);
  }
  printf("%s\n", report.Text().c_str());
  CoUninitialize();
  return ok ? 0 : 1;
}

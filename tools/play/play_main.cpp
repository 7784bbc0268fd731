// kestrel-play: plays a movie through the Kestrel filter in a DirectShow
// graph, each pin into a Sample Grabber and a Null Renderer, as fast as the
// graph goes (no clock), and reports what arrived.
//   kestrel-play [--format UYVY|YUY2|RGB32|ARGB32] [--frames N] [--out DIR]
//                [--wav FILE] [--seek SECONDS] [--stop SECONDS]
//                [--seek-while-running SECONDS] [--timeout SECONDS] [--json] FILE
// Exit status: 0 the graph completed (or --frames were delivered), 1 the file
// does not load or a pin does not connect, 2 usage, 3 the stream was aborted
// or the time limit ran out.
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/json_writer.h"
#include "common/wave_file.h"
#include "play/play_graph.h"

namespace {

using kestrel::ComPtr;
using namespace kestrel::play;
using namespace kestrel::tools;

struct Options {
  std::wstring file;
  std::string format;  // empty: the pin's first
  uint64_t frames = 0;
  std::string out_dir, wav;
  double seek = -1, stop = -1, seek_while_running = -1;
  double timeout = 300;
  bool json = false;
};

std::string Ansi(const std::wstring& wide) {
  int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, out.data(), n, nullptr, nullptr);
  return out;
}

int Usage() {
  fprintf(stderr,
          "usage: kestrel-play [--format UYVY|YUY2|RGB32|ARGB32] [--frames N] [--out DIR] [--wav FILE]\n"
          "                    [--seek SECONDS] [--stop SECONDS] [--seek-while-running SECONDS]\n"
          "                    [--timeout SECONDS] [--json] FILE\n");
  return 2;
}

// Parses argv; false on a usage error.
bool ParseOptions(int argc, wchar_t** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i];
    auto value = [&](std::string* text) {
      if (i + 1 >= argc) return false;
      *text = Ansi(argv[++i]);
      return true;
    };
    auto seconds = [&](double* v) {
      std::string text;
      if (!value(&text)) return false;
      char* end = nullptr;
      *v = strtod(text.c_str(), &end);
      return end && *end == '\0' && std::isfinite(*v) && *v >= 0;
    };
    std::string text;
    if (a == L"--json") {
      o->json = true;
    } else if (a == L"--format") {
      if (!value(&o->format) || !VideoSubtypeByName(o->format)) return false;
    } else if (a == L"--frames") {
      if (!value(&text)) return false;
      char* end = nullptr;
      o->frames = strtoull(text.c_str(), &end, 10);
      if (!end || *end != '\0' || text.empty()) return false;
    } else if (a == L"--out") {
      if (!value(&o->out_dir)) return false;
    } else if (a == L"--wav") {
      if (!value(&o->wav)) return false;
    } else if (a == L"--seek") {
      if (!seconds(&o->seek)) return false;
    } else if (a == L"--stop") {
      if (!seconds(&o->stop)) return false;
    } else if (a == L"--seek-while-running") {
      if (!seconds(&o->seek_while_running)) return false;
    } else if (a == L"--timeout") {
      if (!seconds(&o->timeout) || o->timeout <= 0) return false;
    } else if (!a.empty() && a[0] == L'-') {
      return false;
    } else if (o->file.empty()) {
      o->file = a;
    } else {
      return false;
    }
  }
  return !o->file.empty();
}

int64_t MediaTime(double seconds) { return static_cast<int64_t>(std::llround(seconds * 1e7)); }

// "start stop [D] [S]" per sample.
std::string TimesText(const std::vector<SampleRecord>& records) {
  std::string text;
  char line[80];
  for (const SampleRecord& r : records) {
    snprintf(line, sizeof(line), "%lld %lld%s%s\n", static_cast<long long>(r.start), static_cast<long long>(r.stop),
             r.discontinuity ? " D" : "", r.sync_point ? " S" : "");
    text += line;
  }
  return text;
}

bool WriteText(const std::string& path, const std::string& text) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
  return (fclose(f) == 0) && ok;
}

// What one pin's section of the report holds.
std::string PinJson(const PinChain& chain, SampleRecorder* recorder) {
  std::vector<SampleRecord> records = recorder->Records();
  uint64_t bytes = 0;
  for (const SampleRecord& r : records) bytes += static_cast<uint64_t>(r.bytes > 0 ? r.bytes : 0);
  JsonObject o;
  if (chain.type.majortype == MEDIATYPE_Video && chain.type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(chain.type.pbFormat);
    o.Add("subtype", JsonString(VideoSubtypeName(chain.type.subtype)));
    o.Add("width", JsonNumber(int64_t{vih->bmiHeader.biWidth}));
    o.Add("height", JsonNumber(int64_t{vih->bmiHeader.biHeight}));
    o.Add("stride", JsonNumber(int64_t{vih->bmiHeader.biBitCount / 8 * vih->bmiHeader.biWidth}));
  } else if (chain.type.cbFormat >= sizeof(WAVEFORMATEX) - sizeof(WORD)) {
    const auto* wf = reinterpret_cast<const WAVEFORMATEX*>(chain.type.pbFormat);
    o.Add("rate", JsonNumber(int64_t{wf->nSamplesPerSec}));
    o.Add("channels", JsonNumber(int64_t{wf->nChannels}));
    o.Add("bits", JsonNumber(int64_t{wf->wBitsPerSample}));
  }
  o.Add("samples", JsonNumber(static_cast<int64_t>(records.size())));
  if (chain.type.majortype != MEDIATYPE_Video) o.Add("bytes", JsonNumber(static_cast<int64_t>(bytes)));
  o.Add("first_start", records.empty() ? "null" : JsonNumber(records.front().start));
  o.Add("last_stop", records.empty() ? "null" : JsonNumber(records.back().stop));
  return o.Text();
}

// Ends a process that stopped answering (a deadlock would otherwise keep it
// for ever): the time limit plus a grace period.
DWORD WINAPI Watchdog(LPVOID param) {
  DWORD ms = *static_cast<DWORD*>(param);
  Sleep(ms);
  fprintf(stderr, "kestrel-play: no answer %lu s after the time limit; giving up\n", 30ul);
  fflush(stderr);
  TerminateProcess(GetCurrentProcess(), 3);
  return 0;
}

// Plays the file; the report is filled in as far as it got. Every COM
// object is released when it returns.
int Play(const Options& o, JsonObject& report) {
  report.Add("file", JsonString(o.file.c_str()));

  ComPtr<IBaseFilter> source;
  HRESULT hr = CreateKestrelFilter(source.ReleaseAndGetAddressOf());
  if (FAILED(hr)) {
    fprintf(stderr, "kestrel-play: the filter cannot be created (%s)\n", HResultName(hr).c_str());
    report.Add("status", JsonString(HResultName(hr)));
    return 1;
  }
  ComPtr<IFileSourceFilter> file_source;
  hr = source->QueryInterface(IID_IFileSourceFilter, file_source.ReleaseAndGetVoidAddress());
  if (SUCCEEDED(hr)) hr = file_source->Load(o.file.c_str(), nullptr);
  report.Add("status", JsonString(HResultName(hr)));
  if (FAILED(hr)) {
    fprintf(stderr, "kestrel-play: the file does not load (%s)\n", HResultName(hr).c_str());
    report.Add("result", "null");
    return 1;
  }

  PlayGraph graph;
  if (FAILED(hr = graph.Create(source.Get()))) {
    fprintf(stderr, "kestrel-play: no filter graph (%s)\n", HResultName(hr).c_str());
    return 1;
  }
  if (!o.out_dir.empty()) CreateDirectoryA(o.out_dir.c_str(), nullptr);

  WaveFileWriter wave;
  bool wave_open = false;
  bool write_ok = true;
  ComPtr<SampleRecorder> video, audio;
  HANDLE frames_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE first_video = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  PinChain* video_chain = nullptr;
  PinChain* audio_chain = nullptr;
  for (const ComPtr<IPin>& pin : graph.SourcePins()) {
    PIN_INFO info = {};
    pin->QueryPinInfo(&info);
    if (info.pFilter) info.pFilter->Release();
    std::wstring name = info.achName;
    if (name == L"Video" && !video) {
      video.Attach(new SampleRecorder);
      if (o.frames > 0) {
        video->SetLimit(o.frames);
        video->SignalAt(o.frames, frames_done);
      }
      std::string dir = o.out_dir;
      if (!dir.empty()) {
        video->SetHandler([dir, &write_ok](const SampleRecord& r, const BYTE* data, size_t index) {
          char path[MAX_PATH];
          snprintf(path, sizeof(path), "%s\\frame_%04u.raw", dir.c_str(), static_cast<unsigned>(index));
          FILE* f = fopen(path, "wb");
          bool ok = f && (r.bytes <= 0 || (data && fwrite(data, 1, r.bytes, f) == static_cast<size_t>(r.bytes)));
          if (f && fclose(f) != 0) ok = false;
          if (!ok) write_ok = false;
        });
      }
      const GUID* subtype = o.format.empty() ? nullptr : VideoSubtypeByName(o.format);
      hr = graph.Connect(pin.Get(), subtype, video.Get(), &video_chain);
    } else if (name == L"Audio" && !audio) {
      audio.Attach(new SampleRecorder);
      if (!o.wav.empty()) {
        audio->SetHandler([&wave, &write_ok](const SampleRecord& r, const BYTE* data, size_t) {
          if (r.bytes > 0 && data && !wave.Write(data, static_cast<size_t>(r.bytes))) write_ok = false;
        });
      }
      hr = graph.Connect(pin.Get(), nullptr, audio.Get(), &audio_chain);
      if (SUCCEEDED(hr) && !o.wav.empty() && audio_chain->type.pbFormat) {
        WAVEFORMATEX wf = {};
        memcpy(&wf, audio_chain->type.pbFormat, std::min<size_t>(sizeof(wf), audio_chain->type.cbFormat));
        wave_open = wave.Open(o.wav, wf);
        if (!wave_open) write_ok = false;
      }
    } else {
      continue;
    }
    if (FAILED(hr)) {
      fprintf(stderr, "kestrel-play: the %ls pin does not connect (%s)\n", name.c_str(), HResultName(hr).c_str());
      report.Add("connect", JsonString(HResultName(hr)));
      report.Add("result", "null");
      CloseHandle(frames_done);
      CloseHandle(first_video);
      return 1;
    }
  }
  if (video && o.seek_while_running >= 0) video->SignalAt(1, first_video);

  // Positions through each pin's own seeking interface.
  auto seek_pins = [&](double start, double stop) {
    for (PinChain* chain : {video_chain, audio_chain}) {
      if (!chain || !chain->seeking) continue;
      LONGLONG begin = MediaTime(start), end = MediaTime(stop);
      chain->seeking->SetPositions(
          start >= 0 ? &begin : nullptr, start >= 0 ? AM_SEEKING_AbsolutePositioning : AM_SEEKING_NoPositioning,
          stop >= 0 ? &end : nullptr, stop >= 0 ? AM_SEEKING_AbsolutePositioning : AM_SEEKING_NoPositioning);
    }
  };
  if (o.seek >= 0 || o.stop >= 0) seek_pins(o.seek, o.stop);

  graph.RemoveClock();
  LARGE_INTEGER frequency, started, ended;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&started);
  hr = graph.Run();
  EndResult end = EndResult::kTimeout;
  HRESULT abort_code = S_OK;
  if (SUCCEEDED(hr)) {
    const DWORD limit = static_cast<DWORD>(o.timeout * 1000);
    const DWORD deadline = GetTickCount() + limit;
    bool seek_pending = o.seek_while_running >= 0 && video;
    for (;;) {
      DWORD now = GetTickCount();
      DWORD left = static_cast<LONG>(deadline - now) > 0 ? deadline - now : 0;
      std::vector<HANDLE> extra = {frames_done};
      if (seek_pending) extra.push_back(first_video);
      int woken = -1;
      end = graph.WaitForEnd(left, &abort_code, extra, &woken);
      if (end == EndResult::kWoken && woken == 1) {
        seek_pending = false;
        seek_pins(o.seek_while_running, -1);
        continue;
      }
      if (end == EndResult::kWoken) end = EndResult::kComplete;  // the frames asked for
      break;
    }
  } else {
    fprintf(stderr, "kestrel-play: the graph does not run (%s)\n", HResultName(hr).c_str());
    end = EndResult::kErrorAbort;
    abort_code = hr;
  }
  QueryPerformanceCounter(&ended);
  graph.Stop();
  if (wave_open && !wave.Close()) write_ok = false;

  const char* result = end == EndResult::kComplete     ? "EC_COMPLETE"
                       : end == EndResult::kErrorAbort ? "EC_ERRORABORT"
                                                       : "timeout";
  if (end == EndResult::kTimeout) fprintf(stderr, "kestrel-play: no end within %.0f s\n", o.timeout);
  if (end == EndResult::kErrorAbort)
    fprintf(stderr, "kestrel-play: the stream was aborted (%s)\n", HResultName(abort_code).c_str());
  report.Add("result", JsonString(result));
  report.Add("seconds", JsonNumber(static_cast<double>(ended.QuadPart - started.QuadPart) /
                                   static_cast<double>(frequency.QuadPart)));
  report.Add("video", video_chain ? PinJson(*video_chain, video.Get()) : "null");
  report.Add("audio", audio_chain ? PinJson(*audio_chain, audio.Get()) : "null");

  if (video && !o.out_dir.empty() && !WriteText(o.out_dir + "\\times.txt", TimesText(video->Records())))
    write_ok = false;
  if (audio && !o.wav.empty() && !WriteText(o.wav + ".times.txt", TimesText(audio->Records()))) write_ok = false;
  if (!write_ok) fprintf(stderr, "kestrel-play: some output could not be written\n");

  CloseHandle(frames_done);
  CloseHandle(first_video);
  return end == EndResult::kComplete && write_ok ? 0 : 3;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) return Usage();
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
    fprintf(stderr, "kestrel-play: COM does not start\n");
    return 1;
  }
  DWORD grace = static_cast<DWORD>(options.timeout * 1000) + 30000;
  HANDLE watchdog = CreateThread(nullptr, 0, Watchdog, &grace, 0, nullptr);
  JsonObject report;
  int code = Play(options, report);
  // Every object of the module is gone once the graph and the filter are.
  report.Add("released", KestrelCanUnloadNow() == S_OK ? "true" : "false");
  if (options.json) printf("%s\n", report.Text().c_str());
  CoUninitialize();
  if (watchdog) CloseHandle(watchdog);
  return code;
}

// kestrel-play: plays a movie through the Kestrel filter.
//
// With a display it shows the movie: the video pin into Wine's video mixing
// renderer in a window titled with the file name, the audio pin into the
// DirectSound renderer, at normal speed on the graph's clock. Without one,
// or with --headless or any option that keeps what arrives, each pin goes
// into a Sample Grabber and a Null Renderer and the graph runs as fast as it
// can (no clock). A progress line is kept on stderr when it is a terminal;
// a summary (or with --json one JSON object) is printed at the end.
//
// When the file does not load, or a stream is left out (the engine cannot
// decode it, or its pin does not connect), one line on stderr says why, and
// the run goes on with the streams that play.
//
// Exit status: 0 the graph completed (or --frames were delivered, or the
// window was closed), also with a stream left out; 1 nothing plays: the file
// does not load, or has no stream that plays or connects; 2 usage, 3 the
// stream was aborted or the time limit ran out.
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/json_writer.h"
#include "common/play_reason.h"
#include "common/wave_file.h"
#include "play/bitmap_file.h"
#include "play/play_graph.h"
#include "play/progress.h"

namespace {

using kestrel::ComPtr;
using kestrel::MovieDiagnosis;
using kestrel::PlayReason;
using kestrel::StreamDiagnosis;
using namespace kestrel::play;
using namespace kestrel::tools;

struct Options {
  std::wstring file;
  bool headless = false;
  std::string format;  // empty: the pin's first
  uint64_t frames = 0;
  std::string out_dir, wav, snapshot;
  double seek = -1, stop = -1, seek_while_running = -1, snapshot_at = -1;
  double timeout = -1;  // seconds; < 0: 300 without a display, none with one
  bool json = false;
  long audio_track = -1;  // < 0: the one the filter plays by default
};

std::string Ansi(const std::wstring& wide) {
  int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, out.data(), n, nullptr, nullptr);
  return out;
}

int Usage() {
  fprintf(stderr,
          "usage: kestrel-play [--headless] [--format UYVY|YUY2|RGB32|ARGB32] [--frames N] [--out DIR]\n"
          "                    [--wav FILE] [--seek SECONDS] [--stop SECONDS] [--seek-while-running SECONDS]\n"
          "                    [--snapshot SECONDS OUT.bmp] [--timeout SECONDS] [--audio-track N] [--json] FILE\n");
  return 2;
}

bool ParseSeconds(const std::string& text, double* v) {
  char* end = nullptr;
  *v = strtod(text.c_str(), &end);
  return !text.empty() && end && *end == '\0' && std::isfinite(*v) && *v >= 0;
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
      return value(&text) && ParseSeconds(text, v);
    };
    std::string text;
    if (a == L"--json") {
      o->json = true;
    } else if (a == L"--headless") {
      o->headless = true;
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
    } else if (a == L"--snapshot") {
      if (!seconds(&o->snapshot_at) || !value(&o->snapshot)) return false;
    } else if (a == L"--timeout") {
      if (!seconds(&o->timeout) || o->timeout <= 0) return false;
    } else if (a == L"--audio-track") {
      if (!value(&text)) return false;
      char* end = nullptr;
      o->audio_track = strtol(text.c_str(), &end, 10);
      if (!end || *end != '\0' || text.empty() || o->audio_track < 0) return false;
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

// The movie on screen: a display, and nothing asked that keeps samples.
bool ShowsOnScreen(const Options& o) {
  const char* display = getenv("DISPLAY");
  return display && *display && !o.headless && !o.json && o.frames == 0 && o.out_dir.empty() && o.wav.empty() &&
         o.snapshot.empty();
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

const VIDEOINFOHEADER* VideoInfo(const PinChain& chain) {
  if (chain.type.majortype != MEDIATYPE_Video || chain.type.cbFormat < sizeof(VIDEOINFOHEADER)) return nullptr;
  return reinterpret_cast<const VIDEOINFOHEADER*>(chain.type.pbFormat);
}

const WAVEFORMATEX* WaveFormat(const PinChain& chain) {
  if (chain.type.majortype != MEDIATYPE_Audio || chain.type.cbFormat < sizeof(WAVEFORMATEX) - sizeof(WORD))
    return nullptr;
  return reinterpret_cast<const WAVEFORMATEX*>(chain.type.pbFormat);
}

uint64_t TotalBytes(const std::vector<SampleRecord>& records) {
  uint64_t bytes = 0;
  for (const SampleRecord& r : records) bytes += static_cast<uint64_t>(r.bytes > 0 ? r.bytes : 0);
  return bytes;
}

// What one pin's section of the JSON report holds; the sound track that
// played (its place among the sound tracks) when known.
std::string PinJson(const PinChain& chain, const std::vector<SampleRecord>& records, long track = -1) {
  JsonObject o;
  if (const VIDEOINFOHEADER* vih = VideoInfo(chain)) {
    o.Add("subtype", JsonString(VideoSubtypeName(chain.type.subtype)));
    o.Add("width", JsonNumber(int64_t{vih->bmiHeader.biWidth}));
    o.Add("height", JsonNumber(int64_t{vih->bmiHeader.biHeight}));
    o.Add("stride", JsonNumber(int64_t{vih->bmiHeader.biBitCount / 8 * vih->bmiHeader.biWidth}));
  } else if (const WAVEFORMATEX* wf = WaveFormat(chain)) {
    o.Add("rate", JsonNumber(int64_t{wf->nSamplesPerSec}));
    o.Add("channels", JsonNumber(int64_t{wf->nChannels}));
    o.Add("bits", JsonNumber(int64_t{wf->wBitsPerSample}));
    if (track >= 0) o.Add("track", JsonNumber(int64_t{track}));
  }
  o.Add("samples", JsonNumber(static_cast<int64_t>(records.size())));
  if (!VideoInfo(chain)) o.Add("bytes", JsonNumber(static_cast<int64_t>(TotalBytes(records))));
  o.Add("first_start", records.empty() ? "null" : JsonNumber(records.front().start));
  o.Add("last_stop", records.empty() ? "null" : JsonNumber(records.back().stop));
  return o.Text();
}

double Seconds(int64_t media_time) { return static_cast<double>(media_time) / 1e7; }

// The summary a person reads at the end.
void PrintSummary(const std::string& file, const char* result, double seconds, const PinChain* video,
                  const std::vector<SampleRecord>& video_records, const PinChain* audio,
                  const std::vector<SampleRecord>& audio_records) {
  printf("file: %s\nresult: %s after %.2f s\n", file.c_str(), result, seconds);
  if (const VIDEOINFOHEADER* vih = video ? VideoInfo(*video) : nullptr) {
    printf("video: %zu frames, %s %ldx%ld, %.1f frames per second", video_records.size(),
           VideoSubtypeName(video->type.subtype).c_str(), static_cast<long>(vih->bmiHeader.biWidth),
           static_cast<long>(vih->bmiHeader.biHeight), seconds > 0 ? video_records.size() / seconds : 0.0);
    if (!video_records.empty())
      printf(", first starts %.3f s, last ends %.3f s", Seconds(video_records.front().start),
             Seconds(video_records.back().stop));
    printf("\n");
  } else {
    printf("video: none\n");
  }
  if (const WAVEFORMATEX* wf = audio ? WaveFormat(*audio) : nullptr) {
    double delivered = wf->nAvgBytesPerSec ? static_cast<double>(TotalBytes(audio_records)) / wf->nAvgBytesPerSec : 0;
    printf("audio: %.3f s delivered, %lu Hz, %u channel(s), %u bits", delivered,
           static_cast<unsigned long>(wf->nSamplesPerSec), static_cast<unsigned>(wf->nChannels),
           static_cast<unsigned>(wf->wBitsPerSample));
    if (!audio_records.empty())
      printf(", first starts %.3f s, last ends %.3f s", Seconds(audio_records.front().start),
             Seconds(audio_records.back().stop));
    printf("\n");
  } else {
    printf("audio: none\n");
  }
  if (!video_records.empty() && !audio_records.empty())
    printf("A/V start offset: %.3f s\n", Seconds(video_records.front().start - audio_records.front().start));
}

// Ends a process that stopped answering (a deadlock would otherwise keep it
// for ever): the time limit plus a grace period.
DWORD WINAPI Watchdog(LPVOID param) {
  Sleep(*static_cast<DWORD*>(param));
  fprintf(stderr, "kestrel-play: no answer 30 s after the time limit; giving up\n");
  fflush(stderr);
  TerminateProcess(GetCurrentProcess(), 3);
  return 0;
}

class Player {
 public:
  Player(const Options& o, JsonObject& report) : m_o(o), m_report(report), m_screen(ShowsOnScreen(o)) {}
  ~Player() {
    if (m_framesDone) CloseHandle(m_framesDone);
    if (m_firstVideo) CloseHandle(m_firstVideo);
  }

  // The whole run; the report is filled in as far as it got. Every COM
  // object is released when the player goes.
  int Run();

 private:
  HRESULT Build();
  HRESULT SelectAudioTrack();
  void SeekPins(double start, double stop);
  EndResult WaitForEnd(HRESULT* abort_code);
  PlayFigures Figures(double elapsed);

  // Why a stream is left out: the engine says it does not play, or its pin
  // does not connect.
  Reason LeftOut(const std::wstring& pin, const std::string& type, HRESULT hr) const;

  const Options& m_o;
  JsonObject& m_report;
  const bool m_screen;
  MovieDiagnosis m_diagnosis;
  bool m_diagnosed = false;
  Reason m_videoLeftOut, m_audioLeftOut;
  ComPtr<IBaseFilter> m_source;
  long m_audioTrack = -1;  // the sound track that plays
  PlayGraph m_graph;
  ComPtr<SampleRecorder> m_video, m_audio;
  PinChain* m_videoChain = nullptr;
  PinChain* m_audioChain = nullptr;
  WaveFileWriter m_wave;
  bool m_waveOpen = false;
  bool m_writeOk = true;
  std::string m_snapshot;  // the first picture's bytes
  HANDLE m_framesDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE m_firstVideo = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  LARGE_INTEGER m_frequency = {}, m_started = {};
};

HRESULT Player::Build() {
  const std::string dir = m_o.out_dir;
  bool refused = false;
  for (const ComPtr<IPin>& pin : m_graph.SourcePins()) {
    PIN_INFO info = {};
    pin->QueryPinInfo(&info);
    if (info.pFilter) info.pFilter->Release();
    const std::wstring name = info.achName;
    HRESULT hr = S_OK;
    std::string type;
    // A stream the engine cannot decode is not connected at all.
    const StreamDiagnosis* stream = name == L"Video"   ? &m_diagnosis.video
                                    : name == L"Audio" ? &m_diagnosis.sound
                                                       : nullptr;
    if (stream && StreamFailure(*stream)) {
      (name == L"Video" ? m_videoLeftOut : m_audioLeftOut) = StreamFailure(*stream);
      continue;
    }
    if (name == L"Video" && !m_video) {
      m_video.Attach(new SampleRecorder);
      uint64_t limit = m_o.snapshot.empty() ? m_o.frames : 1;
      if (limit > 0) {
        m_video->SetLimit(limit);
        m_video->SignalAt(limit, m_framesDone);
      }
      if (!dir.empty()) {
        m_video->SetHandler([dir, this](const SampleRecord& r, const BYTE* data, size_t index) {
          char path[MAX_PATH];
          snprintf(path, sizeof(path), "%s\\frame_%04u.raw", dir.c_str(), static_cast<unsigned>(index));
          FILE* f = fopen(path, "wb");
          bool ok = f && (r.bytes <= 0 || (data && fwrite(data, 1, r.bytes, f) == static_cast<size_t>(r.bytes)));
          if (f && fclose(f) != 0) ok = false;
          if (!ok) m_writeOk = false;
        });
      } else if (!m_o.snapshot.empty()) {
        m_video->SetHandler([this](const SampleRecord& r, const BYTE* data, size_t) {
          if (data && r.bytes > 0) m_snapshot.assign(reinterpret_cast<const char*>(data), static_cast<size_t>(r.bytes));
        });
      }
      const std::string format = m_o.snapshot.empty() ? m_o.format : "RGB32";
      const GUID* subtype = format.empty() ? nullptr : VideoSubtypeByName(format);
      type = PinTypeText(pin.Get(), subtype);
      if (m_screen) {
        // Wine's mixing renderers take the pin's YUV and RGB types directly.
        hr = E_FAIL;
        for (const CLSID* renderer : {&CLSID_VideoMixingRenderer9, &CLSID_VideoMixingRenderer})
          if (FAILED(hr)) hr = m_graph.Connect(pin.Get(), subtype, m_video.Get(), &m_videoChain, *renderer);
      } else {
        hr = m_graph.Connect(pin.Get(), subtype, m_video.Get(), &m_videoChain);
      }
    } else if (name == L"Audio" && !m_audio) {
      m_audio.Attach(new SampleRecorder);
      if (!m_o.wav.empty()) {
        m_audio->SetHandler([this](const SampleRecord& r, const BYTE* data, size_t) {
          if (r.bytes > 0 && data && !m_wave.Write(data, static_cast<size_t>(r.bytes))) m_writeOk = false;
        });
      }
      hr = E_FAIL;
      type = PinTypeText(pin.Get(), nullptr);
      if (m_screen) {
        hr = m_graph.Connect(pin.Get(), nullptr, m_audio.Get(), &m_audioChain, CLSID_DSoundRender);
        if (FAILED(hr)) fprintf(stderr, "kestrel-play: no audio device; the sound goes to a Null Renderer\n");
      }
      if (FAILED(hr)) hr = m_graph.Connect(pin.Get(), nullptr, m_audio.Get(), &m_audioChain);
      if (SUCCEEDED(hr) && !m_o.wav.empty()) {
        if (const WAVEFORMATEX* wf = WaveFormat(*m_audioChain)) {
          // The same samples as plain PCM, whichever format block connected.
          WAVEFORMATEX format = {};
          memcpy(&format, wf, sizeof(WAVEFORMATEX) - sizeof(WORD));
          format.wFormatTag = WAVE_FORMAT_PCM;
          m_waveOpen = m_wave.Open(m_o.wav, format);
        }
        if (!m_waveOpen) m_writeOk = false;
      }
    } else {
      continue;
    }
    if (FAILED(hr)) {
      // The others play without it; the first refusal is reported.
      (name == L"Video" ? m_videoLeftOut : m_audioLeftOut) = LeftOut(name, type, hr);
      if (!refused) m_report.Add("connect", JsonString(HResultName(hr)));
      refused = true;
    }
  }
  if (!m_videoChain && !m_audioChain && (m_videoLeftOut || m_audioLeftOut)) return VFW_E_CANNOT_CONNECT;
  if (m_video && m_o.seek_while_running >= 0) m_video->SignalAt(1, m_firstVideo);
  if (m_screen) {
    ComPtr<IVideoWindow> window;
    if (SUCCEEDED(m_graph.Graph()->QueryInterface(IID_IVideoWindow, window.ReleaseAndGetVoidAddress()))) {
      std::wstring title = m_o.file.substr(m_o.file.find_last_of(L"\\/:") + 1);
      BSTR caption = SysAllocString(title.c_str());
      window->put_Caption(caption);
      SysFreeString(caption);
    }
  }
  return S_OK;
}

// The sound track asked for, through the filter's IAMStreamSelect before
// the pins connect; then which one plays, for the report.
HRESULT Player::SelectAudioTrack() {
  ComPtr<IAMStreamSelect> select;
  if (FAILED(m_source->QueryInterface(IID_IAMStreamSelect, select.ReleaseAndGetVoidAddress()))) return S_OK;
  DWORD count = 0;
  if (FAILED(select->Count(&count))) count = 0;
  if (m_o.audio_track >= 0) {
    if (static_cast<DWORD>(m_o.audio_track) >= count) {
      fprintf(stderr, "kestrel-play: there is no audio track %ld (%lu in the file)\n", m_o.audio_track, count);
      return E_INVALIDARG;
    }
    HRESULT hr = select->Enable(m_o.audio_track, AMSTREAMSELECTENABLE_ENABLE);
    if (FAILED(hr)) {
      fprintf(stderr, "kestrel-play: audio track %ld cannot be chosen (%s)\n", m_o.audio_track,
              HResultName(hr).c_str());
      return hr;
    }
  }
  for (DWORD i = 0; i < count; ++i) {
    DWORD flags = 0;
    if (SUCCEEDED(select->Info(static_cast<LONG>(i), nullptr, &flags, nullptr, nullptr, nullptr, nullptr, nullptr)) &&
        (flags & AMSTREAMSELECTINFO_ENABLED))
      m_audioTrack = static_cast<long>(i);
  }
  return S_OK;
}

Reason Player::LeftOut(const std::wstring& pin, const std::string& type, HRESULT hr) const {
  // A pin the engine's reading explains is left out for that reason.
  const StreamDiagnosis& stream = pin == L"Video" ? m_diagnosis.video : m_diagnosis.sound;
  if (Reason engine = StreamFailure(stream)) return engine;
  Reason r;
  r.code = PlayReason::kMediaTypeRefused;
  r.text = "The " + Utf8(pin.c_str()) + " pin refused " + type + " (" + HResultName(hr) + ").";
  return r;
}

// Positions through each pin's own seeking interface.
void Player::SeekPins(double start, double stop) {
  for (PinChain* chain : {m_videoChain, m_audioChain}) {
    if (!chain || !chain->seeking) continue;
    LONGLONG begin = MediaTime(start), end = MediaTime(stop);
    chain->seeking->SetPositions(
        start >= 0 ? &begin : nullptr, start >= 0 ? AM_SEEKING_AbsolutePositioning : AM_SEEKING_NoPositioning,
        stop >= 0 ? &end : nullptr, stop >= 0 ? AM_SEEKING_AbsolutePositioning : AM_SEEKING_NoPositioning);
  }
}

PlayFigures Player::Figures(double elapsed) {
  PlayFigures f;
  f.elapsed = elapsed;
  LONGLONG start = 0, duration = 0;
  PinChain* main = m_videoChain ? m_videoChain : m_audioChain;
  if (main && main->seeking) {
    main->seeking->GetPositions(&start, nullptr);
    main->seeking->GetDuration(&duration);
  }
  f.duration = Seconds(duration);
  if (m_video) {
    std::vector<SampleRecord> r = m_video->Records();
    f.frames = r.size();
    if (!r.empty()) f.position = Seconds(start + r.back().stop);
  }
  if (m_audio && m_audioChain) {
    std::vector<SampleRecord> r = m_audio->Records();
    const WAVEFORMATEX* wf = WaveFormat(*m_audioChain);
    if (wf && wf->nAvgBytesPerSec) f.audio_seconds = static_cast<double>(TotalBytes(r)) / wf->nAvgBytesPerSec;
    if (!m_video && !r.empty()) f.position = Seconds(start + r.back().stop);
  }
  return f;
}

EndResult Player::WaitForEnd(HRESULT* abort_code) {
  const double limit = m_o.timeout > 0 ? m_o.timeout : (m_screen ? -1 : 300);
  const DWORD started = GetTickCount();
  bool seek_pending = m_o.seek_while_running >= 0 && m_video;
  ProgressLine progress;
  EndResult end;
  for (;;) {
    DWORD slice = progress.Enabled() || m_screen ? 200 : 1000;
    if (limit > 0) {
      double left = limit * 1000 - static_cast<double>(GetTickCount() - started);
      if (left <= 0) {
        end = EndResult::kTimeout;
        break;
      }
      slice = static_cast<DWORD>(std::min<double>(slice, left));
    }
    std::vector<HANDLE> extra = {m_framesDone};
    if (seek_pending) extra.push_back(m_firstVideo);
    int woken = -1;
    end = m_graph.WaitForEnd(slice, abort_code, extra, &woken, m_screen);
    if (end == EndResult::kWoken && woken == 1) {
      seek_pending = false;
      SeekPins(m_o.seek_while_running, -1);
      continue;
    }
    if (end == EndResult::kWoken) {
      end = EndResult::kComplete;  // the frames asked for
      break;
    }
    if (end != EndResult::kTimeout) break;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    progress.Update(
        Figures(static_cast<double>(now.QuadPart - m_started.QuadPart) / static_cast<double>(m_frequency.QuadPart)));
  }
  progress.Finish();
  return end;
}

int Player::Run() {
  m_report.Add("file", JsonString(m_o.file.c_str()));
  HRESULT hr = CreateKestrelFilter(m_source.ReleaseAndGetAddressOf());
  if (FAILED(hr)) {
    fprintf(stderr, "kestrel-play: the filter cannot be created (%s)\n", HResultName(hr).c_str());
    m_report.Add("status", JsonString(HResultName(hr)));
    return 1;
  }
  ComPtr<IFileSourceFilter> file_source;
  hr = m_source->QueryInterface(IID_IFileSourceFilter, file_source.ReleaseAndGetVoidAddress());
  if (SUCCEEDED(hr)) hr = file_source->Load(m_o.file.c_str(), nullptr);
  m_report.Add("status", JsonString(HResultName(hr)));
  m_diagnosed = DiagnoseMovieFile(m_o.file, &m_diagnosis);
  if (FAILED(hr)) {
    Reason why = LoadFailure(m_diagnosis, m_diagnosed);
    if (m_diagnosed)
      PrintReason("kestrel-play", why);
    else
      fprintf(stderr, "kestrel-play: the file does not load (%s)\n", HResultName(hr).c_str());
    m_report.Add("result", "null");
    AddReason(&m_report, why);
    return 1;
  }
  if (FAILED(hr = SelectAudioTrack())) {
    m_report.Add("result", "null");
    return 1;
  }
  if (FAILED(hr = m_graph.Create(m_source.Get()))) {
    fprintf(stderr, "kestrel-play: no filter graph (%s)\n", HResultName(hr).c_str());
    return 1;
  }
  if (!m_o.out_dir.empty()) CreateDirectoryA(m_o.out_dir.c_str(), nullptr);
  hr = Build();
  // Said once: the streams left out, and the one that still plays.
  Reason why = StreamsLeftOut({m_videoLeftOut, m_audioLeftOut}, m_videoChain   ? "video"
                                                                : m_audioChain ? "sound"
                                                                               : nullptr);
  if (!m_videoChain && !m_audioChain && !why && m_diagnosed && m_diagnosis.reason != PlayReason::kNone)
    why = {m_diagnosis.reason, m_diagnosis.text};  // no stream at all
  PrintReason("kestrel-play", why);
  if (FAILED(hr) || (!m_videoChain && !m_audioChain && why)) {
    m_report.Add("result", "null");
    AddReason(&m_report, why);
    return 1;
  }

  double start = m_o.snapshot.empty() ? m_o.seek : m_o.snapshot_at;
  if (start >= 0 || m_o.stop >= 0) SeekPins(start, m_o.stop);
  if (!m_screen) m_graph.RemoveClock();
  QueryPerformanceFrequency(&m_frequency);
  QueryPerformanceCounter(&m_started);
  // A movie with neither kind of track has nothing to play: a graph without
  // renderers would never complete, so it ends at once.
  const bool nothing = !m_videoChain && !m_audioChain;
  hr = nothing ? S_OK : m_graph.Run();
  EndResult end = EndResult::kErrorAbort;
  HRESULT abort_code = hr;
  if (nothing) {
    end = EndResult::kComplete;
  } else if (SUCCEEDED(hr)) {
    end = WaitForEnd(&abort_code);
  } else {
    fprintf(stderr, "kestrel-play: the graph does not run (%s)\n", HResultName(hr).c_str());
  }
  LARGE_INTEGER ended;
  QueryPerformanceCounter(&ended);
  m_graph.Stop();
  if (m_waveOpen && !m_wave.Close()) m_writeOk = false;

  const char* result = end == EndResult::kComplete     ? "EC_COMPLETE"
                       : end == EndResult::kErrorAbort ? "EC_ERRORABORT"
                       : end == EndResult::kUserAbort  ? "EC_USERABORT"
                                                       : "timeout";
  if (end == EndResult::kTimeout) fprintf(stderr, "kestrel-play: no end within the time limit\n");
  if (end == EndResult::kErrorAbort)
    fprintf(stderr, "kestrel-play: the stream was aborted (%s)\n", HResultName(abort_code).c_str());
  const double seconds =
      static_cast<double>(ended.QuadPart - m_started.QuadPart) / static_cast<double>(m_frequency.QuadPart);
  std::vector<SampleRecord> video = m_video ? m_video->Records() : std::vector<SampleRecord>();
  std::vector<SampleRecord> audio = m_audio ? m_audio->Records() : std::vector<SampleRecord>();
  m_report.Add("result", JsonString(result));
  m_report.Add("seconds", JsonNumber(seconds));
  m_report.Add("video", m_videoChain ? PinJson(*m_videoChain, video) : "null");
  m_report.Add("audio", m_audioChain ? PinJson(*m_audioChain, audio, m_audioTrack) : "null");
  AddReason(&m_report, why);

  if (m_video && !m_o.out_dir.empty() && !WriteText(m_o.out_dir + "\\times.txt", TimesText(video))) m_writeOk = false;
  if (m_audio && !m_o.wav.empty() && !WriteText(m_o.wav + ".times.txt", TimesText(audio))) m_writeOk = false;
  if (!m_o.snapshot.empty()) {
    const VIDEOINFOHEADER* vih = m_videoChain ? VideoInfo(*m_videoChain) : nullptr;
    if (!vih || m_snapshot.empty()) {
      fprintf(stderr, "kestrel-play: no picture at or after %.3f s\n", m_o.snapshot_at);
      m_writeOk = false;
    } else {
      const int width = vih->bmiHeader.biWidth, height = std::abs(vih->bmiHeader.biHeight);
      const size_t stride = static_cast<size_t>(width) * 4;
      if (m_snapshot.size() < stride * height ||
          !WriteBitmap32(m_o.snapshot, reinterpret_cast<const uint8_t*>(m_snapshot.data()), width, height, stride))
        m_writeOk = false;
    }
  }
  if (!m_writeOk) fprintf(stderr, "kestrel-play: some output could not be written\n");
  if (!m_o.json) PrintSummary(Ansi(m_o.file), result, seconds, m_videoChain, video, m_audioChain, audio);
  return (end == EndResult::kComplete || end == EndResult::kUserAbort) && m_writeOk ? 0 : 3;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) return Usage();
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
    fprintf(stderr, "kestrel-play: COM does not start\n");
    return 1;
  }
  HANDLE watchdog = nullptr;
  DWORD grace = 0;
  if (options.timeout > 0 || !ShowsOnScreen(options)) {
    grace = static_cast<DWORD>((options.timeout > 0 ? options.timeout : 300) * 1000) + 30000;
    watchdog = CreateThread(nullptr, 0, Watchdog, &grace, 0, nullptr);
  }
  JsonObject report;
  int code = 0;
  {
    Player player(options, report);
    code = player.Run();
  }
  // Every object of the module is gone once the graph and the filter are.
  report.Add("released", KestrelCanUnloadNow() == S_OK ? "true" : "false");
  if (options.json) printf("%s\n", report.Text().c_str());
  CoUninitialize();
  if (watchdog) CloseHandle(watchdog);
  return code;
}

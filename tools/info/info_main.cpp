// kestrel-info: what the filter reports of a movie through IQTInfo: the
// video and audio facts, the user-data entries that have a value, and the
// time code; through IAMStreamSelect its sound tracks and through
// IAMExtendedSeeking its chapters. As readable lines or, with --json, one
// JSON object whose keys are those of kestrel-probe for the same facts.
// The video's rotation (the turn the filter applies before it delivers the
// pictures, at the size IQTInfo reports) is read from the movie the way the
// filter reads it.
// A stream the media engine cannot decode is left out (null), and one line
// says why, as it does when the file does not load ("reason",
// "reason_code").
//   kestrel-info [--json] FILE
// Exit status: 0 the file loaded, 1 it did not, 2 usage.
#include <windows.h>

#include <dshow.h>
#include <mmreg.h>
#include <ole2.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "common/json_writer.h"
#include "common/movie_json.h"
#include "common/play_reason.h"
#include "filter/extended_seeking.h"
#include "kestrel_idl.h"
#include "movie/movie_facts.h"
#include "play/play_graph.h"

namespace {

using kestrel::ComPtr;
using namespace kestrel::tools;

int Usage() {
  fprintf(stderr, "usage: kestrel-info [--json] FILE\n");
  return 2;
}

// Frees the string when it goes.
struct Text {
  BSTR b = nullptr;
  ~Text() { SysFreeString(b); }
  std::string Utf8() const { return kestrel::tools::Utf8(b ? b : L""); }
};

struct Report {
  JsonObject json;
  std::vector<std::string> lines;
};

// The clockwise turn of the video, 0, 90, 180 or 270.
int32_t Rotation(const std::wstring& file) {
  kestrel::VideoTransform transform;
  if (InitializeQTML(0) != noErr || EnterMovies() != noErr) return 0;
  {
    kestrel::MovieFacts movie;
    if (movie.Open(file.c_str()) == S_OK) movie.GetVideoTransform(&transform);
  }
  ExitMovies();
  return transform.rotation;
}

void AddVideo(IQTInfo* info, const std::wstring& file, Report* r, const Reason& left_out) {
  if (left_out) {
    r->json.Add("video", "null");
    r->lines.push_back("video: left out");
    return;
  }
  Text codec;
  ULONG width = 0, height = 0, depth = 0, frames = 0;
  double rate = 0, seconds = 0;
  if (info->GetVideoInfo(&codec.b, &width, &height, &depth, &rate, &frames, &seconds) != S_OK) {
    r->json.Add("video", "null");
    r->lines.push_back("video: none");
    return;
  }
  const int64_t duration = std::llround(seconds * 1e7);
  const int32_t rotation = Rotation(file);
  r->json.Add("video", VideoJson({codec.Utf8(), width, height, depth, duration, frames, rate, rotation}));
  char line[600];
  snprintf(line, sizeof(line),
           "video: \"%s\", %lu x %lu x %lu, %.3f frames per second, %lu frames, %.3f s, turned %d degrees",
           codec.Utf8().c_str(), width, height, depth, rate, frames, seconds, rotation);
  r->lines.push_back(line);
}

void AddAudio(IQTInfo* info, Report* r, const Reason& left_out) {
  if (left_out) {
    r->json.Add("audio", "null");
    r->lines.push_back("audio: left out");
    return;
  }
  Text codec, layout;
  ULONG rate = 0;
  if (info->GetAudioInfo(&codec.b, &layout.b, &rate) != S_OK) {
    r->json.Add("audio", "null");
    r->lines.push_back("audio: none");
    return;
  }
  JsonObject a;
  a.Add("format", JsonString(codec.Utf8()));
  a.Add("layout", JsonString(layout.Utf8()));
  a.Add("sample_rate", JsonNumber(int64_t{rate}));
  r->json.Add("audio", a.Text());
  char line[600];
  snprintf(line, sizeof(line), "audio: \"%s\", layout \"%s\", %lu Hz", codec.Utf8().c_str(), layout.Utf8().c_str(),
           rate);
  r->lines.push_back(line);
}

void AddUserData(IQTInfo* info, Report* r) {
  JsonObject tags;
  ULONG count = 0;
  if (info->GetUserDataCount(&count) == S_OK) {
    for (ULONG i = 0; i < count; ++i) {
      Text name, value;
      if (info->GetUserDataName(i, &name.b) != S_OK || info->GetUserDataValue(i, &value.b) != S_OK) continue;
      if (SysStringLen(value.b) == 0) continue;
      tags.Add(name.Utf8(), JsonString(value.Utf8()));
      r->lines.push_back("tag: " + name.Utf8() + ": " + value.Utf8());
    }
  }
  r->json.Add("user_data", tags.Text());
}

void AddTimeCode(IQTInfo* info, Report* r) {
  LONG drop = 0;
  BYTE h = 0, m = 0, s = 0, f = 0;
  if (info->GetTimeCode(&drop, &h, &m, &s, &f) != S_OK) {
    r->json.Add("timecode", "null");
    return;
  }
  r->json.Add("timecode", TimeCodeJson({drop, h, m, s, f}));
  char line[64];
  snprintf(line, sizeof(line), "time code: %02u:%02u:%02u%c%02u", h, m, s, drop ? ';' : ':', f);
  r->lines.push_back(line);
}

// The codec of a stream type: linear PCM, or the four characters of a
// FOURCC subtype without trailing spaces or a leading dot ("aac", "ac-3",
// "opus", "mp3" ...).
std::string CodecOfSubtype(const GUID& subtype) {
  if (subtype.Data1 <= 0xFFFF) return subtype.Data1 == WAVE_FORMAT_PCM ? "lpcm" : "unknown";
  std::string codec;
  for (int i = 0; i < 4; ++i) codec += static_cast<char>((subtype.Data1 >> (8 * i)) & 0xFF);
  while (!codec.empty() && codec.back() == ' ') codec.pop_back();
  if (!codec.empty() && codec[0] == '.') codec.erase(0, 1);  // ".mp3"
  return codec;
}

// The sound tracks: "NAME [LANG]" splits into the name and the language.
void AddAudioTracks(IBaseFilter* filter, Report* r) {
  JsonArray tracks;
  ComPtr<IAMStreamSelect> select;
  DWORD count = 0;
  if (SUCCEEDED(filter->QueryInterface(IID_IAMStreamSelect, select.ReleaseAndGetVoidAddress())) &&
      FAILED(select->Count(&count)))
    count = 0;
  for (DWORD i = 0; i < count; ++i) {
    AM_MEDIA_TYPE* mt = nullptr;
    DWORD flags = 0;
    WCHAR* text = nullptr;
    if (FAILED(select->Info(static_cast<LONG>(i), &mt, &flags, nullptr, nullptr, &text, nullptr, nullptr))) continue;
    std::wstring name = text ? text : L"", language = L"und";
    CoTaskMemFree(text);
    if (name.size() >= 5 && name.back() == L']' && name[name.size() - 5] == L'[') {
      language = name.substr(name.size() - 4, 3);
      name.erase(name.size() >= 6 && name[name.size() - 6] == L' ' ? name.size() - 6 : name.size() - 5);
    }
    const WAVEFORMATEX* wf =
        mt && mt->cbFormat >= sizeof(WAVEFORMATEX) ? reinterpret_cast<WAVEFORMATEX*>(mt->pbFormat) : nullptr;
    JsonObject t;
    t.Add("index", JsonNumber(int64_t{i}));
    t.Add("language", JsonString(language.c_str()));
    t.Add("name", JsonString(name.c_str()));
    t.Add("codec", JsonString(mt ? CodecOfSubtype(mt->subtype) : "unknown"));
    t.Add("channels", JsonNumber(int64_t{wf ? wf->nChannels : 0}));
    t.Add("rate", JsonNumber(int64_t{wf ? wf->nSamplesPerSec : 0}));
    t.Add("bits", JsonNumber(int64_t{wf ? wf->wBitsPerSample : 0}));
    const bool selected = (flags & AMSTREAMSELECTINFO_ENABLED) != 0;
    t.Add("selected", selected ? "true" : "false");
    tracks.Add(t.Text());
    char line[700];
    snprintf(line, sizeof(line), "audio track %lu%s: \"%s\" [%s], %s, %u channel(s), %lu Hz, %u bits",
             static_cast<unsigned long>(i), selected ? " (plays)" : "", Utf8(name.c_str()).c_str(),
             Utf8(language.c_str()).c_str(), mt ? CodecOfSubtype(mt->subtype).c_str() : "unknown",
             wf ? wf->nChannels : 0u, wf ? static_cast<unsigned long>(wf->nSamplesPerSec) : 0ul,
             wf ? wf->wBitsPerSample : 0u);
    r->lines.push_back(line);
    if (mt) {
      CoTaskMemFree(mt->pbFormat);
      if (mt->pUnk) mt->pUnk->Release();
      CoTaskMemFree(mt);
    }
  }
  r->json.Add("audio_tracks", tracks.Text());
}

// The chapters: each marker's name and start in seconds.
void AddChapters(IBaseFilter* filter, Report* r) {
  JsonArray chapters;
  ComPtr<IAMExtendedSeeking> seeking;
  long count = 0;
  if (SUCCEEDED(filter->QueryInterface(IID_IAMExtendedSeeking, seeking.ReleaseAndGetVoidAddress())) &&
      FAILED(seeking->get_MarkerCount(&count)))
    count = 0;
  for (long i = 1; i <= count; ++i) {
    Text name;
    double start = 0;
    if (FAILED(seeking->GetMarkerTime(i, &start)) || FAILED(seeking->GetMarkerName(i, &name.b))) continue;
    JsonObject c;
    c.Add("name", JsonString(name.Utf8()));
    c.Add("start", JsonNumber(start));
    chapters.Add(c.Text());
    char line[600];
    snprintf(line, sizeof(line), "chapter %ld: %.3f s \"%s\"", i, start, name.Utf8().c_str());
    r->lines.push_back(line);
  }
  r->json.Add("chapters", chapters.Text());
}

int Info(const std::wstring& file, bool json) {
  Report r;
  r.json.Add("file", JsonString(file.c_str()));
  ComPtr<IBaseFilter> filter;
  HRESULT hr = kestrel::play::CreateKestrelFilter(filter.ReleaseAndGetAddressOf());
  ComPtr<IFileSourceFilter> source;
  if (SUCCEEDED(hr)) hr = filter->QueryInterface(IID_IFileSourceFilter, source.ReleaseAndGetVoidAddress());
  if (SUCCEEDED(hr)) hr = source->Load(file.c_str(), nullptr);
  r.json.Add("status", JsonString(kestrel::play::HResultName(hr)));
  ComPtr<IQTInfo> info;
  if (SUCCEEDED(hr)) hr = filter->QueryInterface(IID_IQTInfo, info.ReleaseAndGetVoidAddress());
  kestrel::MovieDiagnosis diagnosis;
  const bool diagnosed = DiagnoseMovieFile(file, &diagnosis);
  if (FAILED(hr)) {
    Reason why = LoadFailure(diagnosis, diagnosed);
    if (diagnosed)
      PrintReason("kestrel-info", why);
    else
      fprintf(stderr, "kestrel-info: the file does not load (%s)\n", kestrel::play::HResultName(hr).c_str());
    AddReason(&r.json, why);
    if (json) printf("%s\n", r.json.Text().c_str());
    return 1;
  }
  const Reason video = StreamFailure(diagnosis.video), sound = StreamFailure(diagnosis.sound);
  const Reason why = StreamsLeftOut(diagnosis);
  PrintReason("kestrel-info", why);
  AddVideo(info.Get(), file, &r, video);
  AddAudio(info.Get(), &r, sound);
  AddUserData(info.Get(), &r);
  AddTimeCode(info.Get(), &r);
  AddAudioTracks(filter.Get(), &r);
  AddChapters(filter.Get(), &r);
  AddReason(&r.json, why);
  if (json) {
    printf("%s\n", r.json.Text().c_str());
  } else {
    printf("file: %s\n", Utf8(file.c_str()).c_str());
    for (const std::string& line : r.lines) printf("%s\n", line.c_str());
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  bool json = false;
  std::wstring file;
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i];
    if (a == L"--json") {
      json = true;
    } else if (a.empty() || a[0] == L'-' || !file.empty()) {
      return Usage();
    } else {
      file = a;
    }
  }
  if (file.empty()) return Usage();
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
  int code = Info(file, json);
  CoUninitialize();
  return code;
}

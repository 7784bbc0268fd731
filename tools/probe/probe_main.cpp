// kestrel-probe: opens a movie as the filter does and prints its facts.
//   kestrel-probe [--json] FILE
//   kestrel-probe --atoms FILE
//   kestrel-probe --wav OUT.wav [--seek SECONDS] FILE
//   kestrel-probe --frames N --format UYVY|YUY2|RGB32|ARGB32 [--seek SECONDS]
//                 [--stride BYTES] [--flip 0|1] --out DIR FILE
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "common/json_writer.h"
#include "common/play_reason.h"
#include "probe/probe.h"
#include "video/movie_session.h"

namespace {

std::string Ansi(const wchar_t* wide) {
  int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_ACP, 0, wide, -1, out.data(), n, nullptr, nullptr);
  return out;
}

const char* StatusName(HRESULT hr) {
  switch (hr) {
    case S_OK:
      return "S_OK";
    case S_FALSE:
      return "S_FALSE";
    case E_FAIL:
      return "E_FAIL";
    case E_OUTOFMEMORY:
      return "E_OUTOFMEMORY";
    case E_POINTER:
      return "E_POINTER";
    case E_UNEXPECTED:
      return "E_UNEXPECTED";
    default:
      return "error";
  }
}

// A stream the engine cannot decode: null, and a line saying so.
kestrel::probe::Section LeftOut(const char* kind) {
  kestrel::probe::Section s;
  s.lines.push_back(std::string(kind) + ": left out");
  return s;
}

int Usage() {
  fprintf(stderr,
          "usage: kestrel-probe [--json] FILE\n"
          "       kestrel-probe --atoms FILE\n"
          "       kestrel-probe --wav OUT.wav [--seek SECONDS] FILE\n"
          "       kestrel-probe --frames N --format UYVY|YUY2|RGB32|ARGB32 [--seek SECONDS]\n"
          "                     [--stride BYTES] [--flip 0|1] --out DIR FILE\n");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  using namespace kestrel::probe;
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i];
    auto next = [&]() -> std::string { return i + 1 < argc ? Ansi(argv[++i]) : std::string(); };
    if (a == L"--json")
      options.json = true;
    else if (a == L"--atoms")
      options.atoms = true;
    else if (a == L"--wav")
      options.wav_out = next();
    else if (a == L"--seek")
      options.seek_seconds = atof(next().c_str());
    else if (a == L"--frames")
      options.frames = atoi(next().c_str());
    else if (a == L"--format")
      options.format = next();
    else if (a == L"--stride")
      options.stride = atoi(next().c_str());
    else if (a == L"--flip")
      options.flip = atoi(next().c_str());
    else if (a == L"--out")
      options.frames_out = next();
    else if (!a.empty() && a[0] == L'-')
      return Usage();
    else
      options.file = argv[i];
  }
  if (options.file.empty()) return Usage();

  if (InitializeQTML(0) != noErr || EnterMovies() != noErr) {
    fprintf(stderr, "kestrel-probe: the media engine could not be started\n");
  }

  if (options.atoms) return PrintAtoms(options);
  if (!options.wav_out.empty()) return WriteWav(options);

  kestrel::MovieSession session;
  HRESULT hr = session.Open(options.file.c_str());
  if (options.frames > 0) return WriteFrames(session, options);

  // Why the movie does not open, or which stream does not play.
  kestrel::MovieDiagnosis diagnosis;
  const bool diagnosed = DiagnoseMovieFile(options.file, &diagnosis);
  Reason why = FAILED(hr) ? LoadFailure(diagnosis, diagnosed) : StreamsLeftOut(diagnosis);
  const bool video_out = SUCCEEDED(hr) && StreamFailure(diagnosis.video);
  const bool sound_out = SUCCEEDED(hr) && StreamFailure(diagnosis.sound);
  Section video = video_out ? LeftOut("video") : ProbeVideo(session);
  Section audio = sound_out ? LeftOut("audio") : ProbeAudio(options);
  // Sound the engine decodes and the audio side does not take (more
  // channels than a wave format's speakers name).
  if (SUCCEEDED(hr) && !why && diagnosis.sound.Plays() && audio.json == "null") {
    why = {kestrel::PlayReason::kMediaTypeRefused,
           "Kestrel cannot deliver the sound as it is (" + diagnosis.sound.format + ")."};
  }
  Section user_data = ProbeUserData(options);
  Section time_code = ProbeTimeCode(session);

  PrintReason("kestrel-probe", why);

  if (options.json) {
    JsonObject root;
    root.Add("file", JsonString(options.file.c_str()));
    root.Add("status", JsonString(StatusName(hr)));
    root.Add("video", video.json);
    for (auto [key, section] : {std::pair{"audio", &audio}, {"user_data", &user_data}, {"timecode", &time_code}}) {
      if (!section->json.empty()) root.Add(key, section->json);
    }
    AddReason(&root, why);
    printf("%s\n", root.Text().c_str());
  } else {
    printf("file: %s\nstatus: %s\n", Utf8(options.file.c_str()).c_str(), StatusName(hr));
    for (const Section* s : {&video, &audio, &user_data, &time_code})
      for (const auto& line : s->lines) printf("%s\n", line.c_str());
  }
  ExitMovies();
  return FAILED(hr) ? 1 : 0;
}

#include "common/play_reason.h"

#include <windows.h>

#include <cstdio>

#include "qtmedia.h"

namespace kestrel::tools {

bool DiagnoseMovieFile(const std::wstring& path, MovieDiagnosis* out) {
  *out = MovieDiagnosis();
  static const bool started = InitializeQTML(0) == noErr;
  return started && SUCCEEDED(DiagnoseMovie(MoviePath(path.c_str()), out));
}

Reason LoadFailure(const MovieDiagnosis& diagnosis, bool asked) {
  Reason r;
  if (!asked) {
    r.text = "The media engine cannot be asked why.";
    return r;
  }
  r.code = WhyLoadFails(diagnosis, &r.text);
  return r;
}

Reason StreamFailure(const StreamDiagnosis& stream) {
  Reason r;
  if (stream.present && stream.reason != PlayReason::kNone) {
    r.code = stream.reason;
    r.text = stream.text;
  }
  return r;
}

Reason StreamsLeftOut(const std::vector<Reason>& left_out, const char* still_plays) {
  Reason r;
  for (const Reason& each : left_out) {
    if (!each) continue;
    if (r.code == PlayReason::kNone) r.code = each.code;
    r.text += (r.text.empty() ? "" : " ") + each.text;
  }
  if (r && still_plays) r.text += std::string(" The ") + still_plays + " still plays.";
  return r;
}

Reason StreamsLeftOut(const MovieDiagnosis& d) {
  Reason r = StreamsLeftOut({StreamFailure(d.video), StreamFailure(d.sound)}, d.video.Plays()   ? "video"
                                                                              : d.sound.Plays() ? "sound"
                                                                                                : nullptr);
  if (!r && d.reason != PlayReason::kNone) r = {d.reason, d.text};
  return r;
}

void AddReason(JsonObject* json, const Reason& reason) {
  const char* code = PlayReasonCode(reason.code);
  json->Add("reason", reason ? JsonString(reason.text) : "null");
  json->Add("reason_code", code ? JsonString(code) : "null");
}

void PrintReason(const char* tool, const Reason& reason) {
  if (reason) fprintf(stderr, "%s: %s\n", tool, reason.text.c_str());
}

}  // namespace kestrel::tools

// Why a movie, or a stream of it, does not play, as the tools say it: the
// media engine's reading of the file (the filter's Load answers only
// E_FAIL), one line on standard error and "reason"/"reason_code" in JSON.
#ifndef KESTREL_TOOLS_COMMON_PLAY_REASON_H
#define KESTREL_TOOLS_COMMON_PLAY_REASON_H

#include <string>
#include <vector>

#include "common/json_writer.h"
#include "movie/movie_diagnosis.h"

namespace kestrel::tools {

struct Reason {
  PlayReason code = PlayReason::kNone;
  std::string text;  // a sentence, UTF-8
  explicit operator bool() const { return code != PlayReason::kNone || !text.empty(); }
};

// Loads the engine into this process when it is not (the filter's copy is
// the same library) and asks it about the file at path, opened as the
// filter opens it. False when the engine cannot be asked.
bool DiagnoseMovieFile(const std::wstring& path, MovieDiagnosis* out);

// Why Load failed, from the diagnosis (asked: what DiagnoseMovieFile
// answered; without one the sentence says so, with no code).
Reason LoadFailure(const MovieDiagnosis& diagnosis, bool asked);

// A stream's reason when the engine says it does not play; none otherwise.
Reason StreamFailure(const StreamDiagnosis& stream);

// The streams left out of a run, in order, then which stream still plays
// ("video", "sound"; null when none does): one reason, the first one's code.
Reason StreamsLeftOut(const std::vector<Reason>& left_out, const char* still_plays);

// For a movie that loads: the streams the engine says do not play and the
// one that still does, or the movie's own reason when it has no stream.
Reason StreamsLeftOut(const MovieDiagnosis& diagnosis);

// "reason" and "reason_code": null and null when there is none.
void AddReason(JsonObject* json, const Reason& reason);

// "TOOL: sentence" on standard error.
void PrintReason(const char* tool, const Reason& reason);

}  // namespace kestrel::tools

#endif

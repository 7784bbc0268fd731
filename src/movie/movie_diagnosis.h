// Why a movie, or one of its streams, does not play, as the media engine
// reads it (its qtm_DiagnoseMovie, beside QuickTime's calls), and the names
// the tools give each kind of reason. The filter's Load answers only E_FAIL;
// this is how the filter's log and the tools say why.
#ifndef KESTREL_MOVIE_MOVIE_DIAGNOSIS_H
#define KESTREL_MOVIE_MOVIE_DIAGNOSIS_H

#include <windows.h>

#include <string>

#include "movie/movie_file.h"

namespace kestrel {

enum class PlayReason {
  kNone,
  kNotFound,
  kIsDirectory,
  kUnreadable,
  kEmpty,
  kNotAMovie,
  kDamaged,
  kUnsupportedCodec,
  kEncrypted,
  kMediaTypeRefused,  // found by whoever connects the pins, never by the engine
  kNoPlayableStream,
};

// "not_found", "is_directory", "unreadable", "empty", "not_a_movie",
// "damaged", "unsupported_codec", "encrypted", "media_type_refused",
// "no_playable_stream"; null for kNone.
const char* PlayReasonCode(PlayReason reason);

struct StreamDiagnosis {
  bool present = false;  // the movie has a track of this kind
  PlayReason reason = PlayReason::kNone;
  std::string text;    // why it does not play, a sentence (UTF-8)
  std::string format;  // what its sample description says
  bool Plays() const { return present && reason == PlayReason::kNone; }
};

struct MovieDiagnosis {
  // The movie as a whole: kNone when it opens with a video or a sound track.
  PlayReason reason = PlayReason::kNone;
  std::string text;
  StreamDiagnosis video, sound;
};

// Asks the engine about the movie at path, opened as the filter opens it.
// E_FAIL without a path or when the engine cannot be asked (not loaded).
HRESULT DiagnoseMovie(const MoviePath& path, MovieDiagnosis* out);

// Why a Load of the movie fails: the movie's own reason, or else that of the
// first stream that does not play. When the engine finds nothing wrong, the
// filter refused the streams as they are: kMediaTypeRefused, naming them.
PlayReason WhyLoadFails(const MovieDiagnosis& diagnosis, std::string* text);

}  // namespace kestrel

#endif

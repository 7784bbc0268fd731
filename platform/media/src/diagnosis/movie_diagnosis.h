// Why a movie, or one of its streams, does not play: the engine reads it as
// the movie calls do (the file, the movie reader or the importer, each
// stream's sample description and decoder) and says what stopped it, in a
// sentence a person can act on. What the file is called plays no part.
#ifndef QTMEDIA_DIAGNOSIS_MOVIE_DIAGNOSIS_H
#define QTMEDIA_DIAGNOSIS_MOVIE_DIAGNOSIS_H

#include <cstdint>
#include <string>

#include "qtmedia.h"

namespace qtm {

struct StreamDiagnosis {
  bool present = false;
  int32_t verdict = qtmPlays;  // qtmedia/engine.h
  std::string reason;          // empty when it plays
  std::string format;          // what its sample description says
};

struct MovieDiagnosis {
  int32_t verdict = qtmPlays;
  std::string reason;
  StreamDiagnosis video, sound;
};

// The movie at a path (UTF-8).
MovieDiagnosis DiagnoseMovie(const std::string& path);

}  // namespace qtm

#endif

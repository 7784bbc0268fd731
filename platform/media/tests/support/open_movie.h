// What the engine's tests, fuzzers and benchmarks do as the filter does:
// open a movie at a native path, and step through a media's samples.
#ifndef QTMEDIA_SUPPORT_OPEN_MOVIE_H
#define QTMEDIA_SUPPORT_OPEN_MOVIE_H

#include <cstdint>
#include <cstring>
#include <string>

#include "qtmedia.h"

namespace qtm::support {

// FSMakeFSSpec, OpenMovieFile and NewMovieFromFile; null when the movie
// does not open, with why in status.
inline Movie OpenMovieAt(const std::string& path, OSErr* status = nullptr) {
  OSErr err = paramErr;
  Movie movie = nullptr;
  if (!path.empty() && path.size() <= 255) {
    Str255 name;
    name[0] = static_cast<uint8_t>(path.size());
    std::memcpy(name + 1, path.data(), path.size());
    FSSpec file;
    FSMakeFSSpec(0, 0, name, &file);  // a missing file is for OpenMovieFile to report
    int16_t ref = 0;
    err = OpenMovieFile(&file, &ref, fsRdPerm);
    if (err == noErr) {
      err = NewMovieFromFile(&movie, ref, nullptr, nullptr, newMovieActive, nullptr);
      CloseMovieFile(ref);
    }
  }
  if (status) *status = err;
  return movie;
}

// The samples of a media counted as the movie session counts frames: from
// the first sample time on, each next one, until there is none.
inline int64_t CountSampleTimes(Media media) {
  int64_t count = -1;
  TimeValue64 t = 0;
  int16_t flags = nextTimeMediaSample | nextTimeEdgeOK;
  while (t >= 0) {
    ++count;
    GetMediaNextInterestingDecodeTime(media, flags, t, fixed1, &t, nullptr);
    flags = nextTimeMediaSample;
  }
  return count;
}

}  // namespace qtm::support

#endif  // QTMEDIA_SUPPORT_OPEN_MOVIE_H

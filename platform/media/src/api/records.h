// What the engine's opaque QuickTime references point to.
#ifndef QTMEDIA_API_RECORDS_H
#define QTMEDIA_API_RECORDS_H

#include <memory>
#include <vector>

#include "api/track_segments.h"
#include "movie/movie_model.h"
#include "qtmedia.h"

struct MediaRecord {
  struct MovieRecord* movie = nullptr;
  qtm::TrackModel* track = nullptr;
  MediaHandler handler = nullptr;  // made on first GetMediaHandler, owned
};

struct TrackRecord {
  struct MovieRecord* movie = nullptr;
  qtm::TrackModel* track = nullptr;
  MediaRecord media;
  std::vector<qtm::TrackSegment> segments;  // the edit list, built with the movie
};

struct MovieRecord {
  std::unique_ptr<qtm::MovieModel> model;
  std::vector<std::unique_ptr<TrackRecord>> tracks;  // parallel to model->tracks
  bool active = false;
  TimeValue64 time = 0;  // movie time
};

#endif

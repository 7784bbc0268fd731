// What the engine's opaque QuickTime references point to.
#ifndef QTMEDIA_API_RECORDS_H
#define QTMEDIA_API_RECORDS_H

#include <memory>
#include <vector>

#include "movie/movie_model.h"
#include "qtmedia.h"

// A user-data list: a movie's (its udta items, its iTunes list and an
// imported file's tags) or a track's (its udta items alone).
struct UserDataRecord {
  const qtm::MovieModel* movie = nullptr;                 // a movie's list
  const std::vector<qtm::UserDataItem>* items = nullptr;  // the udta items
};

struct MediaRecord {
  struct MovieRecord* movie = nullptr;
  qtm::TrackModel* track = nullptr;
  MediaHandler handler = nullptr;  // made on first GetMediaHandler, owned
};

struct TrackRecord {
  struct MovieRecord* movie = nullptr;
  qtm::TrackModel* track = nullptr;
  MediaRecord media;
  UserDataRecord user_data;
};

struct MovieRecord {
  std::unique_ptr<qtm::MovieModel> model;
  std::vector<std::unique_ptr<TrackRecord>> tracks;  // parallel to model->tracks
  bool active = false;
  TimeValue64 time = 0;  // movie time
  UserDataRecord user_data;
};

#endif

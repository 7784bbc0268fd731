// A track's edit list as segments on the movie's timeline, built once when
// the movie is made and looked up by binary search.
#ifndef QTMEDIA_API_TRACK_SEGMENTS_H
#define QTMEDIA_API_TRACK_SEGMENTS_H

#include <cstdint>
#include <vector>

#include "movie/movie_model.h"
#include "qtmedia.h"

namespace qtm {

struct TrackSegment {
  int64_t start = 0;        // movie time scale
  int64_t duration = 0;     // movie time scale, above 0
  int64_t media_time = -1;  // media display time shown at start; -1: empty
  Fixed rate = fixed1;
};

// The segments in movie order, each starting where the one before ends.
// Throws std::bad_alloc.
std::vector<TrackSegment> BuildTrackSegments(const TrackModel& track, int32_t movie_timescale);

// The segment holding time; null outside every segment.
const TrackSegment* TrackSegmentAt(const std::vector<TrackSegment>& segments, int64_t time);

}  // namespace qtm

#endif

// A track's edit list as QuickTime answers it: the track's segments on the
// movie's timeline and the media display time each one shows.
//
// A track without an edit list shows its whole media from movie time 0. A
// last edit of duration 0 that shows media runs to the end of the media
// (fragmented files write it so); any other edit of duration 0 takes no
// time. A media time below 0 is an empty edit.
#include <algorithm>
#include <climits>
#include <vector>

#include "api/api_state.h"
#include "api/export.h"
#include "api/records.h"
#include "api/track_segments.h"
#include "movie/mul_div.h"
#include "qtmedia.h"

namespace qtm {
namespace {

// a * b / c, rounded up for a positive result and held to 64 bits; 0 when c
// is 0.
int64_t MulDivUp(int64_t a, int64_t b, int64_t c) {
  bool inexact = false;
  int64_t q = MulDiv64(a, b, c, &inexact);
  const bool positive = ((a < 0) != (b < 0)) == (c < 0);
  if (inexact && positive && q < INT64_MAX) ++q;
  return q;
}

bool IsEditFlags(int16_t flags) { return (flags & (nextTimeTrackEdit | nextTimeMediaEdit)) != 0; }

}  // namespace

std::vector<TrackSegment> BuildTrackSegments(const TrackModel& m, int32_t movie_scale) {
  std::vector<TrackSegment> out;
  if (m.edits.empty()) {
    int64_t duration = m.track_duration;
    if (duration <= 0) duration = MulDivUp(m.media_duration, movie_scale, m.timescale);
    out.push_back({0, duration, 0, fixed1});
    return out;
  }
  out.reserve(m.edits.size());
  int64_t start = 0;
  for (size_t i = 0; i < m.edits.size(); ++i) {
    const Edit& e = m.edits[i];
    TrackSegment s{start, e.segment_duration, e.media_time < 0 ? -1 : e.media_time, e.rate > 0 ? e.rate : fixed1};
    if (s.duration == 0 && s.media_time >= 0 && i + 1 == m.edits.size() && m.media_duration > s.media_time) {
      s.duration = MulDivUp(m.media_duration - s.media_time, static_cast<int64_t>(movie_scale) * fixed1,
                            static_cast<int64_t>(m.timescale) * s.rate);
    }
    if (s.duration <= 0) continue;
    // The timeline ends where 64 bits do.
    if (s.duration > INT64_MAX - start) s.duration = INT64_MAX - start;
    if (s.duration <= 0) break;
    out.push_back(s);
    start += s.duration;
  }
  out.shrink_to_fit();
  return out;
}

const TrackSegment* TrackSegmentAt(const std::vector<TrackSegment>& segments, int64_t time) {
  auto after = std::upper_bound(segments.begin(), segments.end(), time,
                                [](int64_t t, const TrackSegment& s) { return t < s.start; });
  if (after == segments.begin()) return nullptr;
  const TrackSegment& s = *(after - 1);
  return time - s.start < s.duration ? &s : nullptr;
}

}  // namespace qtm

// Edits only: the segment starting at time (with nextTimeEdgeOK) or the next
// one in the direction of rate; -1 when there is none.
QTM_EXPORT void GetTrackNextInterestingTime(Track theTrack, int16_t interestingTimeFlags, TimeValue time, Fixed rate,
                                            TimeValue* interestingTime, TimeValue* interestingDuration) {
  if (interestingTime) *interestingTime = -1;
  if (interestingDuration) *interestingDuration = 0;
  if (!theTrack) {
    qtm::SetMoviesError(invalidTrack);
    return;
  }
  if (!qtm::IsEditFlags(interestingTimeFlags) || rate == 0) {
    qtm::SetMoviesError(paramErr);
    return;
  }
  qtm::SetMoviesError(noErr);
  const bool edge_ok = (interestingTimeFlags & nextTimeEdgeOK) != 0;
  const std::vector<qtm::TrackSegment>& segments = theTrack->segments;
  const qtm::TrackSegment* found = nullptr;
  if (rate > 0) {
    // The first segment starting after time, or at it with nextTimeEdgeOK.
    auto it = edge_ok ? std::lower_bound(segments.begin(), segments.end(), int64_t{time},
                                         [](const qtm::TrackSegment& s, int64_t t) { return s.start < t; })
                      : std::upper_bound(segments.begin(), segments.end(), int64_t{time},
                                         [](int64_t t, const qtm::TrackSegment& s) { return t < s.start; });
    if (it != segments.end()) found = &*it;
  } else {
    // The last segment starting before time, or at it with nextTimeEdgeOK.
    auto it = edge_ok ? std::upper_bound(segments.begin(), segments.end(), int64_t{time},
                                         [](int64_t t, const qtm::TrackSegment& s) { return t < s.start; })
                      : std::lower_bound(segments.begin(), segments.end(), int64_t{time},
                                         [](const qtm::TrackSegment& s, int64_t t) { return s.start < t; });
    if (it != segments.begin()) found = &*(it - 1);
  }
  if (!found || found->start > INT32_MAX) return;
  if (interestingTime) *interestingTime = static_cast<TimeValue>(found->start);
  if (interestingDuration)
    *interestingDuration = static_cast<TimeValue>(found->duration > INT32_MAX ? INT32_MAX : found->duration);
}

// The media display time shown at a track time: -1 in an empty edit or
// outside every edit.
QTM_EXPORT TimeValue64 TrackTimeToMediaDisplayTime(TimeValue64 value, Track theTrack) {
  if (!theTrack) return qtm::SetMoviesError(invalidTrack), -1;
  qtm::SetMoviesError(noErr);
  const qtm::TrackSegment* s = qtm::TrackSegmentAt(theTrack->segments, value);
  if (!s || s->media_time < 0) return -1;
  const int64_t movie_scale = theTrack->movie->model->timescale;
  if (movie_scale <= 0) return -1;
  const int64_t offset =
      qtm::MulDiv64(value - s->start, static_cast<int64_t>(theTrack->track->timescale) * s->rate, movie_scale * fixed1);
  return offset > INT64_MAX - s->media_time ? INT64_MAX : s->media_time + offset;
}

// The rate of the edit at a track time; 0 outside every edit.
QTM_EXPORT Fixed GetTrackEditRate64(Track theTrack, TimeValue64 atTime) {
  if (!theTrack) return qtm::SetMoviesError(invalidTrack), 0;
  qtm::SetMoviesError(noErr);
  const qtm::TrackSegment* s = qtm::TrackSegmentAt(theTrack->segments, atTime);
  return s ? s->rate : 0;
}

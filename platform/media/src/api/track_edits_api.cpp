// A track's edit list as QuickTime answers it: the track's segments on the
// movie's timeline and the media display time each one shows.
//
// A track without an edit list shows its whole media from movie time 0. A
// last edit of duration 0 that shows media runs to the end of the media
// (fragmented files write it so); any other edit of duration 0 takes no
// time. A media time below 0 is an empty edit.
#include <climits>
#include <vector>

#include "api/api_state.h"
#include "api/export.h"
#include "api/records.h"
#include "qtmedia.h"

namespace qtm {
namespace {

struct Segment {
  int64_t start = 0;     // movie time scale
  int64_t duration = 0;  // movie time scale
  int64_t media_time = -1;
  Fixed rate = fixed1;
};

// a * b / c in 128 bits, rounded up for a positive result; 0 when c is 0.
int64_t MulDivUp(int64_t a, int64_t b, int64_t c) {
  if (c == 0) return 0;
  __int128 p = static_cast<__int128>(a) * b;
  __int128 q = p / c;
  if (p % c != 0 && (p > 0) == (c > 0)) ++q;
  return static_cast<int64_t>(q);
}

std::vector<Segment> SegmentsOf(const TrackRecord& t) {
  const TrackModel& m = *t.track;
  const int32_t movie_scale = t.movie->model->timescale;
  std::vector<Segment> out;
  if (m.edits.empty()) {
    int64_t duration = m.track_duration;
    if (duration <= 0) duration = MulDivUp(m.media_duration, movie_scale, m.timescale);
    out.push_back({0, duration, 0, fixed1});
    return out;
  }
  int64_t start = 0;
  for (size_t i = 0; i < m.edits.size(); ++i) {
    const Edit& e = m.edits[i];
    Segment s{start, e.segment_duration, e.media_time < 0 ? -1 : e.media_time, e.rate > 0 ? e.rate : fixed1};
    if (s.duration == 0 && s.media_time >= 0 && i + 1 == m.edits.size() && m.media_duration > s.media_time) {
      s.duration = MulDivUp(m.media_duration - s.media_time, static_cast<int64_t>(movie_scale) * fixed1,
                            static_cast<int64_t>(m.timescale) * s.rate);
    }
    if (s.duration <= 0) continue;
    out.push_back(s);
    start += s.duration;
  }
  return out;
}

const Segment* SegmentAt(const std::vector<Segment>& segments, int64_t time) {
  for (const Segment& s : segments)
    if (time >= s.start && time - s.start < s.duration) return &s;
  return nullptr;
}

bool IsEditFlags(int16_t flags) { return (flags & (nextTimeTrackEdit | nextTimeMediaEdit)) != 0; }

}  // namespace
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
  const std::vector<qtm::Segment> segments = qtm::SegmentsOf(*theTrack);
  const qtm::Segment* found = nullptr;
  for (const qtm::Segment& s : segments) {
    bool ok =
        rate > 0 ? (s.start > time || (edge_ok && s.start == time)) : (s.start < time || (edge_ok && s.start == time));
    if (!ok) continue;
    if (rate > 0) {
      found = &s;
      break;
    }
    found = &s;  // backwards: the last one before time
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
  std::vector<qtm::Segment> segments = qtm::SegmentsOf(*theTrack);
  const qtm::Segment* s = qtm::SegmentAt(segments, value);
  if (!s || s->media_time < 0) return -1;
  const int64_t movie_scale = theTrack->movie->model->timescale;
  if (movie_scale <= 0) return -1;
  __int128 offset = static_cast<__int128>(value - s->start) * theTrack->track->timescale * s->rate;
  return s->media_time + static_cast<int64_t>(offset / (movie_scale * fixed1));
}

// The rate of the edit at a track time; 0 outside every edit.
QTM_EXPORT Fixed GetTrackEditRate64(Track theTrack, TimeValue64 atTime) {
  if (!theTrack) return qtm::SetMoviesError(invalidTrack), 0;
  qtm::SetMoviesError(noErr);
  std::vector<qtm::Segment> segments = qtm::SegmentsOf(*theTrack);
  const qtm::Segment* s = qtm::SegmentAt(segments, atTime);
  return s ? s->rate : 0;
}

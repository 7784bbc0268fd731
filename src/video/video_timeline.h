// VideoTimeline: the video track's edit list between the movie session's
// pictures (media display times) and the video pin's samples (movie time).
//
// Each segment shows a stretch of the media at a place on the movie's
// timeline: an empty segment delays what follows, a segment's media time is
// subtracted, and pictures that no segment shows are decoded (as references)
// but not delivered. Segments are played in order; a segment that does not
// continue where the previous one ended moves the session there first. A
// track without an edit list, or with one edit showing the whole media from
// its start, passes times through unchanged.
#ifndef KESTREL_VIDEO_VIDEO_TIMELINE_H
#define KESTREL_VIDEO_VIDEO_TIMELINE_H

#include <windows.h>

#include <cstdint>
#include <vector>

#include "video/movie_session.h"

namespace kestrel {

class VideoTimeline {
 public:
  // Reads the session's edit list; media_duration (100 ns) is the media's
  // own duration. S_OK, E_FAIL without video, E_OUTOFMEMORY.
  HRESULT Load(MovieSession* session, int64_t media_duration);

  // Drops the segments and their memory: times pass through again.
  void Clear();

  // Where the video ends on the movie's timeline (100 ns): the media's
  // duration when times pass through, else the end of the last segment.
  int64_t Duration() const { return m_duration; }
  bool PassesThrough() const { return m_passThrough; }

  // Moves the session so that the next picture is the first one shown at or
  // after position (movie time, 100 ns).
  HRESULT Seek(MovieSession* session, int64_t position);

  // The next picture shown on the movie's timeline into destination, with
  // its start and stop in movie time. S_OK, S_FALSE at the end, or the
  // session's failure; E_FAIL when more than kMaxSamplesPerPicture pictures
  // no segment shows and segments passed over come before one that shows.
  HRESULT NextFrame(MovieSession* session, uint8_t* destination, size_t size, int64_t* start, int64_t* stop);

 private:
  struct Segment {
    int64_t movie_start = 0;  // 100 ns
    int64_t media_start = 0;  // media time scale
    // The segment shows media display times in [media_start, media_end).
    int64_t media_end = 0;
    Fixed rate = fixed1;
  };
  // Movie time (100 ns) of a media display time inside segment s.
  int64_t ToMovieTime(const Segment& s, TimeValue64 media_time) const;
  // The media time segment s has shown by a movie time (100 ns); 0 before
  // it starts.
  int64_t ShownAt(const Segment& s, int64_t position) const;
  // Makes m_segment the first segment at or after index; false at the end.
  bool EnterSegment(MovieSession* session, size_t index, bool continuous);

  std::vector<Segment> m_segments;  // non-empty segments, in movie order
  size_t m_segment = 0;             // the one being played
  bool m_started = false;           // the session was placed on a segment
  // The session was moved to the current segment's start and has given no
  // picture since.
  bool m_atSegmentStart = false;
  // No picture is shown at or after this media time (the session found
  // none there): segments that start there are passed over at once.
  TimeValue64 m_noPicturesFrom = INT64_MAX;
  bool m_passThrough = true;
  int32_t m_mediaScale = 0;
  int64_t m_duration = 0;
};

}  // namespace kestrel

#endif

#include "video/video_timeline.h"

#include <algorithm>
#include <climits>
#include <new>

#include "movie/media_time.h"

namespace kestrel {
namespace {

// a * b / c in 128 bits, rounded up; a, b >= 0 and c > 0.
int64_t MulDivUp(int64_t a, int64_t b, int64_t c) {
  __int128 p = static_cast<__int128>(a) * b;
  __int128 q = p / c + (p % c != 0 ? 1 : 0);
  return q > INT64_MAX ? INT64_MAX : static_cast<int64_t>(q);
}

}  // namespace

void VideoTimeline::Clear() {
  std::vector<Segment>().swap(m_segments);
  m_segment = 0;
  m_started = false;
  m_atSegmentStart = false;
  m_noPicturesFrom = INT64_MAX;
  m_passThrough = true;
}

HRESULT VideoTimeline::Load(MovieSession* session, int64_t media_duration) {
  Clear();
  m_duration = media_duration;
  m_mediaScale = session->GetVideoTimeScale();
  if (m_mediaScale <= 0) return E_FAIL;

  std::vector<VideoEdit> edits;
  int32_t movie_scale = 0;
  HRESULT hr = session->GetVideoEdits(&edits, &movie_scale);
  if (hr == E_OUTOFMEMORY) return hr;
  // An edit list that shows nothing at all (every edit of no duration) is
  // taken as none: the media plays as it is.
  if (FAILED(hr)) return S_OK;

  m_passThrough = edits.size() == 1 && edits[0].movie_start == 0 && edits[0].media_time == 0 && edits[0].rate == fixed1;
  if (m_passThrough) return S_OK;
  try {
    for (const VideoEdit& e : edits) {
      if (e.media_time < 0) continue;
      Segment s;
      s.movie_start = MovieToMediaTime(e.movie_start, movie_scale);
      s.media_start = e.media_time;
      s.rate = e.rate;
      // A picture at d is shown when (d - media_start) * movie_scale / rate
      // < movie_duration * media_scale: the bound rounded up is exact.
      int64_t span = MulDivUp(e.movie_duration, static_cast<int64_t>(m_mediaScale) * e.rate,
                              static_cast<int64_t>(movie_scale) * fixed1);
      s.media_end = span > INT64_MAX - s.media_start ? INT64_MAX : s.media_start + span;
      m_segments.push_back(s);
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  const VideoEdit& last = edits.back();
  m_duration = MovieToMediaTime(last.movie_start + last.movie_duration, movie_scale);
  return S_OK;
}

int64_t VideoTimeline::ToMovieTime(const Segment& s, TimeValue64 media_time) const {
  // The product is formed in 128 bits: media times from a file can be large;
  // the sum stops at the end of 64 bits.
  int64_t offset =
      MulDiv64(media_time - s.media_start, kUnitsPerSecond * fixed1, static_cast<int64_t>(m_mediaScale) * s.rate);
  return offset > INT64_MAX - s.movie_start ? INT64_MAX : s.movie_start + offset;
}

bool VideoTimeline::EnterSegment(MovieSession* session, size_t index, bool continuous) {
  m_segment = index;
  m_atSegmentStart = false;
  if (index >= m_segments.size()) return false;
  if (!continuous && m_segments[index].media_start < m_noPicturesFrom) {
    session->SeekToMediaTime(m_segments[index].media_start);
    m_atSegmentStart = true;
  }
  return true;
}

// Media time shown in segment s at a movie time; 0 before its start.
int64_t VideoTimeline::ShownAt(const Segment& s, int64_t position) const {
  if (position <= s.movie_start) return 0;
  return MulDiv64(position - s.movie_start, static_cast<int64_t>(m_mediaScale) * s.rate, kUnitsPerSecond * fixed1);
}

HRESULT VideoTimeline::Seek(MovieSession* session, int64_t position) {
  m_started = true;
  if (m_passThrough) return session->SeekTo(position);
  // The first segment that ends after the position (segments follow each
  // other on the movie's timeline); before its start (an empty edit) the
  // position is its first picture.
  auto ended = [&](const Segment& s) { return ShownAt(s, position) >= s.media_end - s.media_start; };
  auto it = std::partition_point(m_segments.begin(), m_segments.end(), ended);
  m_segment = static_cast<size_t>(it - m_segments.begin());
  m_atSegmentStart = false;
  if (it == m_segments.end()) return S_OK;
  return session->SeekToMediaTime(it->media_start + ShownAt(*it, position));
}

HRESULT VideoTimeline::NextFrame(MovieSession* session, uint8_t* destination, size_t size, int64_t* start,
                                 int64_t* stop) {
  if (m_passThrough) return session->ProduceFrame(destination, size, start, stop);
  if (!m_started) {
    m_started = true;
    if (!EnterSegment(session, 0, !m_segments.empty() && m_segments[0].media_start <= 0)) return S_FALSE;
  }
  // Pictures no segment shows and segments passed over count against one
  // bound a request, as the session counts samples without a picture.
  for (int passed = 0; passed <= MovieSession::kMaxSamplesPerPicture;) {
    if (m_segment >= m_segments.size()) return S_FALSE;
    if (m_segments[m_segment].media_start >= m_noPicturesFrom) {
      // No picture is shown from there on: passed over without a seek.
      ++passed;
      if (!EnterSegment(session, m_segment + 1, false)) return S_FALSE;
      continue;
    }
    TimeValue64 time = 0, duration = 0;
    HRESULT hr = session->ProducePicture(destination, size, &time, &duration);
    if (hr == S_FALSE) {
      // The media ended inside this segment (at its very start: no picture
      // is shown from there on); the next one, if any, starts from its own
      // media time.
      if (m_atSegmentStart) m_noPicturesFrom = std::min(m_noPicturesFrom, m_segments[m_segment].media_start);
      ++passed;
      if (!EnterSegment(session, m_segment + 1, false)) return S_FALSE;
      continue;
    }
    if (hr != S_OK) return hr;
    m_atSegmentStart = false;
    for (;;) {
      const Segment& s = m_segments[m_segment];
      if (time < s.media_start) {
        ++passed;
        break;
      }
      if (time < s.media_end) {
        if (start) *start = ToMovieTime(s, time);
        if (stop) *stop = ToMovieTime(s, time + duration);
        return S_OK;
      }
      // Past this segment: the next one goes on from here when it continues
      // the media where this one ended; otherwise the session moves there.
      size_t next = m_segment + 1;
      bool continuous = next < m_segments.size() && m_segments[next].media_start == s.media_end;
      if (++passed > MovieSession::kMaxSamplesPerPicture) return E_FAIL;
      if (!EnterSegment(session, next, continuous)) return S_FALSE;
      if (!continuous) break;
    }
  }
  return E_FAIL;
}

}  // namespace kestrel

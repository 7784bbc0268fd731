#include "video/video_timeline.h"

#include <algorithm>
#include <climits>
#include <new>

#include "engine/media_time.h"

namespace kestrel {
namespace {

// a * b / c in 128 bits, rounded up; a, b >= 0 and c > 0.
int64_t MulDivUp(int64_t a, int64_t b, int64_t c) {
  __int128 p = static_cast<__int128>(a) * b;
  __int128 q = p / c + (p % c != 0 ? 1 : 0);
  return q > INT64_MAX ? INT64_MAX : static_cast<int64_t>(q);
}

}  // namespace

HRESULT VideoTimeline::Load(MovieSession* session, int64_t media_duration) {
  m_segments.clear();
  m_segment = 0;
  m_started = false;
  m_passThrough = true;
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
  if (index >= m_segments.size()) return false;
  if (!continuous) session->SeekToMediaTime(m_segments[index].media_start);
  return true;
}

HRESULT VideoTimeline::Seek(MovieSession* session, int64_t position) {
  m_started = true;
  if (m_passThrough) return session->SeekTo(position);
  // The first segment that ends after the position; before its start (an
  // empty edit) the position is its first picture.
  for (size_t i = 0; i < m_segments.size(); ++i) {
    const Segment& s = m_segments[i];
    int64_t shown =
        position <= s.movie_start
            ? 0
            : MulDiv64(position - s.movie_start, static_cast<int64_t>(m_mediaScale) * s.rate, kUnitsPerSecond * fixed1);
    if (shown >= s.media_end - s.media_start) continue;
    m_segment = i;
    return session->SeekToMediaTime(s.media_start + shown);
  }
  m_segment = m_segments.size();
  return S_OK;
}

HRESULT VideoTimeline::NextFrame(MovieSession* session, uint8_t* destination, size_t size, int64_t* start,
                                 int64_t* stop) {
  if (m_passThrough) return session->ProduceFrame(destination, size, start, stop);
  if (!m_started) {
    m_started = true;
    if (!EnterSegment(session, 0, !m_segments.empty() && m_segments[0].media_start <= 0)) return S_FALSE;
  }
  // Pictures no segment shows are passed over, a bounded number per request.
  for (int passed = 0; passed <= MovieSession::kMaxSamplesPerPicture;) {
    if (m_segment >= m_segments.size()) return S_FALSE;
    TimeValue64 time = 0, duration = 0;
    HRESULT hr = session->ProducePicture(destination, size, &time, &duration);
    if (hr == S_FALSE) {
      // The media ended inside this segment: the next one, if any, starts
      // from its own media time.
      if (!EnterSegment(session, m_segment + 1, false)) return S_FALSE;
      continue;
    }
    if (hr != S_OK) return hr;
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
      if (!EnterSegment(session, next, continuous)) return S_FALSE;
      if (!continuous) {
        ++passed;
        break;
      }
    }
  }
  return E_FAIL;
}

}  // namespace kestrel

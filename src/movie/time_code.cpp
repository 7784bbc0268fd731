#include "movie/time_code.h"

#include "movie/media_time.h"
#include "movie/movie_facts.h"

namespace kestrel {

bool TimeCodeMediaTime(int64_t decode_time, int32_t video_scale, int32_t time_code_scale, TimeValue* time) {
  if (video_scale == 0) return false;
  int64_t t = MulDiv64(decode_time, time_code_scale, video_scale);
  if (t < INT32_MIN || t > INT32_MAX) return false;
  *time = static_cast<TimeValue>(t);
  return true;
}

// The time code at the reading position. S_FALSE: the movie has no
// time-code track.
HRESULT MovieFacts::GetTimeCode(int32_t* drop_frame, uint8_t* hours, uint8_t* minutes, uint8_t* seconds,
                                uint8_t* frames) {
  if (!drop_frame || !hours || !minutes || !seconds || !frames) return E_POINTER;
  CAutoLock lock(&m_lock);
  if (!m_timeCodeHandler) return S_FALSE;
  if (m_videoTimeScale == 0 || m_timeCodeTimeScale <= 0) return E_FAIL;
  TimeValue time = 0;
  // A position that no 32-bit time reaches has no time code: it is not cut.
  if (!TimeCodeMediaTime(ReadingPosition(), m_videoTimeScale, m_timeCodeTimeScale, &time)) return E_FAIL;

  TimeCodeDef definition = {};
  TimeCodeRecord record = {};
  if (TCGetTimeCodeAtTime(m_timeCodeHandler, time, nullptr, &definition, &record, nullptr) != noErr) return E_FAIL;
  *drop_frame = (definition.flags & tcDropFrame) ? 1 : 0;
  *hours = record.t.hours;
  *minutes = record.t.minutes;
  *seconds = record.t.seconds;
  *frames = record.t.frames;
  return S_OK;
}

}  // namespace kestrel

// MovieSession: the filter's movie for the video side and the movie facts
// (codec name, size, depth, duration, frame count, frame rate), plus the time
// code. Every operation takes the session's re-entrant lock.
#ifndef KESTREL_ENGINE_MOVIE_SESSION_H
#define KESTREL_ENGINE_MOVIE_SESSION_H

#include <windows.h>

#include <cstdint>

#include "qtmedia.h"

namespace kestrel {

class MovieSession {
 public:
  MovieSession();
  ~MovieSession();
  MovieSession(const MovieSession&) = delete;
  MovieSession& operator=(const MovieSession&) = delete;

  // S_OK; S_FALSE when the movie has no video track (the movie is kept);
  // E_FAIL or E_OUTOFMEMORY, with the session closed.
  HRESULT Open(const char* path);
  HRESULT Close();

  HRESULT HasVideo(int32_t* has_video);
  HRESULT GetDuration(int64_t* duration);
  HRESULT GetFrameCount(uint32_t* frame_count);
  HRESULT GetCodecName(wchar_t* name);  // 260 characters
  HRESULT GetDepth(int32_t* depth);
  HRESULT GetFrameRate(double* frame_rate);
  // E_FAIL when no sample description is held.
  HRESULT GetDimensions(int32_t* width, int32_t* height);
  HRESULT GetTimeCode(int32_t* drop_frame, uint8_t* hours, uint8_t* minutes, uint8_t* seconds, uint8_t* frames);

  static constexpr size_t kCodecNameChars = 260;

 private:
  class Lock {
   public:
    explicit Lock(CRITICAL_SECTION* cs) : cs_(cs) { EnterCriticalSection(cs_); }
    ~Lock() { LeaveCriticalSection(cs_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    CRITICAL_SECTION* cs_;
  };

  HRESULT CountFrames();
  void ClearFacts();

  int32_t m_videoTimeScale = 0;
  ImageDescriptionHandle m_sampleDescription = nullptr;
  Media m_videoMedia = nullptr;
  MediaHandler m_timeCodeHandler = nullptr;
  int32_t m_timeCodeTimeScale = 0;
  wchar_t m_codecName[kCodecNameChars] = {};
  double m_frameRate = 0.0;
  int32_t m_depth = 0;
  int64_t m_currentDecodeTime = 0;
  int64_t m_targetTime = 0;
  uint32_t m_frameCount = 0;
  int64_t m_duration = 0;
  int32_t m_prerolling = 0;
  int32_t m_includeCurrentSample = 1;
  Movie m_movie = nullptr;
  CRITICAL_SECTION m_lock;
};

}  // namespace kestrel

#endif
